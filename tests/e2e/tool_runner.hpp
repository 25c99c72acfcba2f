// The built tools run against a simulated backplane in a state file of the
// test's own, with their whole transcripts compared.
#pragma once

#include "simulated_backplane_test.hpp"

#include <gtest/gtest.h>

#include <string>

// tests/e2e/transcripts/NAME.in is typed, NAME.out is what the tool must show.
std::string transcript_file(const std::string &name, const std::string &suffix);
std::string transcript_file_path(const std::string &name, const std::string &suffix);

class ToolTest : public SimulatedBackplaneTest {
protected:
    // Runs tool with the transcript's input and expects exactly its output and
    // exit status 0.
    ProcessResult run_transcript(const std::string &tool, const std::string &name) const;
    // The same on the backplane given, which the module must still hold afterwards.
    void run_transcript_changing_nothing(const std::string &tool, const std::string &name,
                                         const zmod4710_sim::Backplane &backplane) const;
};

#ifdef __linux__
// The tools find the module library by its file name and call it by its C
// names, so another library with the same interface serves in its place: here
// one that records each call it gets.
class ToolTestWithRecordingLibrary : public ToolTest {
protected:
    std::filesystem::path log = directory.path() / "calls.log";
    ScopedEnvironment library_path{"LD_LIBRARY_PATH", RECORDING_LIBRARY_DIR};
    ScopedEnvironment call_log{"ZMOD4710_CALL_LOG", log.string()};

    std::vector<std::string> recorded_calls() const;
};
#endif
