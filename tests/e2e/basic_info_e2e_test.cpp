// ao_basic_info as built, on the simulated module: what it shows, the
// calibration it reads, and what the module holds afterwards.
#include "tool_runner.hpp"

namespace {

using namespace zmod4710_sim;

const std::string kTool = AO_BASIC_INFO_PATH;

class BasicInfoTool : public ToolTest {
protected:
    // A module whose calibration for channel 1 in the +/- 5V range is gain 500, offset -12.
    void arrange_trimmed_channel_1() {
        Backplane backplane = factory_backplane();
        backplane.slots[0]->channels[1].calibration[2] = {500, -12};
        arrange(backplane);
    }
};

TEST_F(BasicInfoTool, ShowsTheCalibrationOfTheChannelItDrives) {
    arrange_trimmed_channel_1();
    const ProcessResult result = run_transcript(kTool, "basic_info/worked_example");
    EXPECT_EQ(result.errors, "");
    const Channel written = channel(0, 1);
    EXPECT_EQ(written.range, 2);
    EXPECT_EQ(written.output, 1.5f);
}

TEST_F(BasicInfoTool, EachPassShowsItsOwnChannelAndRangeAndTheModuleKeepsTheLastValues) {
    arrange_trimmed_channel_1();
    // The transcript shows the factory calibration of the channels not trimmed.
    ASSERT_EQ(factory_calibration(7, 4), (Calibration{32711, 11}));
    ASSERT_EQ(factory_calibration(1, 0), (Calibration{32565, -2}));
    run_transcript(kTool, "basic_info/three_passes");
    EXPECT_EQ(channel(0, 7).range, 4);
    EXPECT_EQ(channel(0, 7).output, 12.5f);
    EXPECT_EQ(channel(0, 1).range, 0);
    EXPECT_EQ(channel(0, 1).output, 5.0f) << "9 V saturates at the top of 0 ~ 5V";
}

TEST_F(BasicInfoTool, ARefusedRangeEndsTheToolAfterTheCompletedPasses) {
    run_transcript(kTool, "basic_info/refused_range_in_second_pass");
    EXPECT_EQ(channel(0, 0).output, -2.5f);
}

TEST_F(BasicInfoTool, AClosedInputEndsTheToolAtTheRepeatQuestion) {
    ASSERT_EQ(factory_calibration(2, 5), (Calibration{32867, 15}));
    run_transcript(kTool, "basic_info/input_ends_at_repeat_question");
    EXPECT_EQ(channel(0, 2).output, 10.0f);
}

TEST_F(BasicInfoTool, WithoutAModuleSaysSo) {
    Backplane backplane;
    backplane.slots[2] = factory_module(ModuleKind::other);
    arrange(backplane);
    run_transcript(kTool, "basic_info/no_module");
}

TEST_F(BasicInfoTool, ShowsEachPromptBeforeWaitingForItsAnswer) {
    ChildProcess tool({kTool});
    const std::pair<const char *, const char *> steps[] = {
        {"5 : 0 ~ 20mA \n", "4\n"},
        {"Set AO value, between 4 ~ 20mA \n", "6\n"},
        {"\t For ZM-4704 Channel index 0~3  \n", "5\n"},
        {"Or else to repeat again\n\n", "q\n"},
    };
    for (const auto &[prompt, answer] : steps) {
        ASSERT_TRUE(tool.wait_for_output(prompt)) << "never showed: " << prompt;
        tool.write_input(answer);
    }
    EXPECT_EQ(tool.finish().exit_status, 0);
    EXPECT_EQ(channel(0, 5).output, 6.0f);
}

TEST_F(BasicInfoTool, TellsThatTheModuleRefusedAChannelItLacksAndWritesNothing) {
    Backplane zm4704_in_slot_2;
    zm4704_in_slot_2.slots[2] = factory_module(ModuleKind::zm4704);
    // Channel 6 of four.
    run_transcript_changing_nothing(kTool, "basic_info/refused_channel", zm4704_in_slot_2);
}

#ifdef __linux__
class BasicInfoToolWithAnotherLibrary : public ToolTestWithRecordingLibrary {};

TEST_F(BasicInfoToolWithAnotherLibrary, QueriesOnceThenReadsTheCalibrationBeforeEachWrite) {
    const ProcessResult result = run_program({kTool}, "2 1.5 1 y 5 3 0 q\n");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(recorded_calls(),
              (std::vector<std::string>{
                  "zmod4710_Init(0)", "zmod4710_GetLibVersion()", "zmod4710_GetLibDate()",
                  "zmod4710_GetFirmwareVersion(0)", "zmod4710_ReadAO_GainOffset(0, 1, 2)",
                  "zmod4710_WriteAO(0, 1, 2, 1.5)", "zmod4710_ReadAO_GainOffset(0, 0, 5)",
                  "zmod4710_WriteAO(0, 0, 5, 3)"}));
    EXPECT_NE(result.output.find("Library Version 0ABC \n"
                                 "Library Build Date Jan 02 2025 \n"
                                 "Farmware Version 7 \n"),
              std::string::npos);
    EXPECT_NE(result.output.find("CH 1 ,Range +/- 5V ,Gain 500 ,Offset -12 \n"
                                 "Output Value = AO   1.500 \n"),
              std::string::npos);
}
#endif

} // namespace
