// ao_loop_check as built, on the simulated module: a channel with a drift of
// its own fails at full span, read as zmod4710-sim's meter reads it; writes
// the module refuses fail their points; the channel is left where asked.
#include "tool_runner.hpp"

#include <sstream>

namespace {

using namespace zmod4710_sim;

const std::string kTool = AO_LOOP_CHECK_PATH;

class LoopCheckTool : public ToolTest {};

TEST_F(LoopCheckTool, FailsAtFullSpanOnADriftedChannelAsTheMeterReadsIt) {
    Backplane backplane = factory_backplane();
    const Drift drift{0.6f, -0.024f};
    backplane.slots[0]->channels[1].drift = drift;
    arrange(backplane);
    run_transcript(kTool, "loop_check/drifted_channel_fails");
    EXPECT_EQ(channel(0, 1).range, 4);
    EXPECT_EQ(channel(0, 1).output, 12.0f) << "left where asked";
    EXPECT_EQ(channel(0, 1).drift, drift);

    // What was typed at each point is what the meter reads with the point's
    // output on the channel: the range, the channel and the tolerance come first.
    std::istringstream typed(transcript_file("loop_check/drifted_channel_fails", ".in"));
    std::string line;
    for (int answer = 0; answer < 3; ++answer) {
        std::getline(typed, line);
    }
    for (const float milliamperes : {4.0f, 8.0f, 12.0f, 16.0f, 20.0f, 16.0f, 12.0f, 8.0f, 4.0f}) {
        backplane.slots[0]->channels[1].range = 4;
        backplane.slots[0]->channels[1].output = milliamperes;
        arrange(backplane);
        std::getline(typed, line);
        EXPECT_EQ(run_program({ZMOD4710_SIM_PATH, "meter", "0", "1"}, "").output, line + " mA\n");
    }
}

// Readings with a unit or a decimal comma asked again, a point skipped, and
// full span out of tolerance; the channel left at 12 mA.
TEST_F(LoopCheckTool, AsksAgainForWhatIsNoReadingAndSkipsAPointOnEnter) {
    run_transcript(kTool, "loop_check/readings_asked_again_and_skipped");
    EXPECT_EQ(channel(0, 1).range, 4);
    EXPECT_EQ(channel(0, 1).output, 12.0f);
}

TEST_F(LoopCheckTool, EveryPointFailsWhenTheModuleRefusesTheChannel) {
    Backplane backplane;
    backplane.slots[0] = factory_module(ModuleKind::zm4704);
    run_transcript_changing_nothing(kTool, "loop_check/refused_channel", backplane);
}

} // namespace
