// zmod4710-sim's commands, run in-process on a state file of the test's own.
#include "sim_cli.hpp"

#include "backplane.hpp"
#include "backplane_json.hpp"
#include "simulated_backplane_test.hpp"
#include "state_file.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <sstream>

namespace zmod4710_sim {
namespace {

struct CliRun {
    int status;
    std::string output;
    std::string errors;
};

class SimCli : public SimulatedBackplaneTest {
protected:
    CliRun run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "zmod4710-sim");
        std::vector<const char *> argv;
        for (const std::string &argument : arguments) {
            argv.push_back(argument.c_str());
        }
        std::ostringstream out, err;
        const int status = run_sim_cli(static_cast<int>(argv.size()), argv.data(), out, err);
        return {status, out.str(), err.str()};
    }

    // A refusal: one line on standard error naming the program, nothing on
    // standard output, and the file as it was.
    void expect_refused(const std::vector<std::string> &arguments, int status,
                        const std::string &reason) {
        const std::string before =
            std::filesystem::exists(state_path) ? read_text_file(state_path) : "";
        const CliRun result = run(arguments);
        const std::string command = testing::PrintToString(arguments);
        EXPECT_EQ(result.status, status) << command;
        EXPECT_EQ(result.output, "") << command;
        EXPECT_EQ(result.errors.rfind("zmod4710-sim: ", 0), 0u) << command << result.errors;
        EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
        EXPECT_NE(result.errors.find(reason), std::string::npos) << command << result.errors;
        EXPECT_EQ(std::filesystem::exists(state_path) ? read_text_file(state_path) : "", before)
            << command;
    }
};

Backplane busy_backplane() {
    Backplane backplane = factory_backplane();
    Module &module = *backplane.slots[0];
    module.channels[0] = {4, 12.0f, 4, 4.0f, module.channels[0].calibration};
    module.channels[3].range = 2;
    module.channels[3].output = -2.5f;
    backplane.slots[5] = factory_module(ModuleKind::zm4704, 12);
    backplane.slots[5]->power_on_mode = kRetentive;
    backplane.slots[5]->channels[1] = {1, 7.5f, 5, 20.0f, {}};
    backplane.slots[6] = factory_module(ModuleKind::other, 1);
    return backplane;
}

