// ao_basic_info's dialogue against the recording library: the information shown
// once, then pass after pass of calibration read, write and report.
#include "basic_info.h"

#include "memory_console.hpp"
#include "recording_module_library.hpp"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

const std::string kMenu = "Select Output Range : \n"
                          "0 : 0 ~ 5V \n"
                          "1 : 0 ~ 10V \n"
                          "2 : +/- 5V \n"
                          "3 : +/- 10V \n"
                          "4 : 4 ~ 20mA \n"
                          "5 : 0 ~ 20mA \n";
const std::string kChannelPrompt = "Set output channel : \n"
                                   "\t For ZM-4710 Channel index 0~7  \n"
                                   "\t For ZM-4704 Channel index 0~3  \n";
const std::string kRepeatQuestion = "Press 'q' Or 'Q' to Exit.\nOr else to repeat again\n\n";

struct BasicInfoRun {
    int status;
    std::string output;
    std::string unread;
    Calls calls;
};

BasicInfoRun run(RecordingModuleLibrary &library, const std::string &input) {
    MemoryConsole memory(input);
    BasicInfoRun result;
    result.status = run_basic_info(library, memory.console());
    result.output = memory.output();
    result.unread = memory.unread_input();
    result.calls = library.calls;
    return result;
}

BasicInfoRun run(const std::string &input) {
    RecordingModuleLibrary library;
    return run(library, input);
}

TEST(BasicInfoTool, ShowsTheInformationOnceThenReportsThePass) {
    RecordingModuleLibrary library;
    library.lib_version = 0x0102;
    library.lib_date = "Dec  8 2026";
    library.firmware = 5;
    library.gain = 500;
    library.offset = -12;
    const BasicInfoRun result = run(library, "2\n1.5\n1\nq\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "ZM-4710 on slot 0 \n"
                             "Library Version 0102 \n"
                             "Library Build Date Dec  8 2026 \n"
                             "Farmware Version 5 \n" +
                                 kMenu +
                                 "Please make sure the Jumper is in voltage operation\n"
                                 "Set AO value, between +/- 5V \n" +
                                 kChannelPrompt +
                                 "CH 1 ,Range +/- 5V ,Gain 500 ,Offset -12 \n"
                                 "Output Value = AO   1.500 \n" +
                                 kRepeatQuestion);
    EXPECT_EQ(result.calls,
              (Calls{"Init(0)", "GetLibVersion()", "GetLibDate()", "GetFirmwareVersion(0)",
                     "ReadAO_GainOffset(0, 1, 2)", "WriteAO(0, 1, 2, 1.5)"}));
    EXPECT_EQ(result.unread, "\n");
}

TEST(BasicInfoTool, ShowsTheVersionWithAtLeastFourUpperCaseHexDigits) {
    const std::pair<int, const char *> versions[] = {
        {0, "Library Version 0000 \n"},
        {0xa, "Library Version 000A \n"},
        {0xbeef, "Library Version BEEF \n"},
        {0x12345, "Library Version 12345 \n"},
    };
    for (const auto &[version, line] : versions) {
        RecordingModuleLibrary library;
        library.lib_version = version;
        EXPECT_NE(run(library, "9\n").output.find(line), std::string::npos) << line;
    }
}

TEST(BasicInfoTool, ShowsATopBitGainAsPositiveAndATopBitOffsetAsNegative) {
    RecordingModuleLibrary library;
    library.gain = 0xFFFF;
    library.offset = -32768;
    const BasicInfoRun result = run(library, "5 -3.25 3 Q");
    EXPECT_NE(result.output.find("CH 3 ,Range 0 ~ 20mA ,Gain 65535 ,Offset -32768 \n"
                                 "Output Value = AO  -3.250 \n"),
              std::string::npos);
}

TEST(BasicInfoTool, RepeatsUntilQOrCapitalQ) {
    const BasicInfoRun result = run("0 1 0\ny\n1 2 1\nn\n2 3 2\n\n   x\n3 4 3\nQ\n4 5 4\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(
        result.calls,
        (Calls{"Init(0)", "GetLibVersion()", "GetLibDate()", "GetFirmwareVersion(0)",
               "ReadAO_GainOffset(0, 0, 0)", "WriteAO(0, 0, 0, 1)", "ReadAO_GainOffset(0, 1, 1)",
               "WriteAO(0, 1, 1, 2)", "ReadAO_GainOffset(0, 2, 2)", "WriteAO(0, 2, 2, 3)",
               "ReadAO_GainOffset(0, 3, 3)", "WriteAO(0, 3, 3, 4)"}));
    EXPECT_EQ(count_of(result.output, "Library Version"), 1u);
    EXPECT_EQ(count_of(result.output, kRepeatQuestion), 4u);
    EXPECT_EQ(result.unread, "\n4 5 4\n");

    EXPECT_EQ(run("0 1 0 q").calls.size(), 6u) << "lower-case q ends too";
}

TEST(BasicInfoTool, TheRepeatAnswerTakesOneCharacterAndLeavesTheRestOfItsLine) {
    const BasicInfoRun next_answers = run("0 1 0\nn 4 12 6\nq\n");
    EXPECT_EQ(next_answers.calls.back(), "WriteAO(0, 6, 4, 12)");

    const BasicInfoRun word = run("0 1 0\nyes\n1 2 1\n");
    EXPECT_EQ(word.calls.back(), "WriteAO(0, 0, 0, 1)") << "\"es\" is not a range";
    const std::string ending = kRepeatQuestion + kMenu + "invalid input\n";
    EXPECT_EQ(word.output.substr(word.output.size() - ending.size()), ending);
}

