// ao_power_on as built, on the simulated module: what the user sees, what the
// module holds afterwards, and what the module library is asked.
#include "tool_runner.hpp"

#ifdef __linux__
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using namespace zmod4710_sim;

const std::string kTool = AO_POWER_ON_PATH;

class PowerOnTool : public ToolTest {};

TEST_F(PowerOnTool, PowerOnValueModeDrivesTheChannelAndStoresItsPowerOnValue) {
    const ProcessResult result = run_transcript(kTool, "power_on/mode1_current");
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(backplane().slots[0]->power_on_mode, kPowerOnValue);
    const Channel written = channel(0, 0);
    EXPECT_EQ(written.range, 4);
    EXPECT_EQ(written.output, 12.0f);
    EXPECT_EQ(written.power_on_range, 4);
    EXPECT_EQ(written.power_on_value, 4.0f);
}

TEST_F(PowerOnTool, RetentiveModeDrivesTheChannelAndStoresNoPowerOnValue) {
    run_transcript(kTool, "power_on/mode2_voltage");
    EXPECT_EQ(backplane().slots[0]->power_on_mode, kRetentive);
    const Channel written = channel(0, 3);
    EXPECT_EQ(written.range, 1);
    EXPECT_EQ(written.output, 2.5f);
    EXPECT_EQ(written.power_on_range, 0);
    EXPECT_EQ(written.power_on_value, 0.0f);
}

TEST_F(PowerOnTool, ASecondRunFindsTheModuleAsTheFirstLeftIt) {
    run_transcript(kTool, "power_on/mode1_current");
    run_transcript(kTool, "power_on/mode2_voltage");
    EXPECT_EQ(backplane().slots[0]->power_on_mode, kRetentive);
    EXPECT_EQ(channel(0, 0).output, 12.0f);
    EXPECT_EQ(channel(0, 0).power_on_value, 4.0f);
    EXPECT_EQ(channel(0, 3).output, 2.5f);
}

TEST_F(PowerOnTool, RefusedOrUnreadableAnswersLeaveTheModuleAsItWas) {
    Backplane before = factory_backplane();
    before.slots[0]->power_on_mode = kRetentive;
    before.slots[0]->channels[0].output = 3.0f;
    arrange(before);
    const std::string file_before = read_text_file(state_path);
    for (const char *name :
         {"power_on/refused_range", "power_on/refused_mode", "power_on/unreadable_channel",
          "power_on/unreadable_power_on_value", "power_on/input_ends_before_mode"}) {
        run_transcript(kTool, name);
        EXPECT_EQ(read_text_file(state_path), file_before) << name;
    }
}

TEST_F(PowerOnTool, ShowsTheValueAsAskedWhileTheModuleSaturatesIt) {
    run_transcript(kTool, "power_on/value_beyond_range");
    EXPECT_EQ(channel(0, 2).output, 5.0f);
}

TEST_F(PowerOnTool, FindsAZm4704InALaterSlot) {
    Backplane backplane;
    backplane.slots[3] = factory_module(ModuleKind::other);
    backplane.slots[5] = factory_module(ModuleKind::zm4704);
    backplane.slots[6] = factory_module(ModuleKind::zm4710);
    arrange(backplane);
    run_transcript(kTool, "power_on/zm4704_in_slot_5");
    const Channel written = channel(5, 3);
    EXPECT_EQ(written.range, 5);
    EXPECT_EQ(written.output, 10.0f);
    EXPECT_EQ(written.power_on_value, 0.5f);
    EXPECT_EQ(channel(6, 3).output, 0.0f) << "slot 6 is never reached";
}

TEST_F(PowerOnTool, TellsWhatTheModuleRefusedAndLeavesItAsItWas) {
    Backplane zm4704_in_slot_2;
    zm4704_in_slot_2.slots[2] = factory_module(ModuleKind::zm4704);
    // Channel 6 of four.
    run_transcript_changing_nothing(kTool, "power_on/refused_channel", zm4704_in_slot_2);

    // The module is taken out while the tool waits for the power-on mode.
    ChildProcess tool({kTool});
    ASSERT_TRUE(tool.wait_for_output("5 : 0~ 20mA \n"));
    tool.write_input("1\n2\n0\n");
    ASSERT_TRUE(tool.wait_for_output("2 : Power on as last output value(Retentive \n"));
    arrange(Backplane{});
    tool.write_input("2\n\n\n");
    ASSERT_TRUE(tool.wait_for_output("zmod4710_SetPowerOnEnStatus refused with result -2 \n"));
    const ProcessResult result = tool.finish();
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.output.find("To test"), std::string::npos) << result.output;
}