TEST_F(SimCli, ShowsEachOccupiedSlotWithItsChannels) {
    state_file.store(busy_backplane());
    const CliRun result = run({"show"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.output, "Backplane in " + state_path.string() +
                                 "\n\n"
                                 "Slot 0: ZM-4710, firmware 3, power-on mode 1 (power-on value)\n"
                                 "  CH  Range             Output   Power-on range Power-on value\n"
                                 "  0   4 ~ 20mA      12.0000 mA   4 ~ 20mA            4.0000 mA\n"
                                 "  1   0 ~ 5V         0.0000 V    0 ~ 5V              0.0000 V\n"
                                 "  2   0 ~ 5V         0.0000 V    0 ~ 5V              0.0000 V\n"
                                 "  3   +/- 5V        -2.5000 V    0 ~ 5V              0.0000 V\n"
                                 "  4   0 ~ 5V         0.0000 V    0 ~ 5V              0.0000 V\n"
                                 "  5   0 ~ 5V         0.0000 V    0 ~ 5V              0.0000 V\n"
                                 "  6   0 ~ 5V         0.0000 V    0 ~ 5V              0.0000 V\n"
                                 "  7   0 ~ 5V         0.0000 V    0 ~ 5V              0.0000 V\n"
                                 "\n"
                                 "Slot 5: ZM-4704, firmware 12, power-on mode 2 (retentive)\n"
                                 "  CH  Range             Output   Power-on range Power-on value\n"
                                 "  0   0 ~ 5V         0.0000 V    0 ~ 5V              0.0000 V\n"
                                 "  1   0 ~ 10V        7.5000 V    0 ~ 20mA           20.0000 mA\n"
                                 "  2   0 ~ 5V         0.0000 V    0 ~ 5V              0.0000 V\n"
                                 "  3   0 ~ 5V         0.0000 V    0 ~ 5V              0.0000 V\n"
                                 "\n"
                                 "Slot 6: module of another kind, firmware 1\n");
}

TEST_F(SimCli, ShowsCalibrationOnRequest) {
    Backplane backplane;
    backplane.slots[2] = factory_module(ModuleKind::zm4704);
    backplane.slots[2]->channels[3].calibration[5] = {65535, -32768};
    state_file.store(backplane);
    const std::string output = run({"show", "--calibration"}).output;
    EXPECT_NE(output.find("  Calibration, gain / offset:\n"
                          "  CH  0 ~ 5V         0 ~ 10V        +/- 5V         +/- 10V        "
                          "4 ~ 20mA       0 ~ 20mA\n"
                          "  0   32468 / -15    32509 / -8     32550 / -1     32591 / 6      "
                          "32632 / 13     32673 / -11\n"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("\n  3   32759 / -7     32800 / 0      32841 / 7      32882 / 14     "
                          "32923 / -10    65535 / -32768\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(run({"show"}).output.find("Calibration"), std::string::npos);
}

TEST_F(SimCli, ShowsTheFactoryBackplaneBeforeAnyFileExistsWithoutMakingOne) {
    const CliRun result = run({"show"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output.substr(0, result.output.find('\n')),
              "Backplane in " + state_path.string() + " (no file yet: factory state)");
    EXPECT_NE(result.output.find("Slot 0: ZM-4710, firmware 3"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(state_path));
}

TEST_F(SimCli, ShowsJsonForPrograms) {
    state_file.store(busy_backplane());
    const CliRun result = run({"show", "--json"});
    EXPECT_EQ(result.status, 0);
    const nlohmann::ordered_json json = nlohmann::ordered_json::parse(result.output);
    EXPECT_TRUE(backplane_from_json(json) == busy_backplane());
    ASSERT_EQ(json["slots"].size(), 3u);
    EXPECT_EQ(json["slots"][1]["slot"], 5);
    EXPECT_EQ(json["slots"][1]["module"], "ZM-4704");
    EXPECT_EQ(json["slots"][1]["power_on_mode"], 2);
    EXPECT_EQ(json["slots"][2]["module"], "other");
    const auto &channel = json["slots"][0]["channels"][0];
    EXPECT_EQ(channel["channel"], 0);
    EXPECT_EQ(channel["range"], 4);
    EXPECT_EQ(channel["output"], 12.0);
    EXPECT_EQ(channel["power_on_range"], 4);
    EXPECT_EQ(channel["power_on_value"], 4.0);
    EXPECT_EQ(channel["calibration"][0]["gain"], factory_calibration(0, 0).gain);
}

TEST_F(SimCli, PowerCycleGivesPowerOnValuesInMode1AndHoldsOutputsInMode2) {
    state_file.store(busy_backplane());
    const CliRun result = run({"power-cycle"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output,
              "Slot 0, power-on mode 1 (power-on value): channels take their power-on values\n"
              "  CH 0: 12.0000 mA in 4 ~ 20mA -> 4.0000 mA in 4 ~ 20mA\n"
              "  CH 3: -2.5000 V in +/- 5V -> 0.0000 V in 0 ~ 5V\n"
              "Slot 5, power-on mode 2 (retentive): every channel holds its last output\n");
    const Backplane after = state_file.load();
    EXPECT_EQ(after.slots[0]->channels[0].output, 4.0f);
    EXPECT_EQ(after.slots[0]->channels[3].range, 0);
    EXPECT_EQ(after.slots[0]->channels[3].output, 0.0f);
    EXPECT_EQ(after.slots[5], busy_backplane().slots[5]);

    EXPECT_EQ(run({"power-cycle"}).output,
              "Slot 0, power-on mode 1 (power-on value): every channel already outputs its "
              "power-on value\n"
              "Slot 5, power-on mode 2 (retentive): every channel holds its last output\n");
    state_file.store(Backplane{});
    EXPECT_EQ(run({"power-cycle"}).output, "No analog-output module on the backplane.\n");
}

TEST_F(SimCli, InsertsAndRemovesModules) {
    CliRun result = run({"insert", "5", "--module", "ZM-4704", "--firmware", "9"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "Slot 5: ZM-4704 inserted, firmware 9\n");
    Module inserted = factory_module(ModuleKind::zm4704, 9);
    inserted.insertion = 1; // the backplane's first
    EXPECT_TRUE(state_file.load().slots[5] == inserted);

    expect_refused({"insert", "5"}, 1, "slot 5 already holds a ZM-4704 (use --replace");
    result = run({"insert", "5", "--replace", "--module", "other"});
    EXPECT_EQ(result.output, "Slot 5: module of another kind inserted, firmware 3\n");
    EXPECT_EQ(state_file.load().slots[5]->kind, ModuleKind::other);

    result = run({"remove", "0"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "Slot 0: ZM-4710 removed\n");
    EXPECT_FALSE(state_file.load().slots[0].has_value());
    expect_refused({"remove", "0"}, 1, "slot 0 is empty");
}

TEST_F(SimCli, CalibratesOneChannelInOneRange) {
    const CliRun result = run({"calibrate", "0", "1", "2", "--gain", "500", "--offset", "-12"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output,
              "Slot 0 CH 1, +/- 5V: gain 500, offset -12 (was gain 32647, offset 12)\n");
    const Backplane after = state_file.load();
    EXPECT_EQ(after.slots[0]->channels[1].calibration[2], (Calibration{500, -12}));
    EXPECT_EQ(after.slots[0]->channels[1].calibration[1], factory_calibration(1, 1));
    EXPECT_EQ(run({"calibrate", "00", "1", "2", "--gain", "010", "--offset", "-012"}).status, 0);
    EXPECT_EQ(state_file.load().slots[0]->channels[1].calibration[2], (Calibration{10, -12}))
        << "leading zeros are not octal";

    run({"insert", "3", "--module", "ZM-4704"});
    run({"insert", "4", "--module", "other"});
    expect_refused({"calibrate", "3", "4", "0", "--gain", "1", "--offset", "1"}, 1,
                   "the ZM-4704 in slot 3 has channels 0 to 3");
    expect_refused({"calibrate", "4", "0", "0", "--gain", "1", "--offset", "1"}, 1,
                   "slot 4 holds a module of another kind");
    expect_refused({"calibrate", "7", "0", "0", "--gain", "1", "--offset", "1"}, 1,
                   "slot 7 holds no module");
}

// A meter reads the output with the drift given, to a 4 1/2-digit meter's
// resolution; the drift is shown, kept by a power cycle, cleared by a reset.
TEST_F(SimCli, AMeterReadsTheOutputWithTheDriftGiven) {
    state_file.store(busy_backplane()); // slot 0 CH 0: 12 mA; CH 3: -2.5 V
    const std::pair<std::vector<std::string>, std::string> readings[] = {
        {{"meter", "0", "0"}, "12.000 mA\n"},
        {{"meter", "0", "3"}, "-2.500 V\n"}, // 25000 counts: the 20 V range
        {{"meter", "0", "1"}, "0.00000 V\n"},
        {{"drift", "0", "0", "--gain", "0.5", "--offset", "-0.01"},
         "Slot 0 CH 0: drift gain 0.5 %, offset -0.01 (was gain 0 %, offset 0)\n"},
        {{"meter", "0", "0"}, "12.050 mA\n"}, // 12 x 1.005 - 0.01
        {{"drift", "0", "3", "--gain", "-100", "--offset", "100"},
         "Slot 0 CH 3: drift gain -100 %, offset 100 (was gain 0 %, offset 0)\n"},
        {{"meter", "0", "3"}, "100.00 V\n"},
        {{"drift", "0", "3", "--gain", "1e-3", "--offset", "+.00004"},
         "Slot 0 CH 3: drift gain 0.001 %, offset 4e-05 (was gain -100 %, offset 100)\n"},
        {{"meter", "0", "3"}, "-2.500 V\n"}, // -2.500065: below the resolution
    };
    for (const auto &[arguments, printed] : readings) {
        const CliRun result = run(arguments);
        EXPECT_EQ(result.status, 0) << testing::PrintToString(arguments) << result.errors;
        EXPECT_EQ(result.output, printed) << testing::PrintToString(arguments);
    }
    EXPECT_NE(
        run({"show"}).output.find("  7   0 ~ 5V         0.0000 V    0 ~ 5V              0.0000 V\n"
                                  "  CH 0 drift: gain +0.5 %, offset -0.01 mA\n"
                                  "  CH 3 drift: gain +0.001 %, offset +4e-05 V\n"),
        std::string::npos)
        << run({"show"}).output;
    run({"power-cycle"}); // CH 0 takes its 4 mA power-on value; its drift stays
    EXPECT_EQ(run({"meter", "0", "0"}).output, "4.010 mA\n");
    run({"reset"});
    EXPECT_EQ(run({"meter", "0", "0"}).output, "0.00000 V\n");

    run({"insert", "3", "--module", "ZM-4704"});
    const std::string unchanged = read_text_file(state_path);
    expect_refused({"meter", "3", "4"}, 2, "the ZM-4704 in slot 3 has channels 0 to 3");
    expect_refused({"drift", "3", "4", "--gain", "1", "--offset", "0"}, 2,
                   "the ZM-4704 in slot 3 has channels 0 to 3");
    expect_refused({"meter", "5", "0"}, 1, "slot 5 holds no module");
    expect_refused({"drift", "5", "0", "--gain", "1", "--offset", "0"}, 1,
                   "slot 5 holds no module");
    EXPECT_EQ(read_text_file(state_path), unchanged);
}

TEST_F(SimCli, RefusesAWrongCommandLineWithOneLineAndNoChange) {
    state_file.store(busy_backplane());
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "A subcommand is required"},
        {{"bogus"}, "unknown command: bogus"},
        {{"show", "--bogus"}, "--bogus"},
        {{"insert"}, "SLOT is required"},
        {{"insert", "8"}, "SLOT"},
        {{"insert", "-1"}, "SLOT"},
        {{"insert", "x"}, "SLOT"},
        {{"insert", "1", "--module", "ZM-9"}, "--module"},
        {{"insert", "1", "--firmware", "40000"}, "--firmware"},
        {{"remove", "8"}, "SLOT"},
        {{"calibrate", "0", "1", "6", "--gain", "1", "--offset", "1"}, "RANGE"},
        {{"calibrate", "0", "-1", "0", "--gain", "1", "--offset", "1"}, "CHANNEL"},
        {{"calibrate", "0", "1", "0", "--gain", "65536", "--offset", "1"}, "--gain"},
        {{"calibrate", "0", "1", "0", "--gain", "-1", "--offset", "1"}, "--gain"},
        {{"calibrate", "0", "1", "0", "--gain", "1", "--offset", "32768"}, "--offset"},
        {{"calibrate", "0", "1", "0", "--gain", "1"}, "--offset is required"},
        {{"power-cycle", "now"}, "now"},
        // Numbers are decimal: no octal, no hexadecimal, nothing else.
        {{"insert", "0x3"}, "expected a decimal number, got 0x3"},
        {{"calibrate", "0", "1", "0", "--gain", "0x10", "--offset", "1"}, "--gain"},
        {{"calibrate", "0", "1", "0", "--gain", "1e3", "--offset", "1"}, "--gain"},
        {{"calibrate", "0", "1", "0", "--gain", "1", "--offset", "--5"}, "--offset"},
        {{"insert", "1", "--firmware", ""}, "--firmware"},
        {{"meter", "8", "0"}, "SLOT"},
        {{"meter", "0", "-1"}, "CHANNEL"},
        {{"drift", "0", "1", "--gain", "100.01", "--offset", "0"},
         "--gain: expected a number from -100 to 100, got 100.01"},
        {{"drift", "0", "1", "--gain", "1", "--offset", "-101"}, "--offset"},
        {{"drift", "0", "1", "--gain", "nan", "--offset", "0"},
         "--gain: expected a decimal number, got nan"},
        {{"drift", "0", "1", "--gain", "1", "--offset", "inf"}, "--offset"},
        {{"drift", "0", "1", "--gain", "1", "--offset", "0.5mA"}, "--offset"},
        {{"drift", "0", "1", "--gain", "0x1", "--offset", "0"}, "--gain"},
        {{"drift", "0", "1", "--gain", "", "--offset", "0"}, "--gain"},
        {{"drift", "0", "1", "--gain", "1"}, "--offset is required"},
        {{"--state", "", "show"}, "an empty path names no file"},
    };
    for (const auto &[arguments, reason] : cases) {
        expect_refused(arguments, 2, reason);
    }
}

// A command that uses the state refuses one in memory, which no other program sees.
TEST_F(SimCli, RefusesABackplaneInMemoryForACommandThatUsesIt) {
    const ScopedEnvironment named("ZMOD4710_SIM_STATE", std::string(kMemoryState));
    expect_refused({"show"}, 1, "names a backplane in one program's memory");
}

TEST_F(SimCli, RefusesAStateFileWithANumberTooLargeForADouble) {
    write_text_file(state_path, "{\"slots\": [], \"spare\": 1e999}");
    expect_refused({"show"}, 1, "number overflow");
}

#ifndef _WIN32
TEST_F(SimCli, RefusesAFifoNamedAsTheStateWithoutWaitingOnIt) {
    ASSERT_EQ(mkfifo(state_path.c_str(), 0600), 0);
    for (const char *command : {"show", "power-cycle"}) {
        const CliRun result = run({command});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.errors,
                  "zmod4710-sim: cannot read " + state_path.string() + ": not a regular file\n");
    }
    EXPECT_EQ(std::filesystem::status(state_path).type(), std::filesystem::file_type::fifo);
}
#endif

TEST_F(SimCli, EveryMessageIsOneLineWithControlCharactersEscapedAndQuotesCut) {
    write_text_file(state_path, R"({"slots": [], "\u001b]0;X\u0007": 1})");
    expect_refused({"show"}, 1, "\\x1b]0;X\\x07: not a field of a backplane state");
    write_text_file(state_path, "{\"slots\": [], \"" + std::string(900000, 'k') + "\": 1}");
    expect_refused({"show"}, 1, "...");
    EXPECT_LT(run({"show"}).errors.size(), 300u);

#ifndef _WIN32 // where a file name may hold a line end
    const std::filesystem::path odd = directory.path() / "new\nline.json";
    write_text_file(odd, "not json");
    expect_refused({"--state", odd.string(), "show"}, 1,
                   (directory.path() / "new\\nline.json").string() + " is not a backplane state");
#endif
}

// An output stream that can take nothing, as a full disk.
class FullOutput : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
};

TEST_F(SimCli, OutputThatCannotBeWrittenIsAFailure) {
    FullOutput full;
    std::ostream out(&full);
    std::ostringstream err;
    const char *const arguments[] = {"zmod4710-sim", "show", "--json"};
    EXPECT_EQ(run_sim_cli(3, arguments, out, err), 1);
    EXPECT_EQ(err.str(), "zmod4710-sim: cannot write the standard output\n");
}

TEST_F(SimCli, NeverOverwritesAStateFileItCannotParse) {
    const std::string corrupt = "{\"slots\": [{\"slot\": 0, \"module\": \"ZM-4710\"}]}";
    write_text_file(state_path, corrupt);
    for (const std::vector<std::string> &arguments : std::vector<std::vector<std::string>>{
             {"show"},
             {"show", "--json"},
             {"power-cycle"},
             {"insert", "1"},
             {"remove", "0"},
             {"calibrate", "0", "0", "0", "--gain", "1", "--offset", "1"},
             {"reset"}}) {
        expect_refused(arguments, 1, state_path.string() + " is not a backplane state");
    }
    EXPECT_EQ(read_text_file(state_path), corrupt);
}

// refuse and refusals: what each command line stores and shows, and the ones
// refused with nothing stored.
TEST_F(SimCli, RefusesCallsOnRequestAndListsThem) {
    const std::pair<std::vector<std::string>, std::string> asked[] = {
        {{"refuse", "WriteAO", "--slot", "0", "--channel", "1", "--result", "7", "--times", "5"},
         "zmod4710_WriteAO, slot 0, channel 1: result 7, the next 5 calls"},
        {{"refuse", "zmod4710_Init", "--slot", "3", "--always"},
         "zmod4710_Init, slot 3: result -4, every call until cleared"},
        {{"refuse", "ReadAO_GainOffset", "--result", "-0012"},
         "zmod4710_ReadAO_GainOffset, any slot, any channel: result -12, the next call"},
        {{"refuse", "GetLibDate", "--result", "+2147483647"},
         "zmod4710_GetLibDate: result 2147483647, the next call"},
        {{"refuse", "any", "--slot", "2", "--after", "3", "--always", "--result", "-2"},
         "any call, slot 2: result -2, after 3 calls, every call until cleared"},
    };
    std::string listed = "Refusals on request, in the order they apply:\n";
    for (const auto &[arguments, description] : asked) {
        const CliRun result = run(arguments);
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(result.output, "Refusing " + description + "\n");
        listed += "  " + description + "\n";
    }
    EXPECT_EQ(run({"refusals"}).output, listed);
    EXPECT_NE(run({"show"}).output.find("\n\n" + listed), std::string::npos);
    const std::vector<Refusal> stored = state_file.load().refusals;
    ASSERT_EQ(stored.size(), 5u);
    EXPECT_EQ(stored[0], (Refusal{Call::write_ao, 0, 1, 7, 5}));
    EXPECT_EQ(stored[1], (Refusal{Call::init, 3, std::nullopt, -4, std::nullopt}));
    EXPECT_EQ(stored[4], (Refusal{Call::any, 2, std::nullopt, -2, std::nullopt, 3}));
    EXPECT_EQ(nlohmann::ordered_json::parse(run({"refusals", "--json"}).output)["refusals"][1],
              (nlohmann::ordered_json{{"call", "Init"}, {"slot", 3}, {"result", -4}}));

    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"refuse", "Bogus"}, "unknown call Bogus"},
        {{"refuse", "GetLibVersion"}, "GetLibVersion returns no result"},
        {{"refuse", "WriteAO", "--result", "0"}, "other than 0"},
        {{"refuse", "WriteAO", "--times", "0"}, "--times"},
        {{"refuse", "WriteAO", "--times", "2", "--always"}, "--times excludes --always"},
        {{"refuse", "WriteAO", "--slot", "8"}, "--slot"},
        {{"refuse", "WriteAO", "--channel", "-1"}, "--channel"},
        {{"refuse", "WriteAO", "--result", "0x7"}, "expected a decimal number"},
        {{"refuse", "WriteAO", "--result", "99999999999"},
         "expected a number from -2147483648 to 2147483647, got 99999999999"},
        {{"refuse", "WriteAO", "--times", "-99999999999"}, "expected a number from"},
        {{"refuse", "Init", "--channel", "0"}, "zmod4710_Init is not made on a channel"},
        {{"refuse", "GetLibDate", "--slot", "0"}, "zmod4710_GetLibDate is not made on a slot"},
        {{"refuse", "any", "--channel", "0"}, "any call is not made on a channel"},
        {{"refuse", "zmod4710_any"}, "unknown call zmod4710_any"},
        {{"refuse", "WriteAO", "--after", "-1"}, "--after: expected a count of 0 or more"},
        {{"refuse", "WriteAO", "--after", "2147483648"}, "expected a number from"},
        {{"refuse", "--clear", "WriteAO"}, "--clear"},
        {{"refuse"}, "CALL is required"},
    };
    for (const auto &[arguments, reason] : refused) {
        expect_refused(arguments, 2, reason);
    }

    // A state that no reader would take back is never written.
    Backplane full = state_file.load();
    const Refusal filler{Call::write_ao, std::nullopt, std::nullopt, -4, 1};
    const std::size_t size = format_backplane(full).size();
    full.refusals.push_back(filler);
    const std::size_t each = format_backplane(full).size() - size;
    full.refusals.resize(full.refusals.size() +
                             (static_cast<std::size_t>(kMaxStateFileSize) - size) / each - 1,
                         filler);
    arrange(full);
    expect_refused({"refuse", "WriteAO"}, 1, "larger than 1 MiB");
    full.refusals.resize(5);
    arrange(full);

    EXPECT_EQ(run({"refuse", "--clear"}).output, "Refusals on request cleared: 5\n");
    EXPECT_EQ(run({"refusals"}).output, "No refusals on request.\n");
    run({"refuse", "Init"});
    run({"reset"});
    EXPECT_TRUE(state_file.load().refusals.empty()) << "reset clears them too";
}

TEST_F(SimCli, ResetGivesTheFactoryBackplane) {
    state_file.store(busy_backplane());
    const CliRun result = run({"reset"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output,
              "Backplane reset: a factory ZM-4710 in slot 0, every other slot empty\n");
    EXPECT_TRUE(state_file.load() == factory_backplane());
}

TEST_F(SimCli, TheStateOptionNamesAnotherFile) {
    const std::filesystem::path other = directory.path() / "other.json";
    EXPECT_EQ(run({"--state", other.string(), "insert", "2"}).status, 0);
    EXPECT_EQ(run({"remove", "0", "--state", other.string()}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(state_path));
    const Backplane changed = StateFile(other).load();
    EXPECT_TRUE(changed.slots[2].has_value());
    EXPECT_FALSE(changed.slots[0].has_value());
}

TEST_F(SimCli, HelpsWithTheProgramAndEveryCommand) {
    const CliRun program = run({"--help"});
    EXPECT_EQ(program.status, 0);
    for (const char *command :
         {"show", "power-cycle", "insert", "remove", "calibrate", "drift", "meter", "reset"}) {
        EXPECT_NE(program.output.find(std::string("\n  ") + command + " "), std::string::npos)
            << command;
        const CliRun help = run({command, "--help"});
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_NE(help.output.find(std::string("Usage: zmod4710-sim ") + command),
                  std::string::npos)
            << help.output;
    }
    EXPECT_NE(program.output.find("ZMOD4710_SIM_STATE"), std::string::npos);
}

} // namespace
} // namespace zmod4710_sim
