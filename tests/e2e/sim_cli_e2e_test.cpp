// The programs used together, as a person trying the tools on a desktop would:
// the tools change the simulated module, zmod4710-sim looks at it and changes it.
#include "tool_runner.hpp"

#include "trace_lines.hpp"

#include <nlohmann/json.hpp>

#include <map>
#include <sstream>

namespace {

using json = nlohmann::json;

const std::string kPowerOn = AO_POWER_ON_PATH;
const std::string kBasicInfo = AO_BASIC_INFO_PATH;
const std::string kSim = ZMOD4710_SIM_PATH;
const std::string kProbe = SIM_LIBRARY_PROBE_PATH;

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

// Programs writing at once use a counted refusal exactly as often as asked, and
// a tool meets a refused zmod4710_Init as it would meet the module's own.
TEST_F(ProgramsTogether, ARefusalOnRequestIsUsedAsOftenAsAskedWhoeverCalls) {
    sim({"refuse", "WriteAO", "--times", "5", "--result", "7"});
    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (int channel = 0; channel < 4; ++channel) {
        writers.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{kProbe, "write", "0", std::to_string(channel), "6"}));
    }
    int refused = 0;
    for (const auto &writer : writers) {
        refused += writer->finish().exit_status; // the calls each one had refused
    }
    EXPECT_EQ(refused, 5);
    EXPECT_EQ(sim({"refusals"}), "No refusals on request.\n");

    sim({"refuse", "zmod4710_Init", "--always"});
    run_transcript(kPowerOn, "power_on/no_module");
    run_transcript(kPowerOn, "power_on/no_module");
    EXPECT_EQ(sim({"refusals"}),
              "Refusals on request, in the order they apply:\n"
              "  zmod4710_Init, any slot: result -4, every call until cleared\n");
}

// The lines of a trace by the program that wrote them, in the order of their
// first, each read back as a trace line and given without its time and process
// number. Each line's time lies between started and now, and never goes back
// within a program; a process of the library begins with its time zero, which
// is checked and left out.
using Traced = std::vector<std::pair<long, std::vector<std::string>>>;
Traced traced_calls(const std::string &trace, std::int64_t started) {
    const std::int64_t ended = zmod4710_sim::utc_microseconds_now();
    Traced calls;
    std::map<long, std::int64_t> last_time;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        const std::optional<zmod4710_sim::TraceLine> read = zmod4710_sim::read_trace_line(line);
        if (!read) {
            ADD_FAILURE() << "not a trace line: " << line;
            continue;
        }
        const bool first = last_time.count(read->process) == 0;
        EXPECT_TRUE(read->microseconds >= started && read->microseconds <= ended &&
                    read->microseconds >= last_time[read->process])
            << line;
        last_time[read->process] = read->microseconds;
        if (read->kind == zmod4710_sim::TraceLine::Kind::time_zero) {
            EXPECT_TRUE(first && read->zero <= read->microseconds) << line;
            continue;
        }
        if (calls.empty() || calls.back().first != read->process) {
            calls.emplace_back(read->process, std::vector<std::string>());
        }
        calls.back().second.push_back(
            line.substr(read->time.size() + std::to_string(read->process).size() + 2));
    }
    return calls;
}

// What a power cycle tells: each channel of the factory module in slot 0 at
// its power-on value, and every other slot empty.
std::vector<std::string> power_cycle_told() {
    std::vector<std::string> lines{"! power cycle", "! slot 0 ZM-4710 mode 1"};
    for (int channel = 0; channel < 8; ++channel) {
        lines.push_back("! slot 0 channel " + std::to_string(channel) +
                        " output 0 range 0 power-on 0 range 0");
    }
    for (int slot = 1; slot < 8; ++slot) {
        lines.push_back("! slot " + std::to_string(slot) + " empty");
    }
    return lines;
}

