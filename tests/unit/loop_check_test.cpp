// ao_loop_check's dialogue against the recording library: the nine points
// written, each reading judged, the report, and the value the channel is left at.
#include "loop_check.h"

#include "memory_console.hpp"
#include "recording_module_library.hpp"
#include "typed_number.h"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

const std::string kReading = "Reading in mA, Enter to skip, q to end : \n";

struct LoopRun {
    std::string output;
    Calls calls;
    std::string unread;
};

LoopRun run(RecordingModuleLibrary &library, const std::string &input) {
    MemoryConsole memory(input);
    EXPECT_EQ(run_loop_check(library, memory.console()), 0) << input;
    return {memory.output(), library.calls, memory.unread_input()};
}

LoopRun run(const std::string &input) {
    RecordingModuleLibrary library;
    return run(library, input);
}

// The text from the report's heading on.
std::string report_of(const std::string &output) {
    const std::size_t at = output.find("Loop check of CH");
    return at == std::string::npos ? "" : output.substr(at);
}

// Each range's nine values, going up and coming down.
TEST(LoopCheckTool, WritesEachRangesNinePoints) {
    const std::pair<short, const char *> ranges[] = {
        {0, "0 1.25 2.5 3.75 5 3.75 2.5 1.25 0"},
        {1, "0 2.5 5 7.5 10 7.5 5 2.5 0"},
        {2, "-5 -2.5 0 2.5 5 2.5 0 -2.5 -5"},
        {3, "-10 -5 0 5 10 5 0 -5 -10"},
        {4, "4 8 12 16 20 16 12 8 4"},
        {5, "0 5 10 15 20 15 10 5 0"},
    };
    for (const auto &[range, values] : ranges) {
        RecordingModuleLibrary library;
        run(library, std::to_string(range) + "\n3\n\n\n\n\n\n\n\n\n\n\n\n");
        std::string written;
        for (const RecordingModuleLibrary::Write &write : library.writes) {
            EXPECT_EQ(write.range, range);
            EXPECT_EQ(write.channel, 3);
            written += (written.empty() ? "" : " ") + testing::PrintToString(write.value);
        }
        EXPECT_EQ(written, values) << "range " << range;
    }
}

// How a check ends short, a refused write, and answers asked again: each case
// ends with the report it gives, and what was written.
TEST(LoopCheckTool, EndsShortAndGoesOnAsTheUserAndTheModuleSay) {
    struct Case {
        const char *name;
        std::string input;
        std::vector<int> write_results;
        std::string report;
        std::size_t writes;
    };
    const std::string heading = "Loop check of CH 0 , 0 ~ 10V , tolerance 1.000 % of span \n"
                                "Point % span  AO value    Reading  Error %  Result \n";
    const std::string asked =
        "Set AO value to leave CH 0 at, between 0 ~ 10V, Enter to leave it : \n";
    const Case cases[] = {
        {"q at the third point",
         "1\n0\n1\n0.01\n2.5\nq\n\n",
         {},
         heading +
             "    1      0     0.000     0.0100    0.100  PASS \n"
             "    2     25     2.500     2.5000    0.000  PASS \n"
             "Largest error 0.100 % of span , at point 1 \n"
             "Hysteresis - , no point read going up and coming down \n"
             "Verdict PASS , 2 of 9 points read \n" +
             asked + "CH 0 left as the check left it \n",
         3},
        {"the input ends at the second point",
         "1\n0\n1\n0.2",
         {},
         heading + "    1      0     0.000     0.2000    2.000  FAIL \n"
                   "Largest error 2.000 % of span , at point 1 \n"
                   "Hysteresis - , no point read going up and coming down \n"
                   "Verdict FAIL , 1 of 9 points read \n",
         2},
        {"the first write refused",
         "1\n0\n1\n\n\n\n\n\n\n\n\n\n",
         {-4},
         heading +
             "    1      0     0.000          -        -  FAIL \n"
             "    2     25     2.500          -        -  skipped \n"
             "    3     50     5.000          -        -  skipped \n"
             "    4     75     7.500          -        -  skipped \n"
             "    5    100    10.000          -        -  skipped \n"
             "    6     75     7.500          -        -  skipped \n"
             "    7     50     5.000          -        -  skipped \n"
             "    8     25     2.500          -        -  skipped \n"
             "    9      0     0.000          -        -  skipped \n"
             "Largest error - , no point read \n"
             "Hysteresis - , no point read going up and coming down \n"
             "Verdict FAIL , 0 of 9 points read \n" +
             asked + "CH 0 left as the check left it \n",
         9},
        {"a value to leave beyond a float asked again, then refused",
         "1 0 \n1\n0\n2.4\n5\nq\n1e39\n5\n",
         {0, 0, 0, 0, -4},
         heading +
             "    1      0     0.000     0.0000    0.000  PASS \n"
             "    2     25     2.500     2.4000   -1.000  PASS \n"
             "    3     50     5.000     5.0000    0.000  PASS \n"
             "Largest error -1.000 % of span , at point 2 \n"
             "Hysteresis - , no point read going up and coming down \n"
             "Verdict PASS , 3 of 9 points read \n" +
             asked + "Not a number : type a number, or Enter alone \n" + asked +
             "zmod4710_WriteAO refused with result -4 \n",
         5},
    };
    for (const Case &c : cases) {
        RecordingModuleLibrary library;
        library.write_ao_results = c.write_results;
        const LoopRun result = run(library, c.input);
        EXPECT_EQ(report_of(result.output), c.report) << c.name;
        EXPECT_EQ(library.writes.size(), c.writes) << c.name;
    }
}

