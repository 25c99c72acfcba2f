// The simulated backplane's model and its JSON form: what the state file holds.
#include "atomic_replace.hpp"
#include "backplane.hpp"
#include "backplane_changes.hpp"
#include "backplane_json.hpp"
#include "lock_files.hpp"
#include "state_file.hpp"
#include "state_reading.hpp"
#include "trace_file.hpp"
#include "trace_lines.hpp"

#include "test_environment.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#ifdef __linux__
#include <sys/inotify.h>
#endif
#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zmod4710_sim {
namespace {

Backplane varied_backplane() {
    Backplane backplane = factory_backplane();
    Module &module = *backplane.slots[0];
    module.power_on_mode = kRetentive;
    module.channels[2].range = 4;
    module.channels[2].output = 12.345f;
    module.channels[2].power_on_range = 3;
    module.channels[2].power_on_value = -9.75f;
    module.channels[4].output = 1e-30f;
    module.channels[5].power_on_value = 4.9999995f;
    module.channels[7].calibration[5] = {65535, -32768};
    module.channels[6].drift = {-100.0f, 0.0123f};
    backplane.slots[3] = factory_module(ModuleKind::zm4704, 12);
    backplane.slots[6] = factory_module(ModuleKind::other, 1);
    backplane.refusals.push_back({Call::any, 3, std::nullopt, -2, std::nullopt, 4});
    return backplane;
}

// One line appended to the trace at path, by a writer of its own, with state as
// the state in use (none when empty).
void append_to_trace(const std::filesystem::path &path, const std::filesystem::path &state) {
    TraceWriter().append(path.string(), state.empty() ? nullptr : &state, 0, "line");
}

nlohmann::ordered_json as_json(const Backplane &backplane) {
    return nlohmann::ordered_json::parse(format_backplane(backplane));
}

TEST(BackplaneJson, ReadsBackExactlyWhatItWrote) {
    for (const Backplane &backplane : {factory_backplane(), varied_backplane(), Backplane{}}) {
        EXPECT_TRUE(parse_backplane(format_backplane(backplane)) == backplane);
    }
}

TEST(BackplaneJson, ListsOccupiedSlotsWithTheirModulesAndChannels) {
    const nlohmann::ordered_json json = as_json(varied_backplane());
    ASSERT_EQ(json["slots"].size(), 3u);
    EXPECT_EQ(json["slots"][0]["slot"], 0);
    EXPECT_EQ(json["slots"][0]["module"], "ZM-4710");
    EXPECT_EQ(json["slots"][0]["power_on_mode"], 2);
    EXPECT_EQ(json["slots"][1]["module"], "ZM-4704");
    EXPECT_EQ(json["slots"][1]["firmware"], 12);
    EXPECT_EQ(json["slots"][1]["channels"].size(), 4u);
    EXPECT_EQ(json["slots"][2]["module"], "other");
    EXPECT_EQ(json["slots"][2]["channels"].size(), 0u);
    const auto &channel = json["slots"][0]["channels"][2];
    EXPECT_EQ(channel["channel"], 2);
    EXPECT_EQ(channel["range"], 4);
    EXPECT_EQ(channel["output"].get<float>(), 12.345f);
    EXPECT_EQ(channel["power_on_range"], 3);
    EXPECT_EQ(channel["power_on_value"], -9.75);
    EXPECT_EQ(json["slots"][0]["channels"][7]["calibration"][5],
              (nlohmann::ordered_json{{"range", 5}, {"gain", 65535}, {"offset", -32768}}));
}

TEST(BackplaneJson, RefusesAStateItCannotHoldAndSaysWhere) {
    using json = nlohmann::ordered_json;
    struct Case {
        std::function<void(json &)> spoil;
        std::string message;
    };
    const std::vector<Case> cases = {
        {[](json &j) { j["slots"][1]["module"] = "ZM-9999"; }, "slots[1].module: expected"},
        {[](json &j) { j["slots"][1]["slot"] = 8; },
         "slots[1].slot: expected an integer from 0 to 7"},
        {[](json &j) { j["slots"][1]["slot"] = 0; }, "slot 0 is listed twice"},
        {[](json &j) { j["slots"][0]["power_on_mode"] = 3; }, "slots[0].power_on_mode"},
        {[](json &j) { j["slots"][0]["channels"][2]["range"] = 6; }, "slots[0].channels[2].range"},
        {[](json &j) { j["slots"][0]["channels"][2]["power_on_range"] = -1; },
         "slots[0].channels[2].power_on_range"},
        {[](json &j) { j["slots"][0]["channels"][2]["power_on_value"] = "x"; },
         "slots[0].channels[2].power_on_value: expected a number from -10 to 10 (+/- 10V)"},
        {[](json &j) { j["slots"][0]["channels"][2]["output"] = 1e300; },
         "slots[0].channels[2].output: expected a number from 4 to 20 (4 ~ 20mA)"},
        // No module outputs or keeps what its range cannot: writes saturate at its ends.
        {[](json &j) { j["slots"][0]["channels"][2]["output"] = 3.99; }, "channels[2].output"},
        {[](json &j) { j["slots"][0]["channels"][2]["power_on_value"] = -10.01; },
         "channels[2].power_on_value"},
        {[](json &j) { j["slots"][0]["channels"][0]["output"] = -0.5; }, "channels[0].output"},
        {[](json &j) { j["slots"][1]["firmware"] = -5; }, "slots[1].firmware: expected an integer "
                                                          "from 0 to 32767"},
        {[](json &j) { j["slots"][0]["channels"][7]["calibration"][5]["gain"] = 65536; },
         "slots[0].channels[7].calibration[5].gain"},
        {[](json &j) { j["slots"][0]["channels"][7]["calibration"][5]["offset"] = -32769; },
         "slots[0].channels[7].calibration[5].offset"},
        {[](json &j) { j["slots"][0]["channels"][7]["calibration"][5]["range"] = 4; },
         "calibration[5].range: expected 5"},
        {[](json &j) { j["slots"][1]["firmware"] = 1.5; }, "slots[1].firmware"},
        {[](json &j) { j["slots"][0]["channels"][6]["drift"]["gain_percent"] = -100.5; },
         "slots[0].channels[6].drift.gain_percent: expected a number from -100 to 100"},
        {[](json &j) { j["slots"][0]["channels"][6]["drift"]["offset"] = "1"; },
         "slots[0].channels[6].drift.offset"},
        {[](json &j) { j["slots"][0]["channels"][6]["drift"] = 1; },
         "slots[0].channels[6].drift: expected an object"},
        {[](json &j) { j["slots"][0]["channels"][6]["drift"].erase("offset"); },
         "slots[0].channels[6].drift.offset: missing"},
        {[](json &j) { j["slots"][0]["channels"][2]["channel"] = 3; },
         "slots[0].channels[2].channel: expected 2"},
        {[](json &j) { j["slots"][0]["channels"][2].erase("output"); },
         "slots[0].channels[2].output: missing"},
        {[](json &j) { j["slots"][0]["channels"].erase(7); }, "slots[0].channels: a ZM-4710 has 8"},
        {[](json &j) { j["slots"][0]["channels"][0]["calibration"].erase(5); },
         "slots[0].channels[0].calibration: expected one entry for each"},
        {[](json &j) { j = json::array(); }, "slots: missing"},
        // Refusals that could match no call, which the command line never stores.
        {[](json &j) {
             j["refusals"] = {{{"call", "Init"}, {"channel", 0}, {"result", -4}}};
         },
         "refusals[0].channel: zmod4710_Init is not made on a channel"},
        {[](json &j) {
             j["refusals"] = {{{"call", "GetLibDate"}, {"slot", 0}, {"result", 1}}};
         },
         "refusals[0].slot: zmod4710_GetLibDate is not made on a slot"},
        {[](json &j) {
             j["refusals"] = {{{"call", "WriteAO"}, {"result", 1}, {"after", -1}}};
         },
         "refusals[0].after: expected a count of 0 or more"},
        {[](json &j) {
             j["refusals"] = {{{"call", "any"}, {"result", 1}, {"after", 1.5}}};
         },
         "refusals[0].after: expected"},
        {[](json &j) {
             j["refusals"] = {{{"call", "zmod4710_any"}, {"result", 1}}};
         },
         "refusals[0].call: expected a call of the module library"},
    };
    for (const Case &c : cases) {
        json document = as_json(varied_backplane());
        c.spoil(document);
        try {
            backplane_from_json(document);
            ADD_FAILURE() << "accepted a state that should give: " << c.message;
        } catch (const StateError &error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
                << "expected " << c.message << ", got: " << error.what();
        }
    }
}

TEST(BackplaneJson, RefusesTextThatIsNotJson) {
    for (const char *text : {"", "{\"slots\": [}", "{\"slots\": []} trailing", "\xff",
                             "321e308.0E}", "{\"slots\": [], \"spare\": 1e999}"}) {
        EXPECT_THROW(parse_backplane(text), StateError) << text;
    }
}

TEST(BackplaneJson, RefusesTextThatWouldBeMisreadOrLoseAFieldAtTheNextWrite) {
    nlohmann::ordered_json annotated = as_json(factory_backplane());
    annotated["slots"][0]["channels"][2]["calibration"][5]["note"] = "trimmed by hand";
    const std::pair<std::string, const char *> cases[] = {
        {R"({"slots": [{"slot": 0}], "slots": []})", "\"slots\" is given twice"},
        {R"({"slots": [{"slot": 0, "slot": 3}]})", "\"slot\" is given twice"},
        {std::string(R"({"slots": []})") + '\0' + "{\"slots\": [}", "a NUL byte at offset 13"},
        {R"({"slots": [], "note": "mine"})", "note: not a field"},
        {annotated.dump(), "slots[0].channels[2].calibration[5].note: not a field"},
    };
    for (const auto &[text, message] : cases) {
        try {
            parse_backplane(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const StateError &error) {
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
        }
    }
}

TEST(FactoryBackplane, HoldsOneZm4710InSlot0WithItsOwnCalibrationPerChannel) {
    const Backplane backplane = factory_backplane();
    ASSERT_TRUE(backplane.slots[0].has_value());
    for (int slot = 1; slot < kSlotCount; ++slot) {
        EXPECT_FALSE(backplane.slots[static_cast<std::size_t>(slot)].has_value());
    }
    const Module &module = *backplane.slots[0];
    EXPECT_EQ(module.kind, ModuleKind::zm4710);
    EXPECT_EQ(module.power_on_mode, kPowerOnValue);
    ASSERT_EQ(module.channels.size(), 8u);
    for (int range = 0; range < kRangeCount; ++range) {
        std::set<std::pair<int, int>> seen;
        for (const Channel &channel : module.channels) {
            EXPECT_EQ(channel.output, 0.0f);
            EXPECT_EQ(channel.power_on_value, 0.0f);
            const Calibration &calibration = channel.calibration[static_cast<std::size_t>(range)];
            seen.insert({calibration.gain, calibration.offset});
        }
        EXPECT_EQ(seen.size(), 8u) << "range " << range;
    }
}

TEST(RangeLimits, ClampAtTheEndsOfEachRange) {
    struct Case {
        int range;
        float value, expected;
    };
    for (const Case &c : std::vector<Case>{{0, 7, 5},
                                           {0, -1, 0},
                                           {1, 10.5f, 10},
                                           {1, 2.5f, 2.5f},
                                           {2, -6, -5},
                                           {3, 11, 10},
                                           {3, -10, -10},
                                           {4, 0, 4},
                                           {4, 25, 20},
                                           {4, 12, 12},
                                           {5, -1, 0}}) {
        EXPECT_EQ(clamp_to_range(c.range, c.value), c.expected)
            << "range " << c.range << " value " << c.value;
    }
}

// Every line the trace's writers make reads back as what it told, and a line
// that is not quite one of them is no trace line at all.
TEST(TraceLines, ReadBackWhatTheyTellAndNothingElse) {
    const std::string at = "2026-12-09T15:04:05.123456Z 4242 ";
    Backplane backplane = factory_backplane();
    insert_module(backplane, 3, ModuleKind::zm4704, 7, false);
    insert_module(backplane, 5, ModuleKind::other, 1, false);
    std::vector<std::string> told = told_with_backplane(told_power_cycle(), backplane);
    for (const std::string &line : told) {
        const std::optional<TraceLine> read = read_trace_line(at + line);
        ASSERT_TRUE(read) << line;
        EXPECT_EQ(read->microseconds, 1796828645123456) << line;
        EXPECT_EQ(read->process, 4242) << line;
    }
    ASSERT_EQ(told.size(), 1u + 9u + 5u + 6u);
    const std::optional<TraceLine> four_channels =
        read_trace_line(at + told[12]); // after slots 1 and 2, empty
    EXPECT_TRUE(four_channels->kind == TraceLine::Kind::slot && four_channels->slot == 3 &&
                four_channels->module == ModuleKind::zm4704 && four_channels->mode == 1);

    // Each call, as the library tells it, reads back as the call it was, and
    // at its time and process, whichever times the text writes.
    std::vector<CallRecord> calls{call_made(Call::write_ao, 0, 2, 4),
                                  call_made(Call::init, 5),
                                  call_made(Call::read_ao_gain_offset, 1, 3, 2),
                                  call_made(Call::get_lib_date),
                                  call_made(Call::get_firmware_version, 7),
                                  call_made(Call::set_power_on_en_status, 2),
                                  call_made(Call::write_power_on_ao, 3, 1, 0),
                                  call_made(Call::get_lib_version)};
    const int results[] = {7, 0, 0, 0, 0, -4, 0, 256};
    for (std::size_t index = 0; index < calls.size(); ++index) {
        calls[index].result = results[index];
    }
    calls[0].value = 12.5f;
    calls[0].refused_on_request = true;
    calls[2].given = CallRecord::Given::calibration;
    calls[2].gain = 65535;
    calls[2].offset = -32768;
    calls[3].given = CallRecord::Given::date;
    calls[4].given = CallRecord::Given::version;
    calls[4].version = -1;
    calls[5].mode = 7;
    calls[5].answered_by_callback = true;
    calls[6].value = -1e-30f;
    const std::int64_t times[] = {0, 1796828645123456, -1, 253402300799999999};
    for (std::size_t index = 0; index < calls.size(); ++index) {
        const CallRecord &made = calls[index];
        const std::int64_t time = times[index % 4];
        std::string line;
        append_traced_line(line, time, 77, call_text(made));
        ASSERT_EQ(line.back(), '\n');
        line.pop_back();
        const std::optional<TraceLine> read = read_trace_line(line);
        ASSERT_TRUE(read) << call_text(made);
        const CallRecord &back = read->record;
        EXPECT_TRUE(
            read->kind == TraceLine::Kind::call && read->microseconds == time &&
            read->process == 77 && back.call == made.call && back.slot == made.slot &&
            back.channel == made.channel && back.range == made.range && back.mode == made.mode &&
            back.value == made.value && back.result == made.result &&
            back.refused_on_request == made.refused_on_request &&
            back.answered_by_callback == made.answered_by_callback && back.given == made.given &&
            back.gain == made.gain && back.offset == made.offset && back.version == made.version)
            << call_text(made);
    }
    const std::optional<TraceLine> zero = read_trace_line(at + told_time_zero(1796828645000001));
    EXPECT_TRUE(zero && zero->kind == TraceLine::Kind::time_zero && zero->zero == 1796828645000001);
    const std::optional<TraceLine> slot_line = read_trace_line(at + "! slot 6 empty");
    EXPECT_TRUE(slot_line && slot_line->kind == TraceLine::Kind::slot && slot_line->slot == 6 &&
                !slot_line->module);
    for (const std::string &line :
         {at + "zmod4710_Bogus(1) = 0", at + "zmod4710_any(1) = 0",
          at + "zmod4710_WriteAO(0, 1, 2) = 0", at + "zmod4710_Init(0) = 0junk",
          at + "zmod4710_Init(0) =", at + "! slot 3 channel 0 output 1 range 9 power-on 0 range 0",
          at + "! slot 3 ZM-9999 mode 1", at + "! slot 3 ZM-4704", at + "! ", at,
          std::string("2026-13-09T15:04:05.123456Z 1 zmod4710_Init(0) = 0"),
          std::string("2026-12-09T15:04:05.12345Z 1 zmod4710_Init(0) = 0"),
          std::string("2026-12-09 15:04:05.123456Z 1 zmod4710_Init(0) = 0"),
          std::string("2026-12-09T15:04:05.123456Z zmod4710_Init(0) = 0"),
          // Times no clock tells, and marks or gifts that are not the call's.
          std::string("2026-02-31T15:04:05.123456Z 1 zmod4710_Init(0) = 0"),
          std::string("2026-12-09T15:04:60.123456Z 1 zmod4710_Init(0) = 0"),
          std::string("2026-12-09T15:-4:05.123456Z 1 zmod4710_Init(0) = 0"),
          std::string("+2026-12-09T15:04:05.123456Z 1 zmod4710_Init(0) = 0"),
          at + "zmod4710_Init(0) = 0, version 3", at + "zmod4710_Init(0) = 0 (refused)",
          at + "zmod4710_GetLibDate() = 0, date 1999-01-01", at + "! time zero yesterday",
          std::string()}) {
        EXPECT_FALSE(read_trace_line(line)) << line;
    }
}

// A line longer than any a trace holds is read through in bounded memory and
// given as such, and the lines around it whole; a reader stops at its limit,
// so that a second pass reads what the first did, whatever was appended since.
TEST(TraceReader, SkipsALineTooLongAndStopsAtItsLimit) {
    TemporaryDirectory directory;
    const std::filesystem::path trace = directory.path() / "trace.txt";
    const std::string good = "2026-12-09T15:04:05.123456Z 42 ! power cycle";
    write_text_file(trace, good + "\n" + std::string(16 << 20, 'x') + "\r\n" + good + "\r\n" +
                               "2026-12-09T15:04:05.1");
    const std::vector<std::string> expected{good, TraceReader::kLineTooLong, good,
                                            "2026-12-09T15:04:05.1"};
    const auto read_all = [&](std::uint64_t limit, std::uint64_t *consumed) {
        TraceReader reader(trace, limit);
        std::vector<std::string> lines;
        for (std::string line; reader.next(line);) {
            lines.push_back(line);
        }
        *consumed = reader.consumed();
        return lines;
    };
    const auto started = std::chrono::steady_clock::now();
    std::uint64_t consumed = 0;
    EXPECT_EQ(read_all(TraceReader::kNoLimit, &consumed), expected);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(consumed, std::filesystem::file_size(trace));
    std::ofstream(trace, std::ios::app) << "23456Z 42 ! reset\n" << good << "\n";
    std::uint64_t again = 0;
    EXPECT_EQ(read_all(consumed, &again), expected);
    EXPECT_EQ(again, consumed);
}

#ifdef _WIN32
TEST(DefaultStatePath, PrefersTheVariableThenLocalAppData) {
    ScopedEnvironment local("LOCALAPPDATA", "C:\\Users\\me\\AppData\\Local");
    {
        ScopedEnvironment state("ZMOD4710_SIM_STATE", "D:\\mine.json");
        EXPECT_EQ(default_state_path(), "D:\\mine.json");
    }
    ScopedEnvironment state("ZMOD4710_SIM_STATE", std::nullopt);
    EXPECT_EQ(default_state_path(), "C:\\Users\\me\\AppData\\Local\\zmod4710-sim\\backplane.json");
}
#else
TEST(DefaultStatePath, PrefersTheVariableThenXdgStateHomeThenHome) {
    ScopedEnvironment home("HOME", "/home/user");
    {
        ScopedEnvironment state("ZMOD4710_SIM_STATE", "/tmp/mine.json");
        ScopedEnvironment xdg("XDG_STATE_HOME", "/xdg");
        EXPECT_EQ(default_state_path(), "/tmp/mine.json");
    }
    ScopedEnvironment state("ZMOD4710_SIM_STATE", std::nullopt);
    {
        ScopedEnvironment xdg("XDG_STATE_HOME", "/xdg");
        EXPECT_EQ(default_state_path(), "/xdg/zmod4710-sim/backplane.json");
    }
    for (const std::optional<std::string> &ignored :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>("relative")}) {
        ScopedEnvironment xdg("XDG_STATE_HOME", ignored);
        EXPECT_EQ(default_state_path(), "/home/user/.local/state/zmod4710-sim/backplane.json");
    }
}
#endif

TEST(StateFile, WithoutAFileHoldsTheFactoryBackplaneAndCreatesNothingUntilAWrite) {
    TemporaryDirectory directory;
    const StateFile file(directory.path() / "deep" / "er" / "backplane.json");
    EXPECT_TRUE(file.load() == factory_backplane());
    EXPECT_FALSE(std::filesystem::exists(directory.path() / "deep"));
    EXPECT_TRUE(file.update([](Backplane &backplane) {
        backplane.slots[0]->channels[1].output = 3.5f;
        return true;
    }));
    EXPECT_EQ(file.load().slots[0]->channels[1].output, 3.5f);
    EXPECT_FALSE(file.update([](Backplane &backplane) {
        backplane.slots[0]->channels[1].output = 9.0f;
        return false;
    }));
    EXPECT_EQ(file.load().slots[0]->channels[1].output, 3.5f) << "a declined change is not kept";
}

TEST(StateFile, NeverOverwritesAFileItCannotParse) {
    TemporaryDirectory directory;
    const StateFile file(directory.path() / "backplane.json");
    const std::string corrupt = "{\"slots\": [ {\"slot\": 0,";
    write_text_file(file.path(), corrupt);
    bool changed = false;
    try {
        file.update([&](Backplane &) { return changed = true; });
        ADD_FAILURE() << "a corrupt file was accepted";
    } catch (const StateError &error) {
        EXPECT_NE(std::string(error.what()).find(file.path().string()), std::string::npos);
    }
    EXPECT_FALSE(changed);
    EXPECT_EQ(read_text_file(file.path()), corrupt);
}

TEST(StateFile, RefusesUnreadAFileThatIsNoRegularFileOrTooLarge) {
    TemporaryDirectory directory;
    const std::filesystem::path large = directory.path() / "large.json";
    write_text_file(large, std::string(kMaxStateFileSize + 1, ' '));
#ifdef _WIN32
    const std::filesystem::path device = "NUL";
#else
    const std::filesystem::path device = "/dev/zero";
    const std::filesystem::path fifo = directory.path() / "fifo.json";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(StateFile(fifo).load(), StateError) << "and does not wait for a writer";
    // Nor is a FIFO or a device written as a trace, with a reader waiting or without.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_THROW(append_to_trace(fifo, {}), StateError);
    ::close(reader);
    EXPECT_THROW(append_to_trace(fifo, {}), StateError);
#endif
    EXPECT_THROW(StateFile(device).load(), StateError);
    EXPECT_THROW(append_to_trace(device, {}), StateError);
    EXPECT_THROW(StateFile(large).load(), StateError);
}

TEST(StateFile, RefusesToWriteAStateItsOwnerMayNotWrite) {
    TemporaryDirectory directory;
    const StateFile file(directory.path() / "backplane.json");
    file.store(factory_backplane());
    std::filesystem::permissions(file.path(), std::filesystem::perms::owner_read |
                                                  std::filesystem::perms::group_read |
                                                  std::filesystem::perms::others_read);
    const std::string before = read_text_file(file.path());
    EXPECT_THROW(file.update([](Backplane &backplane) {
        backplane.slots[0]->firmware = 4;
        return true;
    }),
                 StateError);
    EXPECT_EQ(read_text_file(file.path()), before);
    EXPECT_TRUE(file.load() == factory_backplane()) << "it is still read";
}

#ifndef _WIN32
std::set<std::string> names_in(const std::filesystem::path &folder) {
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(StateFile, WritesThroughALinkToItAndKeepsTheFilesMode) {
    TemporaryDirectory directory;
    const std::filesystem::path real = directory.path() / "real.json";
    const std::filesystem::path link = directory.path() / "link.json";
    StateFile(real).store(factory_backplane());
    std::filesystem::permissions(real, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write);
    std::filesystem::create_symlink("real.json", link);
    StateFile(link).update([](Backplane &backplane) {
        backplane.slots[0]->channels[0].output = 2.5f;
        return true;
    });
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(StateFile(real).load().slots[0]->channels[0].output, 2.5f);
    EXPECT_EQ(std::filesystem::status(real).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(names_in(directory.path()),
              (std::set<std::string>{"link.json", "real.json", "real.json.lock"}))
        << "one lock for both names, and no temporary file left";
}

TEST(StateFile, NeverWritesThroughALinkPlantedBesideIt) {
    TemporaryDirectory directory;
    const std::filesystem::path victim = directory.path() / "victim";
    write_text_file(victim, "precious");
    const StateFile file(directory.path() / "backplane.json");
    std::filesystem::create_symlink(victim, directory.path() / "backplane.json.tmp");
    file.store(factory_backplane());
    EXPECT_EQ(read_text_file(victim), "precious");

    const StateFile other(directory.path() / "other.json");
    std::filesystem::create_symlink(directory.path() / "made",
                                    directory.path() / "other.json.lock");
    EXPECT_THROW(other.store(factory_backplane()), StateError);
    EXPECT_FALSE(std::filesystem::exists(directory.path() / "made"));
}

TEST(StateFile, MakesPrivateFoldersAndLeavesNoTemporaryFileWhenAWriteFails) {
    TemporaryDirectory directory;
    StateFile(directory.path() / "state" / "zmod4710-sim" / "backplane.json")
        .store(factory_backplane());
    for (const std::filesystem::path &folder :
         {directory.path() / "state", directory.path() / "state" / "zmod4710-sim"}) {
        EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_all)
            << folder;
    }
    // A file size limit that the state exceeds: the write fails halfway.
    const StateFile file(directory.path() / "backplane.json");
    file.store(Backplane{});
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_THROW(file.store(factory_backplane()), StateError);
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_TRUE(file.load() == Backplane{});
    EXPECT_EQ(names_in(directory.path()),
              (std::set<std::string>{"state", "backplane.json", "backplane.json.lock"}));

    // A new trace is the user's alone, whatever the umask; the state is no trace.
    const mode_t mask = ::umask(0);
    append_to_trace(directory.path() / "trace.txt", file.path());
    ::umask(mask);
    EXPECT_EQ(std::filesystem::status(directory.path() / "trace.txt").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::create_symlink("backplane.json", directory.path() / "link.json");
    for (const char *name : {"backplane.json", "backplane.json.lock", "link.json",
                             ".backplane.json.0123456789abcdef0123456789abcdef.tmp"}) {
        EXPECT_THROW(append_to_trace(directory.path() / name, file.path()), StateError) << name;
    }
    EXPECT_TRUE(file.load() == Backplane{});
    EXPECT_EQ(read_text_file(directory.path() / "backplane.json.lock").find("line"),
              std::string::npos);
}

TEST(StateFile, RefusesANameThatHoldsNoFileBeforeMakingAnything) {
    TemporaryDirectory directory;
    const std::filesystem::path folder = directory.path() / "folder";
    const std::filesystem::path fifo = directory.path() / "fifo";
    std::filesystem::create_directory(folder);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::set<std::string> before = names_in(directory.path());
    for (const std::filesystem::path &path :
         {std::filesystem::path("/"), folder, fifo, directory.path() / "new" / "",
          directory.path() / "new" / "..", folder / "."}) {
        EXPECT_THROW(StateFile(path).store(factory_backplane()), StateError) << path;
        EXPECT_THROW(StateFile(path).update([](Backplane &) { return true; }), StateError) << path;
        EXPECT_THROW(append_to_trace(path, {}), StateError) << path;
    }
    EXPECT_EQ(names_in(directory.path()), before);
    EXPECT_TRUE(names_in(folder).empty());
    EXPECT_FALSE(std::filesystem::exists("/.lock"));
}

TEST(StateFile, FollowsNoMoreLinksThanTheSystemWould) {
    TemporaryDirectory directory;
    const auto link = [&](int number) {
        return directory.path() / ("link" + std::to_string(number));
    };
    for (int number = 1; number <= 41; ++number) {
        std::filesystem::create_symlink(
            number == 1 ? directory.path() / "state.json" : link(number - 1), link(number));
    }
    StateFile(link(40)).store(factory_backplane());
    EXPECT_TRUE(std::filesystem::is_regular_file(directory.path() / "state.json"));
    std::filesystem::remove(directory.path() / "state.json");
    try {
        StateFile(link(41)).store(factory_backplane());
        ADD_FAILURE() << "41 links were followed";
    } catch (const StateError &error) {
        EXPECT_NE(std::string(error.what()).find("more than 40 symbolic links"), std::string::npos)
            << error.what();
    }
    EXPECT_FALSE(std::filesystem::exists(directory.path() / "state.json"));
    EXPECT_TRUE(std::filesystem::is_symlink(link(40)));
}

#ifdef __linux__
// Links in /proc say they are 0 bytes long: the state is reached through them
// all the same.
TEST(StateFile, FollowsALinkWhateverLengthItSays) {
    TemporaryDirectory directory;
    const int folder = ::open(directory.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    const std::string through_proc = "/proc/self/fd/" + std::to_string(folder) + "/backplane.json";
    ASSERT_EQ(std::filesystem::symlink_status("/proc/self").type(),
              std::filesystem::file_type::symlink);
    StateFile(through_proc).store(varied_backplane());
    EXPECT_TRUE(StateFile(directory.path() / "backplane.json").load() == varied_backplane());
    EXPECT_TRUE(StateFile(through_proc).load() == varied_backplane());
    ::close(folder);
}
#endif

// A state in directory that its owner alone may read and write.
StateFile private_state(const TemporaryDirectory &directory) {
    StateFile file(directory.path() / "backplane.json");
    file.store(factory_backplane());
    std::filesystem::permissions(file.path(), std::filesystem::perms::owner_read |
                                                  std::filesystem::perms::owner_write);
    return file;
}

// Waits of the full bound are in suites named *LockWaits, which one preset runs.
TEST(StateFileLockWaits, WaitForAnotherProgramsLockTenSecondsAtMostAndKeepTheLockPrivate) {
    TemporaryDirectory directory;
    const StateFile file = private_state(directory);
    const std::filesystem::path lock = directory.path() / "backplane.json.lock";
    // Anyone who can open the lock can hold it: only those who may read the state.
    file.store(factory_backplane());
    EXPECT_EQ(std::filesystem::status(lock).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    const int holder = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    try {
        file.update([](Backplane &) { return true; });
        ADD_FAILURE() << "a held lock was taken";
    } catch (const StateError &error) {
        EXPECT_EQ(std::string(error.what()),
                  "cannot lock " + lock.string() +
                      ": waited 10 seconds, and another program still has it");
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::seconds(10));
    EXPECT_LT(waited, std::chrono::seconds(12));
    ::close(holder);
    EXPECT_TRUE(file.update([](Backplane &) { return true; }));
}

#ifdef __linux__
TEST(StateFile, NobodyElseCanReadAPrivateStateWhileItIsWritten) {
    TemporaryDirectory directory;
    const StateFile file = private_state(directory);
    // Each temporary file is looked at as soon as it is made.
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, directory.path().c_str(), IN_CREATE), 0);
    std::thread writer([&] {
        for (int write = 0; write < 200; ++write) {
            file.update([&](Backplane &backplane) {
                backplane.slots[0]->channels[0].output = static_cast<float>(write % 5);
                return true;
            });
        }
    });
    std::set<std::string> seen_open;
    for (int seen = 0; seen < 200;) {
        alignas(inotify_event) char events[4096];
        const ssize_t size = ::read(watch, events, sizeof events);
        ASSERT_GT(size, 0);
        for (char *at = events; at < events + size;) {
            const auto *event = reinterpret_cast<const inotify_event *>(at);
            at += sizeof(inotify_event) + event->len;
            struct stat temporary {};
            if (std::string(event->name).find(".tmp") == std::string::npos) {
                continue;
            }
            ++seen;
            if (::stat((directory.path() / event->name).c_str(), &temporary) == 0 &&
                (temporary.st_mode & 0077) != 0) {
                seen_open.insert(event->name);
            }
        }
    }
    writer.join();
    ::close(watch);
    EXPECT_TRUE(seen_open.empty()) << seen_open.size() << " temporary files others could read";
}
#endif

// The owners of files, folders and links that another user made, and what
// becomes of the state: refused, with nothing made anywhere.
class AnotherUsersFiles : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "only root can give files to another user";
        }
    }
    static constexpr uid_t kOther = 65534; // nobody
    TemporaryDirectory directory;

