// ao_power_on's whole dialogue against the recording library: every byte shown,
// every call made, every character read.
#include "power_on.h"

#include "memory_console.hpp"
#include "recording_module_library.hpp"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

const std::string kDialogueToMode = "ZM-4710 on slot 0 \n"
                                    "Select Output Range : \n"
                                    "0 : 0~ 5V \n"
                                    "1 : 0~ 10V \n"
                                    "2 : +/- 5V \n"
                                    "3 : +/- 10V \n"
                                    "4 : 4~ 20mA \n"
                                    "5 : 0~ 20mA \n"
                                    "Please make sure the Jumper is in current operation\n"
                                    "Set AO value, between 4~ 20mA \n"
                                    "Set output channel : \n"
                                    "\t For ZM-4710 Channel index 0~7  \n"
                                    "\t For ZM-4704 Channel index 0~3  \n"
                                    "Set Power on mode : \n"
                                    "1 : Power on Value \n"
                                    "2 : Power on as last output value(Retentive \n";

struct PowerOnRun {
    int status;
    std::string output;
    std::string unread;
    Calls calls;
    Calls calls_after_scan;
};

PowerOnRun run(const std::string &input, int module_slot = 0,
               const std::map<std::string, int> &results = {}) {
    RecordingModuleLibrary library;
    library.module_slot = module_slot;
    library.results = results;
    MemoryConsole memory(input);
    PowerOnRun result;
    result.status = run_power_on(library, memory.console());
    result.output = memory.output();
    result.unread = memory.unread_input();
    result.calls = library.calls;
    result.calls_after_scan = library.calls_after_scan();
    return result;
}

TEST(PowerOnTool, PowerOnValueModeWritesOutputThenPowerOnValue) {
    const PowerOnRun result = run("4\n12\n0\n1\n4\n\nleft");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, kDialogueToMode +
                                 "Set a different AO value for Power On value , between 4~ 20mA \n"
                                 "Now the ZM-4710 should output 12.0000 ma at CH 0 \n"
                                 "To test Power on Value, please Reset the Power of PAC \n"
                                 "And the Output will become 4.0000 ma at CH 0 \n");
    EXPECT_EQ(result.calls, (Calls{"Init(0)", "SetPowerOnEnStatus(0, 1)", "WriteAO(0, 0, 4, 12)",
                                   "WritePowerOn_AO(0, 0, 4, 4)"}));
    EXPECT_EQ(result.unread, "left") << "two keys: the last answer's line end, then the user's";
}

TEST(PowerOnTool, RetentiveModeWritesOnlyTheOutput) {
    const PowerOnRun result = run("1\n2.5\n3\n2\n\n\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.calls_after_scan,
              (Calls{"SetPowerOnEnStatus(0, 2)", "WriteAO(0, 3, 1, 2.5)"}));
    const std::string tail = "Set Power on mode : \n"
                             "1 : Power on Value \n"
                             "2 : Power on as last output value(Retentive \n"
                             "To test Power on as last output value(Retentive, please Reset the "
                             "Power of PAC \n"
                             "And the Output will hold at 2.5000 V at CH 3 \n";
    ASSERT_GE(result.output.size(), tail.size());
    EXPECT_EQ(result.output.substr(result.output.size() - tail.size()), tail);
    EXPECT_NE(result.output.find("Please make sure the Jumper is in voltage operation\n"
                                 "Set AO value, between 0~ 10V \n"),
              std::string::npos);
    EXPECT_EQ(result.unread, "\n");
}

TEST(PowerOnTool, VoltageRangesReportInVoltsAndCurrentRangesInMilliamperes) {
    EXPECT_NE(run("3\n-9.5\n7\n1\n0.125\n")
                  .output.find("Now the ZM-4710 should output -9.5000 V at CH 7 \n"
                               "To test Power on Value, please Reset the Power of PAC \n"
                               "And the Output will become 0.1250 V at CH 7 \n"),
              std::string::npos);
    EXPECT_NE(run("5\n20\n1\n2\n").output.find("And the Output will hold at 20.0000 ma at CH 1 \n"),
              std::string::npos);
}

TEST(PowerOnTool, RefusedModeEndsBeforeAnyWrite) {
    for (const char *mode : {"0", "3", "-1", "one", "1.5", ""}) {
        const PowerOnRun result = run(std::string("4\n12\n0\n") + mode + "\n4\n");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, kDialogueToMode + "invalid input\n") << "mode: " << mode;
        EXPECT_EQ(result.calls, Calls{"Init(0)"}) << "mode: " << mode;
    }
}

