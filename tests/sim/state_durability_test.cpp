// The simulated module's memory is one file: programs killed in the middle of a
// write, and many programs writing at once, must never leave it broken or lose
// a write.
#include "backplane.hpp"
#include "sim_library_probe.hpp"
#include "simulated_backplane_test.hpp"
#include "state_file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <sstream>
#include <thread>

namespace zmod4710_sim {
namespace {

const std::string kProbe = SIM_LIBRARY_PROBE_PATH;

class StateDurability : public SimulatedBackplaneTest {};

// The last write number a probe announced, or 0.
int last_announced(const std::string &output) {
    std::istringstream lines(output);
    int last = 0;
    for (int number = 0; lines >> number;) {
        last = number;
    }
    return last;
}

TEST_F(StateDurability, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewValue) {
    constexpr int kKills = 200;
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delay_us(0, 20000);
    float held = 0.0f; // what the file holds for channel 0 before each writer
    int written = 0;   // the number of the last write that may have happened
    int found_new = 0; // kills after which the file held the write under way
    for (int kill = 0; kill < kKills && written < 9000; ++kill) {
        ChildProcess writer(
            {kProbe, "write", "0", "0", std::to_string(9999 - written), std::to_string(written)});
        // Kill it at a random moment after it has begun to write, however long it
        // took to start (under an emulator, longer than the writes themselves).
        ASSERT_TRUE(
            writer.wait_for_output(std::to_string(written + 1) + "\n", std::chrono::seconds(30)));
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
        writer.kill();
        const ProcessResult result = writer.finish();

        Backplane backplane;
        ASSERT_NO_THROW(backplane = state_file.load()) << "after kill " << kill;
        const float output = backplane.slots[0]->channels[0].output;
        // The write under way is the last one announced: the file holds its value,
        // or the one before it.
        const int announced = last_announced(result.output);
        ASSERT_GT(announced, written) << "kill " << kill;
        const float before = announced == written + 1 ? held : write_value(announced - 1);
        EXPECT_TRUE(output == write_value(announced) || output == before)
            << "kill " << kill << ": holds " << output << " after write " << announced
            << " was announced";
        found_new += output == write_value(announced) ? 1 : 0;
        held = output;
        written = announced;
    }
    std::cout << "kills survived: " << kKills << " (the write under way kept after " << found_new
              << ", the one before it after the rest), writes announced: " << written << "\n";

    // The next writer removes what killed writers left, and only their files.
    const std::filesystem::path not_a_file =
        directory.path() / ".backplane.json.0123456789abcdef0123456789abcdef.tmp";
    std::filesystem::create_directory(not_a_file);
    EXPECT_EQ(run_program({kProbe, "write", "0", "1", "1"}, "").exit_status, 0);
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(directory.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{not_a_file.filename().string(), "backplane.json",
                                               "backplane.json.lock"}));
}

TEST_F(StateDurability, SixteenProgramsWritingAtOnceLoseNoWrite) {
    constexpr int kWritesEach = 50;
    Backplane backplane = factory_backplane();
    backplane.slots[3] = factory_module(ModuleKind::zm4710);
    state_file.store(backplane);
    const int slots[] = {0, 3};
    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (int slot : slots) {
        for (int channel = 0; channel < 8; ++channel) {
            // Each writer ends on a value of its own.
            const int first = (slot * 8 + channel) * kWritesEach;
            writers.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{
                kProbe, "write", std::to_string(slot), std::to_string(channel),
                std::to_string(kWritesEach), std::to_string(first)}));
        }
    }
    for (const auto &writer : writers) {
        const ProcessResult result = writer->finish(std::chrono::seconds(240));
        EXPECT_EQ(result.exit_status, 0) << result.errors;
    }
    const Backplane after = state_file.load();
    for (int slot : slots) {
        for (int channel = 0; channel < 8; ++channel) {
            const int last = (slot * 8 + channel + 1) * kWritesEach;
            EXPECT_EQ(after.slots[static_cast<std::size_t>(slot)]
                          ->channels[static_cast<std::size_t>(channel)]
                          .output,
                      write_value(last))
                << "slot " << slot << " channel " << channel;
        }
    }
    std::cout << "writes under load: " << writers.size() * kWritesEach << ", none lost\n";
}

} // namespace
} // namespace zmod4710_sim

#ifndef _WIN32
namespace zmod4710_sim {
namespace {

// A folder link on the state's path, pointed elsewhere while programs write
// through it: each write reads and writes one folder's backplane, never one
// folder's into the other.
TEST_F(StateDurability, AFolderLinkRepointedDuringWritesNeverMixesTwoBackplanes) {
    const std::filesystem::path folders[] = {directory.path() / "a", directory.path() / "b"};
    const std::int16_t firmware[] = {111, 222};
    for (int index = 0; index < 2; ++index) {
        std::filesystem::create_directory(folders[index]);
        Backplane backplane = factory_backplane();
        backplane.slots[0]->firmware = firmware[index];
        StateFile(folders[index] / "backplane.json").store(backplane);
    }
    const std::filesystem::path link = directory.path() / "current";
    std::filesystem::create_directory_symlink("a", link);
    ScopedEnvironment through_link("ZMOD4710_SIM_STATE", (link / "backplane.json").string());

    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (int channel = 0; channel < 4; ++channel) {
        writers.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{kProbe, "write", "0", std::to_string(channel), "50"}));
    }
    std::atomic<bool> writing = true;
    std::thread flipper([&] {
        for (int flip = 0; writing; ++flip) {
            const std::filesystem::path next = directory.path() / "next";
            std::filesystem::create_directory_symlink(flip % 2 == 0 ? "b" : "a", next);
            std::filesystem::rename(next, link);
        }
    });
    for (const auto &writer : writers) {
        const ProcessResult result = writer->finish(std::chrono::seconds(120));
        EXPECT_EQ(result.exit_status, 0) << result.errors;
    }
    writing = false;
    flipper.join();
    for (int index = 0; index < 2; ++index) {
        EXPECT_EQ(StateFile(folders[index] / "backplane.json").load().slots[0]->firmware,
                  firmware[index])
            << folders[index];
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folders[index]),
                                std::filesystem::directory_iterator()),
                  2)
            << "nothing but the state and its lock in " << folders[index];
    }
}

} // namespace
} // namespace zmod4710_sim
#endif