// ZMOD4710_SIM_TRACE: each call a line, in order, with what it gave back and a
// mark for a refusal asked for, and each change of zmod4710-sim's with what it
// left; programs at once share one file line by line.
TEST_F(ProgramsTogether, TheTraceTellsEachCallWhatItGaveBack) {
    const std::filesystem::path trace = directory.path() / "trace.txt";
    const ScopedEnvironment far_west("TZ", "HST10");
    const std::int64_t started = zmod4710_sim::utc_microseconds_now();
    {
        const ScopedEnvironment traced("ZMOD4710_SIM_TRACE", trace.string());
        sim({"calibrate", "0", "1", "2", "--gain", "500", "--offset", "-12"});
        run_transcript(kBasicInfo, "basic_info/worked_example");
        sim({"refuse", "WriteAO", "--channel", "1", "--result", "7"});
        EXPECT_EQ(run_program({kProbe, "write", "0", "1", "1"}, "").exit_status, 1);
        sim({"refuse", "--clear"}); // nothing to clear: nothing told
        sim({"insert", "3", "--module", "ZM-4704", "--firmware", "5"});
        sim({"remove", "3"});
        sim({"refuse", "any", "--slot", "2", "--after", "3", "--always"});
        sim({"refuse", "--clear"});
        sim({"power-cycle"});
    }
    std::vector<std::vector<std::string>> programs;
    for (const auto &[process, calls] : traced_calls(read_text_file(trace), started)) {
        programs.push_back(calls);
    }
    const std::vector<std::vector<std::string>> expected{
        {"! calibrate 0 1 2 gain 500 offset -12"},
        {"zmod4710_Init(0) = 0", "zmod4710_GetLibVersion() = 256",
         "zmod4710_GetLibDate() = 0, date 2026-12-08",
         "zmod4710_GetFirmwareVersion(0) = 0, version 3",
         "zmod4710_ReadAO_GainOffset(0, 1, 2) = 0, gain 500, offset -12",
         "zmod4710_WriteAO(0, 1, 2, 1.5) = 0"},
        {"! refuse zmod4710_WriteAO channel 1 result 7 after 0 times 1"},
        {"zmod4710_Init(0) = 0", "zmod4710_WriteAO(0, 1, 1, 0.001) = 7 (refused on request)"},
        {"! insert 3 ZM-4704 firmware 5", "! slot 3 ZM-4704 mode 1",
         "! slot 3 channel 0 output 0 range 0 power-on 0 range 0",
         "! slot 3 channel 1 output 0 range 0 power-on 0 range 0",
         "! slot 3 channel 2 output 0 range 0 power-on 0 range 0",
         "! slot 3 channel 3 output 0 range 0 power-on 0 range 0"},
        {"! remove 3", "! slot 3 empty"},
        {"! refuse any slot 2 result -4 after 3 times always"},
        {"! clear refusals 1"},
        power_cycle_told()};
    EXPECT_EQ(programs, expected);

    std::filesystem::remove(trace);
    std::vector<std::unique_ptr<ChildProcess>> writers;
    {
        const ScopedEnvironment traced("ZMOD4710_SIM_TRACE", trace.string());
        for (int channel = 2; channel < 6; ++channel) {
            writers.push_back(std::make_unique<ChildProcess>(
                std::vector<std::string>{kProbe, "write", "0", std::to_string(channel), "40"}));
        }
        for (const auto &writer : writers) {
            EXPECT_EQ(writer->finish().exit_status, 0);
        }
    }
    // A trace that cannot be written, or that is the state by its name or by
    // another (a hard link), is told once, and the calls go on; the state is
    // left whole.
    const std::filesystem::path hard_link = directory.path() / "linked.txt";
    const std::string state_reason = " as the trace: it is the simulated module's state file";
    for (const auto &[named, reason] :
         {std::pair(directory.path() / "none" / "trace.txt", ": its folder does not exist"),
          std::pair(state_path, state_reason.c_str()),
          std::pair(hard_link, state_reason.c_str())}) {
        if (named == hard_link) { // to the state as it is now: each write makes a new one
            std::filesystem::create_hard_link(state_path, hard_link);
        }
        const ScopedEnvironment untraced("ZMOD4710_SIM_TRACE", named.string());
        const ProcessResult result = run_program({kProbe, "write", "0", "0", "3"}, "");
        const std::string why = "the trace is not written: cannot " +
                                std::string(reason == state_reason ? "use " : "open ") +
                                named.string() + reason + "\n";
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.errors, "zmod4710 simulator: " + why);
        // zmod4710-sim's change stands, and it says so too. (Its change
        // replaces the state before it is traced: the link is then no state.)
        const ProcessResult changed =
            run_program({kSim, "calibrate", "0", "7", "0", "--gain", "1", "--offset", "1"}, "");
        EXPECT_EQ(changed.exit_status, 0);
        EXPECT_EQ(changed.errors, named == hard_link ? "" : "zmod4710-sim: " + why);
    }
    EXPECT_EQ(channel_shown(0, 0)["output"].get<float>(), 0.003f);
    std::map<long, std::vector<std::string>> calls;
    for (const auto &[process, lines] : traced_calls(read_text_file(trace), started)) {
        calls[process].insert(calls[process].end(), lines.begin(), lines.end());
    }
    ASSERT_EQ(calls.size(), 4u);
    for (const auto &[process, lines] : calls) {
        ASSERT_EQ(lines.size(), 41u) << process;
        EXPECT_EQ(lines[40].substr(0, lines[40].find('(')), "zmod4710_WriteAO");
        EXPECT_EQ(lines[40].substr(lines[40].find(" = ")), " = 0");
    }
}