TEST(PowerOnTool, UnreadablePowerOnValueEndsBeforeAnyWrite) {
    for (const char *value : {"nan", "inf", "1e39", "four", ""}) {
        const PowerOnRun result = run(std::string("4\n12\n0\n1\n") + value + "\n");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output,
                  kDialogueToMode +
                      "Set a different AO value for Power On value , between 4~ 20mA \n"
                      "invalid input\n")
            << "value: " << value;
        EXPECT_EQ(result.calls, Calls{"Init(0)"}) << "value: " << value;
    }
}

TEST(PowerOnTool, RefusedDialogueEndsAtOnceWithoutWaitingForAKey) {
    for (const char *input : {"6\nkey", "-1\nkey", "65536\nkey", "0\nx\nkey", "0\n1\nx\nkey", ""}) {
        const PowerOnRun result = run(input);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.calls, Calls{"Init(0)"}) << "input: " << input;
        const std::string output = result.output;
        EXPECT_EQ(output.substr(output.size() - 14), "invalid input\n") << "input: " << input;
        EXPECT_EQ(output.find("Set Power on mode"), std::string::npos);
        if (std::string(input).find("key") != std::string::npos) {
            EXPECT_EQ(result.unread.substr(result.unread.size() - 3), "key");
        }
    }
}

TEST(PowerOnTool, ARefusedCallIsToldAndNothingAfterItIsWrittenOrShownAsDone) {
    const std::string mode1 = "4\n12\n0\n1\n4\n\nleft";
    const std::string mode1_dialogue =
        kDialogueToMode + "Set a different AO value for Power On value , between 4~ 20mA \n";
    struct Case {
        std::string input;
        std::map<std::string, int> results;
        Calls calls_after_scan;
        std::string output;
    };
    const Case cases[] = {
        {mode1,
         {{"SetPowerOnEnStatus", -2}},
         {"SetPowerOnEnStatus(0, 1)"},
         mode1_dialogue + "zmod4710_SetPowerOnEnStatus refused with result -2 \n"},
        {mode1,
         {{"WriteAO", -1}},
         {"SetPowerOnEnStatus(0, 1)", "WriteAO(0, 0, 4, 12)"},
         mode1_dialogue + "zmod4710_WriteAO refused with result -1 \n"
                          "Power on mode is set to 1 \n"},
        {mode1,
         {{"WritePowerOn_AO", 7}},
         {"SetPowerOnEnStatus(0, 1)", "WriteAO(0, 0, 4, 12)", "WritePowerOn_AO(0, 0, 4, 4)"},
         mode1_dialogue + "Now the ZM-4710 should output 12.0000 ma at CH 0 \n"
                          "zmod4710_WritePowerOn_AO refused with result 7 \n"
                          "Power on mode is set to 1 \n"},
        {"4\n12\n0\n2\n\nleft",
         {{"WriteAO", -1}},
         {"SetPowerOnEnStatus(0, 2)", "WriteAO(0, 0, 4, 12)"},
         kDialogueToMode + "zmod4710_WriteAO refused with result -1 \n"
                           "Power on mode is set to 2 \n"},
    };
    for (const Case &refusal : cases) {
        const PowerOnRun result = run(refusal.input, 0, refusal.results);
        const std::string refused = refusal.results.begin()->first;
        EXPECT_EQ(result.status, 0) << refused;
        EXPECT_EQ(result.calls_after_scan, refusal.calls_after_scan) << refused;
        EXPECT_EQ(result.output, refusal.output) << refused;
        EXPECT_EQ(result.unread, "left") << refused << ": both keys are still waited for";
    }
}

TEST(PowerOnTool, ReportsTheSlotWhereTheModuleAnswers) {
    const PowerOnRun result = run("6\n", 5);
    EXPECT_EQ(result.output.substr(0, 19), "ZM-4710 on slot 5 \n");
    EXPECT_EQ(result.calls,
              (Calls{"Init(0)", "Init(1)", "Init(2)", "Init(3)", "Init(4)", "Init(5)"}));
}

TEST(PowerOnTool, WithoutAModuleSaysSoAndWaitsForOneKey) {
    const PowerOnRun result = run("ab", -1);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "There is no ZM-4710 on the backplane\n");
    EXPECT_EQ(result.calls.size(), 8u);
    EXPECT_EQ(result.unread, "b");

    EXPECT_EQ(run("", -1).status, 0) << "a closed input does not hold the tool";
}

TEST(PowerOnTool, ACompletedRunEndsAtTheEndOfInputToo) {
    const PowerOnRun result = run("0 1 0 2");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.calls_after_scan, (Calls{"SetPowerOnEnStatus(0, 2)", "WriteAO(0, 0, 0, 1)"}));
    EXPECT_EQ(result.unread, "");
}

} // namespace
