#include "tool_runner.hpp"

#include <fstream>

std::string transcript_file_path(const std::string &name, const std::string &suffix) {
    return (std::filesystem::path(TRANSCRIPT_DIR) / (name + suffix)).string();
}

std::string transcript_file(const std::string &name, const std::string &suffix) {
    return read_text_file(transcript_file_path(name, suffix));
}

ProcessResult ToolTest::run_transcript(const std::string &tool, const std::string &name) const {
    ProcessResult result = run_program({tool}, transcript_file(name, ".in"));
    EXPECT_FALSE(result.timed_out) << name;
    EXPECT_EQ(result.exit_status, 0) << name;
    EXPECT_EQ(result.output, transcript_file(name, ".out")) << name;
    return result;
}

void ToolTest::run_transcript_changing_nothing(const std::string &tool, const std::string &name,
                                               const zmod4710_sim::Backplane &backplane) const {
    arrange(backplane);
    run_transcript(tool, name);
    EXPECT_EQ(this->backplane(), backplane) << name;
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