TEST(BasicInfoTool, ARefusedRangeInTheThirdPassEndsAfterTwoPasses) {
    const BasicInfoRun result = run("0 1 0 y 1 2 1 y 6 3 2 y 2 1 1\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(count_of(result.output, "Output Value = AO"), 2u);
    EXPECT_EQ(result.calls.back(), "WriteAO(0, 1, 1, 2)");
    EXPECT_EQ(result.output.substr(result.output.size() - kMenu.size() - 14),
              kMenu + "invalid input\n");
    EXPECT_EQ(result.unread, " 3 2 y 2 1 1\n") << "no key wait after a refusal";
}

TEST(BasicInfoTool, AnAnswerThatCannotBeReadEndsWithoutAnotherWrite) {
    for (const char *input : {"0 1 0 y 1 inf 1", "0 1 0 y 1 2 x", "0 1 0 y 1 2", "0 1 0 y nan"}) {
        const BasicInfoRun result = run(input);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.calls.back(), "WriteAO(0, 0, 0, 1)") << input;
        EXPECT_EQ(result.output.substr(result.output.size() - 14), "invalid input\n") << input;
    }
}

TEST(BasicInfoTool, TheEndOfInputAtTheRepeatQuestionEndsTheTool) {
    const BasicInfoRun result = run("3 -2.5 7");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.calls.back(), "WriteAO(0, 7, 3, -2.5)");
    EXPECT_EQ(result.output.substr(result.output.size() - kRepeatQuestion.size()), kRepeatQuestion);
}

TEST(BasicInfoTool, ShowsZeroForWhatTheLibraryLeavesUnfilled) {
    RecordingModuleLibrary library;
    library.fills_outputs = false;
    const BasicInfoRun result = run(library, "1 2 3 q");
    EXPECT_NE(result.output.find("Library Build Date  \nFarmware Version 0 \n"), std::string::npos);
    EXPECT_NE(result.output.find("CH 3 ,Range 0 ~ 10V ,Gain 0 ,Offset 0 \n"), std::string::npos);
}

TEST(BasicInfoTool, ShowsAtMostNineteenCharactersOfAnUnterminatedDate) {
    RecordingModuleLibrary library;
    library.lib_date = "0123456789ABCDEFGHIJKLMNOP"; // fills all 20 bytes, no terminator
    const BasicInfoRun result = run(library, "9");
    EXPECT_NE(result.output.find("Library Build Date 0123456789ABCDEFGHI \n"), std::string::npos);
}

TEST(BasicInfoTool, ARefusedQueryShowsItsRefusalInPlaceOfWhatItWouldHaveGiven) {
    RecordingModuleLibrary library;
    library.results = {{"GetLibDate", -3}, {"GetFirmwareVersion", 4}};
    const BasicInfoRun result = run(library, "9");
    EXPECT_EQ(result.output, "ZM-4710 on slot 0 \n"
                             "Library Version 0100 \n"
                             "zmod4710_GetLibDate refused with result -3 \n"
                             "zmod4710_GetFirmwareVersion refused with result 4 \n" +
                                 kMenu + "invalid input\n");
}

TEST(BasicInfoTool, ARefusedReadOrWriteShowsNoOutputAndThePassesGoOn) {
    RecordingModuleLibrary library;
    library.gain = 500;
    library.offset = -12;
    library.results = {{"ReadAO_GainOffset", -1}};
    BasicInfoRun result = run(library, "2 1.5 9 y 9");
    EXPECT_EQ(library.calls_after_scan(),
              (Calls{"GetLibVersion()", "GetLibDate()", "GetFirmwareVersion(0)",
                     "ReadAO_GainOffset(0, 9, 2)"}))
        << "nothing is written without its calibration";
    const std::string pass_end = "zmod4710_ReadAO_GainOffset refused with result -1 \n" +
                                 kRepeatQuestion + kMenu + "invalid input\n";
    EXPECT_EQ(result.output.substr(result.output.size() - pass_end.size()), pass_end);

    RecordingModuleLibrary refusing_writes;
    refusing_writes.gain = 500;
    refusing_writes.offset = -12;
    refusing_writes.results = {{"WriteAO", -2}};
    result = run(refusing_writes, "2 1.5 1 y 9");
    EXPECT_NE(result.output.find("CH 1 ,Range +/- 5V ,Gain 500 ,Offset -12 \n"
                                 "zmod4710_WriteAO refused with result -2 \n" +
                                 kRepeatQuestion + kMenu),
              std::string::npos);
    EXPECT_EQ(result.output.find("Output Value"), std::string::npos);
}

TEST(BasicInfoTool, WithoutAModuleSaysSoAndReadsTwoCharacters) {
    RecordingModuleLibrary library;
    library.module_slot = -1;
    const BasicInfoRun result = run(library, "\nxyz");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "There is no ZM-4710 on the backplane\n");
    EXPECT_EQ(result.calls.size(), 8u);
    EXPECT_EQ(result.unread, "yz");
}

TEST(BasicInfoTool, UsesTheSlotItFoundForEveryCall) {
    RecordingModuleLibrary library;
    library.module_slot = 6;
    const BasicInfoRun result = run(library, "4 20 2 q");
    EXPECT_EQ(result.output.substr(0, 19), "ZM-4710 on slot 6 \n");
    EXPECT_EQ(library.calls_after_scan(),
              (Calls{"GetLibVersion()", "GetLibDate()", "GetFirmwareVersion(6)",
                     "ReadAO_GainOffset(6, 2, 4)", "WriteAO(6, 2, 4, 20)"}));
}

} // namespace
