// The slot scan and the output request dialogue that both tools begin with.
#include "output_request.h"
#include "slot_scan.h"

#include "memory_console.hpp"
#include "recording_module_library.hpp"

#include <gtest/gtest.h>

namespace {

const RangeLabels kLabels = {{"R0", "R1", "R2", "R3", "R4", "R5"}};

const std::string kMenu = "Select Output Range : \n"
                          "0 : R0 \n"
                          "1 : R1 \n"
                          "2 : R2 \n"
                          "3 : R3 \n"
                          "4 : R4 \n"
                          "5 : R5 \n";
const std::string kChannelPrompt = "Set output channel : \n"
                                   "\t For ZM-4710 Channel index 0~7  \n"
                                   "\t For ZM-4704 Channel index 0~3  \n";
const std::string kVoltageReminder = "Please make sure the Jumper is in voltage operation\n";
const std::string kCurrentReminder = "Please make sure the Jumper is in current operation\n";

struct DialogueRun {
    bool accepted;
    OutputRequest request;
    std::string output;
};

DialogueRun run_dialogue(const std::string &input) {
    MemoryConsole memory(input);
    DialogueRun run = {false, {0, 0.0f, 0}, ""};
    run.accepted = prompt_output_request(memory.console(), kLabels, run.request);
    run.output = memory.output();
    return run;
}

TEST(SlotScan, StopsAtTheFirstSlotThatAnswers) {
    for (int module_slot : {0, 5, 7}) {
        RecordingModuleLibrary library;
        library.module_slot = module_slot;
        int slot = -1;
        ASSERT_TRUE(find_module_slot(library, slot));
        EXPECT_EQ(slot, module_slot);
        EXPECT_EQ(library.calls.size(), static_cast<std::size_t>(module_slot + 1));
        EXPECT_EQ(library.calls.back(), "Init(" + std::to_string(module_slot) + ")");
    }
}

TEST(SlotScan, TriesAllEightSlotsInOrderWhenNoneAnswers) {
    RecordingModuleLibrary library;
    library.module_slot = -1;
    int slot = -1;
    EXPECT_FALSE(find_module_slot(library, slot));
    EXPECT_EQ(slot, -1);
    EXPECT_EQ(library.calls,
              (std::vector<std::string>{"Init(0)", "Init(1)", "Init(2)", "Init(3)", "Init(4)",
                                        "Init(5)", "Init(6)", "Init(7)"}));
}

TEST(OutputRequestDialogue, AsksForRangeValueAndChannelInOrder) {
    const DialogueRun run = run_dialogue("3\n-7.25\n12\n");
    ASSERT_TRUE(run.accepted);
    EXPECT_EQ(run.request.range, 3);
    EXPECT_EQ(run.request.value, -7.25f);
    EXPECT_EQ(run.request.channel, 12) << "the channel is passed on as typed";
    EXPECT_EQ(run.output,
              kMenu + kVoltageReminder + "Set AO value, between R3 \n" + kChannelPrompt);
}

TEST(OutputRequestDialogue, RemindsOfTheCurrentJumperForCurrentRanges) {
    const DialogueRun run = run_dialogue("4 25 0");
    ASSERT_TRUE(run.accepted);
    EXPECT_EQ(run.request.value, 25.0f) << "a value outside the range is passed on";
    EXPECT_EQ(run.output,
              kMenu + kCurrentReminder + "Set AO value, between R4 \n" + kChannelPrompt);
}

TEST(OutputRequestDialogue, RefusesARangeOutsideTheMenuWithoutAskingMore) {
    for (const char *answer : {"6\n1\n1\n", "-1\n1\n1\n", "65536\n1\n1\n", "x\n", "", "2.5\n"}) {
        const DialogueRun run = run_dialogue(answer);
        EXPECT_FALSE(run.accepted) << "answer: " << answer;
        EXPECT_EQ(run.output, kMenu + "invalid input\n") << "answer: " << answer;
    }
}

TEST(OutputRequestDialogue, RefusesAValueThatCannotBeRead) {
    for (const char *answer : {"0\nnan\n1\n", "0\ninf\n1\n", "0\nfive\n1\n", "0\n"}) {
        const DialogueRun run = run_dialogue(answer);
        EXPECT_FALSE(run.accepted) << "answer: " << answer;
        EXPECT_EQ(run.output,
                  kMenu + kVoltageReminder + "Set AO value, between R0 \ninvalid input\n");
    }
}

TEST(OutputRequestDialogue, RefusesAChannelThatCannotBeRead) {
    for (const char *answer : {"5\n1\nch1\n", "5\n1\n4294967296\n", "5\n1\n"}) {
        const DialogueRun run = run_dialogue(answer);
        EXPECT_FALSE(run.accepted) << "answer: " << answer;
        EXPECT_EQ(run.output, kMenu + kCurrentReminder + "Set AO value, between R5 \n" +
                                  kChannelPrompt + "invalid input\n");
    }
}

} // namespace