TEST_F(PowerOnTool, WithoutAModuleSaysSo) {
    arrange(Backplane{});
    const ProcessResult result = run_transcript(kTool, "power_on/no_module");
    EXPECT_EQ(result.errors, "");
}

TEST_F(PowerOnTool, AnUnreadableStateFileLooksLikeNoModuleAndIsLeftAsItWas) {
    const std::string corrupt = "{\"slots\": [{\"slot\": 0, \"module\": \"ZM-4710\"";
    write_text_file(state_path, corrupt);
    const ProcessResult result = run_transcript(kTool, "power_on/no_module");
    EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
    EXPECT_NE(result.errors.find(state_path.string()), std::string::npos) << result.errors;
    EXPECT_EQ(read_text_file(state_path), corrupt);
}

TEST_F(PowerOnTool, ShowsEachPromptBeforeWaitingForItsAnswer) {
    ChildProcess tool({kTool});
    const std::pair<const char *, const char *> steps[] = {
        {"5 : 0~ 20mA \n", "2\n"},
        {"Set AO value, between +/- 5V \n", "-1.25\n"},
        {"\t For ZM-4704 Channel index 0~3  \n", "6\n"},
        {"2 : Power on as last output value(Retentive \n", "1\n"},
        {"Set a different AO value for Power On value , between +/- 5V \n", "0.5\n"},
        {"And the Output will become 0.5000 V at CH 6 \n", "\n"},
    };
    for (const auto &[prompt, answer] : steps) {
        ASSERT_TRUE(tool.wait_for_output(prompt)) << "never showed: " << prompt;
        tool.write_input(answer);
    }
    EXPECT_EQ(tool.finish().exit_status, 0);
    EXPECT_EQ(channel(0, 6).output, -1.25f);
    EXPECT_EQ(channel(0, 6).power_on_value, 0.5f);
}

#if defined(__linux__) && !defined(ZMOD4710_CROSS_BUILD)
// The tool started with its input from a file and its output into a pipe that
// nobody reads, as when the program reading it has ended; its exit status, or
// 128 and the signal that ended it.
int exit_status_with_output_gone(const std::string &tool, const std::string &input_file) {
    int ends[2];
    if (pipe(ends) != 0) {
        return -1;
    }
    close(ends[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input_file.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &pipe_signal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::string program = tool;
    char *arguments[] = {program.data(), nullptr};
    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, tool.c_str(), &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(ends[1]);
    int status = 0;
    if (spawned != 0 || waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(PowerOnTool, OutputThatIsGoneEndsTheToolWithStatus0AndNoWrite) {
    const std::string input = transcript_file_path("power_on/mode1_current", ".in");
    EXPECT_EQ(exit_status_with_output_gone(kTool, input), 0);
    EXPECT_FALSE(std::filesystem::exists(state_path)) << "nothing was written to the module";
}
#endif

#ifdef __linux__
class PowerOnToolWithAnotherLibrary : public ToolTestWithRecordingLibrary {};

TEST_F(PowerOnToolWithAnotherLibrary, MakesTheCallsOfPowerOnValueModeInOrder) {
    run_transcript(kTool, "power_on/mode1_current");
    EXPECT_EQ(recorded_calls(),
              (std::vector<std::string>{"zmod4710_Init(0)", "zmod4710_SetPowerOnEnStatus(0, 1)",
                                        "zmod4710_WriteAO(0, 0, 4, 12)",
                                        "zmod4710_WritePowerOn_AO(0, 0, 4, 4)"}));
    EXPECT_FALSE(std::filesystem::exists(state_path)) << "the simulated module was not used";
}

TEST_F(PowerOnToolWithAnotherLibrary, MakesTheCallsOfRetentiveModeInOrder) {
    ScopedEnvironment slot{"ZMOD4710_RECORDING_SLOT", "2"};
    const ProcessResult result = run_program({kTool}, "1\n2.5\n3\n2\n\n\n");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(recorded_calls(),
              (std::vector<std::string>{"zmod4710_Init(0)", "zmod4710_Init(1)", "zmod4710_Init(2)",
                                        "zmod4710_SetPowerOnEnStatus(2, 2)",
                                        "zmod4710_WriteAO(2, 3, 1, 2.5)"}));
}
#endif

} // namespace
