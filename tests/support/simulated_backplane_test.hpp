// A test fixture with a simulated backplane of its own: a state file in a new
// folder, named by ZMOD4710_SIM_STATE for the library and every program started.
#pragma once

#include "backplane.hpp"
#include "state_file.hpp"
#include "test_environment.hpp"

#include <gtest/gtest.h>

class SimulatedBackplaneTest : public testing::Test {
protected:
    // file_name: the state file's place within the test's folder.
    explicit SimulatedBackplaneTest(const std::filesystem::path &file_name = "backplane.json")
        : state_path(directory.path() / file_name),
          state_variable("ZMOD4710_SIM_STATE", state_path.string()), state_file(state_path) {}

    TemporaryDirectory directory;
    std::filesystem::path state_path;
    ScopedEnvironment state_variable;
    zmod4710_sim::StateFile state_file;

    void arrange(const zmod4710_sim::Backplane &backplane) const { state_file.store(backplane); }
    zmod4710_sim::Backplane backplane() const { return state_file.load(); }
    zmod4710_sim::Channel channel(int slot, int index) const {
        const zmod4710_sim::Backplane state = backplane();
        const auto &module = state.slots.at(static_cast<std::size_t>(slot));
        if (!module) {
            ADD_FAILURE() << "no module in slot " << slot;
            return {};
        }
        return module->channels.at(static_cast<std::size_t>(index));
    }
};