    std::filesystem::path folder(const std::string &name, std::filesystem::perms mode,
                                 uid_t owner) const {
        std::filesystem::path made = directory.path() / name;
        std::filesystem::create_directory(made);
        std::filesystem::permissions(made, mode);
        EXPECT_EQ(::chown(made.c_str(), owner, owner), 0);
        return made;
    }
    static void give(const std::filesystem::path &path, uid_t owner) {
        EXPECT_EQ(::lchown(path.c_str(), owner, owner), 0) << path;
    }
    // Every way to use the state is refused, with a reason, and nothing is made;
    // a trace, written or read, alike.
    void expect_refused(const std::filesystem::path &state, const std::string &reason) const {
        const auto files_before = everything_in(directory.path());
        const StateFile file(state);
        const std::function<void()> uses[] = {
            [&] { file.load(); }, [&] { file.store(factory_backplane()); },
            [&] { file.update([](Backplane &) { return true; }); },
            [&] { append_to_trace(state, {}); }, [&] { TraceReader reader(state); }};
        for (const auto &use : uses) {
            try {
                use();
                ADD_FAILURE() << state << " was used";
            } catch (const StateError &error) {
                EXPECT_NE(std::string(error.what()).find(reason), std::string::npos)
                    << error.what();
                EXPECT_NE(std::string(error.what()).find(state.string()), std::string::npos);
            }
        }
        EXPECT_EQ(everything_in(directory.path()), files_before) << state;
    }
    static std::set<std::string> everything_in(const std::filesystem::path &folder) {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(folder)) {
            names.insert(entry.path().string());
        }
        return names;
    }
};

