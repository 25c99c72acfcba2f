#include "tool_runner.hpp"

#include <fstream>

std::string transcript_file(const std::string &name, const std::string &suffix) {
    return read_text_file(std::filesystem::path(TRANSCRIPT_DIR) / (name + suffix));
}

zmod4710_sim::Channel ToolTest::channel(int slot, int index) const {
    const zmod4710_sim::Backplane state = backplane();
    const auto &module = state.slots.at(static_cast<std::size_t>(slot));
    if (!module) {
        ADD_FAILURE() << "no module in slot " << slot;
        return {};
    }
    return module->channels.at(static_cast<std::size_t>(index));
}

ProcessResult ToolTest::run_transcript(const std::string &tool, const std::string &name) const {
    ProcessResult result = run_program({tool}, transcript_file(name, ".in"));
    EXPECT_FALSE(result.timed_out) << name;
    EXPECT_EQ(result.exit_status, 0) << name;
    EXPECT_EQ(result.output, transcript_file(name, ".out")) << name;
    return result;
}

#ifdef __linux__
std::vector<std::string> ToolTestWithRecordingLibrary::recorded_calls() const {
    std::ifstream file(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}
#endif