// No reading is too long to show: a meter's worth of digits or 300 of them.
TEST(LoopCheckTool, ShowsAReadingOfAnySizeWhole) {
    const std::string report = report_of(run("1\n0\n1\n-1e300\n").output);
    const std::string row = "    1      0     0.000 -1000000000000000052";
    const std::size_t at = report.find(row);
    ASSERT_NE(at, std::string::npos) << report;
    const std::string whole = report.substr(at, report.find('\n', at) + 1 - at);
    EXPECT_EQ(whole.substr(whole.size() - 8), "  FAIL \n");
    EXPECT_GT(whole.size(), 600u) << "the reading and its error, 301 digits each";
}

TEST(LoopCheckTool, AsksTheToleranceAgainUntilItIsAboveZeroAndAtMost100) {
    const LoopRun result = run("4\n1\n0\n-1\n100.5\nx\n0.5%\n100\n");
    const std::string prompt = "Set tolerance in % of span, Enter for 0.5 : \n";
    const std::string again = "The tolerance is a number above 0, at most 100 \n";
    EXPECT_EQ(result.output.substr(result.output.find(prompt)),
              prompt + again + prompt + again + prompt + again + prompt +
                  "Not a number : type a number, or Enter alone \n" + prompt +
                  "Type the number alone, without a unit \n" + prompt +
                  "Point 1 of 9 : 0% of span , AO 4.000 mA at CH 1 \n" + kReading +
                  "Loop check of CH 1 , 4 ~ 20mA , tolerance 100.000 % of span \n"
                  "Point % span  AO value    Reading  Error %  Result \n"
                  "Largest error - , no point read \n"
                  "Hysteresis - , no point read going up and coming down \n"
                  "Verdict FAIL , 0 of 9 points read \n");
}

// Refused answers before the check end the tool as the other tools end, and
// write nothing.
TEST(LoopCheckTool, ARefusedRangeOrChannelOrNoToleranceWritesNothing) {
    for (const char *input : {"6\n", "-1\n", "4\nx\n", "4\n1\n", "4\n1"}) {
        const LoopRun result = run(input);
        EXPECT_EQ(result.calls, Calls{"Init(0)"}) << input;
        EXPECT_EQ(result.output.substr(result.output.size() - 14), "invalid input\n") << input;
    }
    RecordingModuleLibrary none;
    none.module_slot = -1;
    EXPECT_EQ(run(none, "x\ny").unread, "\ny") << "one key, then the end";
}

TEST(TypedNumber, TellsANumberFromEverythingElseTypedForOne) {
    const std::pair<const char *, TypedNumber> lines[] = {
        {"", TYPED_NOTHING},         {" \t ", TYPED_NOTHING},     {"q", TYPED_QUIT},
        {" Q ", TYPED_QUIT},         {"q 1", TYPED_NO_NUMBER},    {"quit", TYPED_NO_NUMBER},
        {"12.003", TYPED_NUMBER},    {"  -1e-3\t", TYPED_NUMBER}, {"12.0 mA", TYPED_WITH_UNIT},
        {"12mA", TYPED_WITH_UNIT},   {"4.5%", TYPED_WITH_UNIT},   {"12 13", TYPED_TWO_NUMBERS},
        {"12,003", TYPED_NO_NUMBER}, {"nan", TYPED_NO_NUMBER},    {"inf", TYPED_NO_NUMBER},
        {"1e999", TYPED_NO_NUMBER},  {"0x10", TYPED_WITH_UNIT},   {"mA 12", TYPED_NO_NUMBER},
    };
    for (const auto &[line, typed] : lines) {
        double value = 0.0;
        EXPECT_EQ(read_typed_number(line, value), typed) << '"' << line << '"';
    }
}

} // namespace