TEST_F(AnotherUsersFiles, AreRefusedWhereverTheyAreOnTheWay) {
    using std::filesystem::perms;
    const std::filesystem::path root_only = folder("root-only", perms::owner_all, 0);
    // Another user's public folder, with a link to a place of root's.
    const std::filesystem::path evil = folder("evil", perms::all, kOther);
    std::filesystem::create_symlink(root_only / "sub" / "p.json", evil / "backplane.json");
    give(evil / "backplane.json", kOther);
    expect_refused(evil / "backplane.json",
                   "its folder " + evil.string() + " belongs to another user");

    // A public folder of root's without the sticky bit: anyone could swap the file.
    const std::filesystem::path open = folder("open", perms::all, 0);
    expect_refused(open / "backplane.json",
                   "others can write its folder " + open.string() + " (mode 0777)");

    // A sticky public folder, as /tmp: its files and links must be the user's own.
    const std::filesystem::path shared = folder("shared", perms::all | perms::sticky_bit, 0);
    StateFile(shared / "mine.json").store(factory_backplane());
    write_text_file(shared / "theirs.json", format_backplane(factory_backplane()));
    give(shared / "theirs.json", kOther);
    expect_refused(shared / "theirs.json",
                   (shared / "theirs.json").string() + " belongs to another user");
    std::filesystem::create_symlink("mine.json", shared / "their-link.json");
    give(shared / "their-link.json", kOther);
    expect_refused(shared / "their-link.json", "belongs to another user");
    // A folder link on the way counts as much as the last one.
    std::filesystem::create_symlink(root_only, shared / "their-folder");
    give(shared / "their-folder", kOther);
    expect_refused(shared / "their-folder" / "backplane.json", "belongs to another user");

    // In a folder of the user's, another user's state or lock.
    const std::filesystem::path mine = folder("mine", perms::owner_all, 0);
    StateFile(mine / "backplane.json").store(factory_backplane());
    give(mine / "backplane.json", kOther);
    expect_refused(mine / "backplane.json", "belongs to another user");
    StateFile(mine / "other.json").store(factory_backplane());
    give(mine / "other.json.lock", kOther);
    const StateFile locked(mine / "other.json");
    EXPECT_THROW(locked.store(factory_backplane()), StateError);
    EXPECT_TRUE(locked.load() == factory_backplane()) << "reading takes no lock";
}
#endif

} // namespace
} // namespace zmod4710_sim
