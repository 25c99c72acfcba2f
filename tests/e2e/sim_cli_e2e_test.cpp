// The programs used together, as a person trying the tools on a desktop would:
// the tools change the simulated module, zmod4710-sim looks at it and changes it.
#include "tool_runner.hpp"

#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

const std::string kPowerOn = AO_POWER_ON_PATH;
const std::string kBasicInfo = AO_BASIC_INFO_PATH;
const std::string kSim = ZMOD4710_SIM_PATH;

class ProgramsTogether : public ToolTest {
protected:
    std::string sim(const std::vector<std::string> &arguments) const {
        std::vector<std::string> command = {kSim};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const ProcessResult result = run_program(command, "");
        EXPECT_EQ(result.exit_status, 0) << result.errors;
        EXPECT_EQ(result.errors, "");
        return result.output;
    }

    json channel_shown(std::size_t slot_index, std::size_t channel) const {
        return json::parse(sim({"show", "--json"}))["slots"][slot_index]["channels"][channel];
    }
};

TEST_F(ProgramsTogether, InPowerOnMode1APowerCycleBringsThePowerOnValue) {
    run_transcript(kPowerOn, "power_on/mode1_current");
    EXPECT_EQ(channel_shown(0, 0)["output"], 12.0);
    EXPECT_EQ(sim({"power-cycle"}),
              "Slot 0, power-on mode 1 (power-on value): channels take their power-on values\n"
              "  CH 0: 12.0000 mA in 4 ~ 20mA -> 4.0000 mA in 4 ~ 20mA\n");
    const json channel = channel_shown(0, 0);
    EXPECT_EQ(channel["range"], 4);
    EXPECT_EQ(channel["output"], 4.0);
}

TEST_F(ProgramsTogether, InRetentiveModeAPowerCycleHoldsTheLastOutput) {
    run_transcript(kPowerOn, "power_on/mode2_voltage");
    EXPECT_EQ(sim({"power-cycle"}),
              "Slot 0, power-on mode 2 (retentive): every channel holds its last output\n");
    const json channel = channel_shown(0, 3);
    EXPECT_EQ(channel["range"], 1);
    EXPECT_EQ(channel["output"], 2.5);
}

TEST_F(ProgramsTogether, AModuleMovedToSlot5IsFoundThere) {
    sim({"insert", "5"});
    sim({"remove", "0"});
    run_transcript(kPowerOn, "power_on/slot_5");
    const ProcessResult info = run_program({kBasicInfo}, "9\n");
    EXPECT_EQ(info.output.substr(0, info.output.find('\n')), "ZM-4710 on slot 5 ");
    EXPECT_EQ(json::parse(sim({"show", "--json"}))["slots"][0]["channels"][2]["output"], 1.0);
}

TEST_F(ProgramsTogether, TheInformationToolShowsACalibrationSetFromTheCommandLine) {
    sim({"calibrate", "0", "1", "2", "--gain", "500", "--offset", "-12"});
    run_transcript(kBasicInfo, "basic_info/worked_example");
}

TEST_F(ProgramsTogether, AnUnreadableStateFileIsReportedAndLeftAsItWas) {
    const std::string corrupt = "{\"slots\": 42}";
    write_text_file(state_path, corrupt);
    run_transcript(kPowerOn, "power_on/no_module");
    run_transcript(kBasicInfo, "basic_info/no_module");
    const ProcessResult shown = run_program({kSim, "show"}, "");
    EXPECT_EQ(shown.exit_status, 1);
    EXPECT_EQ(shown.errors, "zmod4710-sim: " + state_path.string() +
                                " is not a backplane state, and is left as it is: slots: expected "
                                "a list\n");
    EXPECT_EQ(read_text_file(state_path), corrupt);
}

} // namespace