// watch with its output no terminal, on every system: a line for each change
// another program makes, as soon as it is made.
TEST_F(ProgramsTogether, WatchWritesALineForEachChangeAnotherProgramMakes) {
    ChildProcess watch({kSim, "watch"});
    ASSERT_TRUE(watch.wait_for_output("refusals pending: none\n"));
    sim({"insert", "3", "--module", "ZM-4704"});
    EXPECT_TRUE(
        watch.wait_for_output(" slot 3: ZM-4704, firmware 3, power-on mode 1 (power-on value)\n"));
    sim({"refuse", "WriteAO", "--slot", "3"});
    EXPECT_TRUE(watch.wait_for_output(
        " refusals pending: zmod4710_WriteAO, slot 3, any channel: result -4, the next call\n"));
    watch.kill();
}

// Two programs writing one channel with the trace on, on one state file: the
// trace's lines come in the order the state's lock let the writes through, so
// its last line for the channel, the timeline's last value and the module's
// value agree.
TEST_F(ProgramsTogether, TwoProgramsWritingOneChannelLeaveTheTraceTheTimelineAndTheModuleAgreeing) {
    const std::filesystem::path trace = directory.path() / "trace.txt";
    std::vector<std::unique_ptr<ChildProcess>> writers;
    {
        const ScopedEnvironment traced("ZMOD4710_SIM_TRACE", trace.string());
        for (const char *first : {"0", "5000"}) {
            writers.push_back(std::make_unique<ChildProcess>(
                std::vector<std::string>{kProbe, "write", "0", "0", "60", first}));
        }
        for (const auto &writer : writers) {
            EXPECT_EQ(writer->finish().exit_status, 0);
        }
    }
    const float held = channel_shown(0, 0)["output"].get<float>();
    std::string last_write;
    std::istringstream lines(read_text_file(trace));
    for (std::string line; std::getline(lines, line);) {
        const std::optional<zmod4710_sim::TraceLine> read = zmod4710_sim::read_trace_line(line);
        ASSERT_TRUE(read) << line;
        if (read->kind == zmod4710_sim::TraceLine::Kind::call &&
            read->record.call == zmod4710_sim::Call::write_ao) {
            last_write = zmod4710_sim::call_text(read->record);
        }
    }
    EXPECT_EQ(last_write,
              "zmod4710_WriteAO(0, 0, 1, " + zmod4710_sim::shortest_text(held) + ") = 0");
    std::istringstream rows(sim({"timeline", trace.string()}));
    std::string last_row;
    for (std::string row; std::getline(rows, row);) {
        last_row = row;
    }
    EXPECT_NE(last_row.find(",0,0,end,yes," + zmod4710_sim::shortest_text(held) + ",,1,"),
              std::string::npos)
        << last_row;
}

} // namespace
