// The simulated module library through its C interface, as the tools call it.
#include "zmod4710.h"
#include "zmod4710_sim.h"

#include "sim_cli.hpp"

#include "backplane.hpp"
#include "backplane_json.hpp"
#include "locate.hpp"
#include "lock_files.hpp"
#include "simulated_backplane_test.hpp"
#include "state_file.hpp"
#include "trace_lines.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#ifdef __linux__
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace zmod4710_sim {
namespace {

const std::string kProbe = SIM_LIBRARY_PROBE_PATH;

class SimulatedLibrary : public SimulatedBackplaneTest {
protected:
    // In a folder of its own, so that a test can see the folder made at the first write.
    SimulatedLibrary()
        : SimulatedBackplaneTest(std::filesystem::path("state") / "backplane.json") {}
};

TEST_F(SimulatedLibrary, StartsAsTheFactoryBackplaneAndCreatesTheFileAtTheFirstWrite) {
    EXPECT_EQ(zmod4710_Init(0), 0);
    for (int slot = 1; slot < kSlotCount; ++slot) {
        EXPECT_NE(zmod4710_Init(slot), 0) << "slot " << slot;
    }
    short firmware = 0;
    EXPECT_EQ(zmod4710_GetFirmwareVersion(0, &firmware), 0);
    EXPECT_EQ(firmware, kFactoryFirmware);
    unsigned short gain = 0;
    short offset = 0;
    EXPECT_EQ(zmod4710_ReadAO_GainOffset(0, 6, 2, &gain, &offset), 0);
    EXPECT_EQ(gain, factory_calibration(6, 2).gain);
    EXPECT_EQ(offset, factory_calibration(6, 2).offset);
    EXPECT_FALSE(std::filesystem::exists(state_path.parent_path())) << "reading writes nothing";

    EXPECT_EQ(zmod4710_WriteAO(0, 6, 2, 1.5f), 0);
    EXPECT_TRUE(std::filesystem::exists(state_path));
}

TEST_F(SimulatedLibrary, KeepsEveryWriteInTheFileForTheNextRun) {
    ASSERT_EQ(zmod4710_Init(0), 0);
    EXPECT_EQ(zmod4710_WriteAO(0, 3, 1, 2.5f), 0);
    EXPECT_EQ(zmod4710_SetPowerOnEnStatus(0, 2), 0);
    EXPECT_EQ(zmod4710_WritePowerOn_AO(0, 3, 4, 6.0f), 0);
    const Backplane backplane = state_file.load();
    const Channel &written = backplane.slots[0]->channels[3];
    EXPECT_EQ(written.range, 1);
    EXPECT_EQ(written.output, 2.5f);
    EXPECT_EQ(written.power_on_range, 4);
    EXPECT_EQ(written.power_on_value, 6.0f);
    EXPECT_EQ(backplane.slots[0]->power_on_mode, kRetentive);
    EXPECT_EQ(backplane.slots[0]->channels[2], factory_module(ModuleKind::zm4710).channels[2])
        << "other channels are untouched";
}

TEST_F(SimulatedLibrary, SaturatesValuesAtTheEndsOfTheRange) {
    ASSERT_EQ(zmod4710_Init(0), 0);
    EXPECT_EQ(zmod4710_WriteAO(0, 0, 4, 1.0f), 0);
    EXPECT_EQ(channel(0, 0).output, 4.0f);
    EXPECT_EQ(zmod4710_WriteAO(0, 0, 0, 12.0f), 0);
    EXPECT_EQ(channel(0, 0).output, 5.0f);
    EXPECT_EQ(zmod4710_WritePowerOn_AO(0, 0, 2, -100.0f), 0);
    EXPECT_EQ(channel(0, 0).power_on_value, -5.0f);
}

TEST_F(SimulatedLibrary, RefusesWhatTheModuleWouldNotTakeAndChangesNothing) {
    Backplane backplane = factory_backplane();
    backplane.slots[2] = factory_module(ModuleKind::zm4704);
    // The module's own refusals come first, and use up none asked for.
    for (Call call : {Call::write_ao, Call::write_power_on_ao, Call::set_power_on_en_status,
                      Call::read_ao_gain_offset, Call::get_firmware_version, Call::get_lib_date}) {
        backplane.refusals.push_back({call, std::nullopt, std::nullopt, 7, 1});
    }
    arrange(backplane);
    ASSERT_EQ(zmod4710_Init(0), 0);
    ASSERT_EQ(zmod4710_Init(2), 0);
    const std::string before = read_text_file(state_path);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    unsigned short gain = 0;
    short offset = 0;

    EXPECT_NE(zmod4710_WriteAO(0, 8, 0, 1.0f), 0) << "a ZM-4710 has channels 0 to 7";
    EXPECT_NE(zmod4710_WriteAO(2, 4, 0, 1.0f), 0) << "a ZM-4704 has channels 0 to 3";
    EXPECT_NE(zmod4710_WriteAO(0, -1, 0, 1.0f), 0);
    EXPECT_NE(zmod4710_WriteAO(0, 0, 6, 1.0f), 0);
    EXPECT_NE(zmod4710_WriteAO(0, 0, -1, 1.0f), 0);
    EXPECT_NE(zmod4710_WriteAO(0, 0, 0, nan), 0);
    EXPECT_NE(zmod4710_WriteAO(0, 0, 0, -inf), 0);
    EXPECT_NE(zmod4710_WritePowerOn_AO(0, 0, 0, inf), 0);
    EXPECT_NE(zmod4710_WritePowerOn_AO(0, 9, 0, 1.0f), 0);
    EXPECT_NE(zmod4710_SetPowerOnEnStatus(0, 0), 0);
    EXPECT_NE(zmod4710_SetPowerOnEnStatus(0, 3), 0);
    EXPECT_NE(zmod4710_ReadAO_GainOffset(0, 0, 6, &gain, &offset), 0);
    EXPECT_NE(zmod4710_ReadAO_GainOffset(2, 4, 0, &gain, &offset), 0);
    EXPECT_NE(zmod4710_ReadAO_GainOffset(0, 0, 0, nullptr, &offset), 0);
    EXPECT_NE(zmod4710_GetFirmwareVersion(0, nullptr), 0);
    EXPECT_NE(zmod4710_GetLibDate(nullptr), 0);
    EXPECT_EQ(read_text_file(state_path), before);
}

TEST_F(SimulatedLibrary, InitAnswersOnlyForAnAnalogOutputModule) {
    Backplane backplane;
    backplane.slots[1] = factory_module(ModuleKind::other);
    backplane.slots[4] = factory_module(ModuleKind::zm4704);
    // A refusal of Init answers only a slot that holds such a module.
    backplane.refusals.push_back({Call::init, std::nullopt, std::nullopt, 7, 1});
    arrange(backplane);
    EXPECT_EQ(zmod4710_Init(0), ZMOD4710_SIM_NO_MODULE) << "empty";
    EXPECT_EQ(zmod4710_Init(1), ZMOD4710_SIM_NO_MODULE) << "another kind of module";
    EXPECT_EQ(zmod4710_Init(-1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT_EQ(zmod4710_Init(8), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT_EQ(zmod4710_Init(4), 7);
    EXPECT_EQ(zmod4710_Init(4), 0);
}

TEST_F(SimulatedLibrary, RefusesCallsOnASlotWhoseInitHasNotSucceeded) {
    const ProcessResult result = run_program({kProbe, "uninitialised"}, "");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_FALSE(std::filesystem::exists(state_path));
}

TEST_F(SimulatedLibrary, RefusesAModuleTakenOutAfterItsInit) {
    ASSERT_EQ(zmod4710_Init(0), 0);
    arrange(Backplane{});
    EXPECT_NE(zmod4710_WriteAO(0, 0, 0, 1.0f), 0);
    EXPECT_FALSE(state_file.load().slots[0].has_value());

    // Another program puts a module of the same kind in its place: no Init
    // has been made on that one.
    std::ostringstream out, err;
    const char *const insert[] = {"zmod4710-sim", "insert", "0"};
    ASSERT_EQ(run_sim_cli(3, insert, out, err), 0) << err.str();
    EXPECT_EQ(zmod4710_WriteAO(0, 0, 0, 1.0f), ZMOD4710_SIM_NO_MODULE);
    EXPECT_EQ(zmod4710_Init(0), 0);
    EXPECT_EQ(zmod4710_WriteAO(0, 0, 0, 1.0f), 0);
}

TEST_F(SimulatedLibrary, SeesAnotherProgramsChangeAtTheVeryNextCall) {
    ASSERT_EQ(zmod4710_Init(0), 0);
    short firmware = 0;
    // Changes faster than the clock that stamps files ticks, each a new file.
    for (std::int16_t version = 1; version <= 200; ++version) {
        state_file.update([&](Backplane &backplane) {
            backplane.slots[0]->firmware = version;
            return true;
        });
        ASSERT_EQ(zmod4710_GetFirmwareVersion(0, &firmware), 0);
        ASSERT_EQ(firmware, version);
    }
    // And a change made in place, as an editor may save it.
    Backplane edited = state_file.load();
    edited.slots[0]->firmware = 12345;
    write_text_file(state_path, format_backplane(edited));
    ASSERT_EQ(zmod4710_GetFirmwareVersion(0, &firmware), 0);
    EXPECT_EQ(firmware, 12345);
}

#ifdef __linux__
// Whether this process has the file at path open for writing.
bool open_for_writing_here(const std::filesystem::path &path) {
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const int flags = ::fcntl(std::stoi(entry.path().filename().string()), F_GETFL);
        if (std::filesystem::equivalent(std::filesystem::read_symlink(entry.path(), error), path,
                                        error) &&
            (flags & O_ACCMODE) != O_RDONLY) {
            return true;
        }
    }
    return false;
}

// An edit made through a shared mapping changes neither the file's size nor,
// once its page is dirty, its times: a write still starts from it.
TEST_F(SimulatedLibrary, NeverWritesOverAnotherProgramsEditHoweverItWasMade) {
    arrange(factory_backplane());
    ASSERT_EQ(zmod4710_Init(0), 0);
    const int file = ::open(state_path.c_str(), O_RDWR | O_CLOEXEC);
    const auto size = static_cast<std::size_t>(std::filesystem::file_size(state_path));
    auto *text =
        static_cast<char *>(::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0));
    ASSERT_NE(text, MAP_FAILED);
    char *firmware = std::strstr(text, "\"firmware\": 3");
    ASSERT_NE(firmware, nullptr);
    firmware[12] = '4'; // the page is dirty from here on
    short version = 0;
    ASSERT_EQ(zmod4710_GetFirmwareVersion(0, &version), 0);
    ASSERT_EQ(version, 4);
    firmware[12] = '5';
    EXPECT_EQ(zmod4710_WriteAO(0, 6, 1, 2.5f), 0);
    ::munmap(text, size);
    ::close(file);
    EXPECT_EQ(backplane().slots[0]->firmware, 5) << "the edit was written over";
    EXPECT_EQ(channel(0, 6).output, 2.5f);
    EXPECT_FALSE(open_for_writing_here(state_path)) << "the state is held open for writing";
}
#endif

TEST_F(SimulatedLibrary, ReportsAnUnreadableStateOnceAndLeavesTheFileAsItWas) {
    std::filesystem::create_directories(state_path.parent_path());
    const std::string corrupt = "{ \"slots\": [ { \"slot\": 0, \"module\": \"ZM-47";
    write_text_file(state_path, corrupt);
    const ProcessResult result = run_program({kProbe, "scan"}, "");
    EXPECT_EQ(result.exit_status, 0) << "no slot answers";
    EXPECT_EQ(result.output, "") << "standard output belongs to the tools";
    ASSERT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
    EXPECT_NE(result.errors.find(state_path.string()), std::string::npos) << result.errors;
    EXPECT_EQ(read_text_file(state_path), corrupt);
}

TEST_F(SimulatedLibrary, RefusesWritesOnceTheFileTurnsUnreadable) {
    ASSERT_EQ(zmod4710_Init(0), 0);
    std::filesystem::create_directories(state_path.parent_path());
    const std::string corrupt = "not json at all";
    write_text_file(state_path, corrupt);
    EXPECT_EQ(run_program({kProbe, "scan"}, "").exit_status, 0) << "no slot answers";
    EXPECT_NE(zmod4710_WriteAO(0, 0, 0, 1.0f), 0) << "after a successful Init too";
    EXPECT_NE(zmod4710_SetPowerOnEnStatus(0, 2), 0);
    EXPECT_EQ(read_text_file(state_path), corrupt);
}

// A test's arrangement and what a program did, through the control interface:
// the same sequence answers alike on a file and in memory; what is arranged in
// the file, the command line sees, and what the command line stores there, the
// next call in the process meets.
std::vector<std::string> drive_and_tell() {
    EXPECT_EQ(zmod4710_sim_reset(), 0);
    EXPECT_EQ(zmod4710_sim_insert(3, "ZM-4704", 9), 0);
    EXPECT_EQ(zmod4710_sim_refuse("WriteAO", 3, ZMOD4710_SIM_ANY, 7, 1), 0);
    // The second read, and slot 3 silent from its eighth call on, each call
    // counted, the refused ones too.
    EXPECT_EQ(zmod4710_sim_refuse_after("ReadAO_GainOffset", 3, 1, 8, 1, 1), 0);
    EXPECT_EQ(zmod4710_sim_refuse_after("any", 3, ZMOD4710_SIM_ANY, -2, 7, ZMOD4710_SIM_ALWAYS), 0);
    EXPECT_EQ(zmod4710_sim_calibrate(3, 1, 4, 400, -3), 0);
    unsigned short gain = 0;
    short offset = 0;
    short version = 0;
    zmod4710_Init(2);
    zmod4710_Init(3);
    zmod4710_WriteAO(3, 1, 4, 12.0f);
    zmod4710_WriteAO(3, 1, 4, 30.0f);
    zmod4710_ReadAO_GainOffset(3, 1, 4, &gain, &offset);
    zmod4710_ReadAO_GainOffset(3, 1, 4, &gain, &offset);
    zmod4710_SetPowerOnEnStatus(3, 2);
    zmod4710_WriteAO(3, 1, 4, 9.0f);
    zmod4710_GetFirmwareVersion(3, &version);
    zmod4710_WriteAO(3, 1, 4, 10.0f);
    EXPECT_EQ(zmod4710_sim_clear_refusals(), 0);
    std::vector<std::string> told;
    for (int index = 0; index < zmod4710_sim_call_count(); ++index) {
        char text[128];
        EXPECT_EQ(zmod4710_sim_call_text(index, text, sizeof text), 0);
        told.emplace_back(text);
    }
    short range = 0;
    float value = 0.0f;
    EXPECT_EQ(zmod4710_sim_output(3, 1, &range, &value), 0);
    told.push_back("output " + std::to_string(range) + " " + std::to_string(value));
    return told;
}

TEST_F(SimulatedLibrary, AFileAndMemoryAnswerAlikeAndTheCommandLineSeesTheFile) {
    const std::vector<std::string> expected = {
        "zmod4710_Init(2) = -2",
        "zmod4710_Init(3) = 0",
        "zmod4710_WriteAO(3, 1, 4, 12) = 7 (refused on request)",
        "zmod4710_WriteAO(3, 1, 4, 30) = 0",
        "zmod4710_ReadAO_GainOffset(3, 1, 4) = 0, gain 400, offset -3",
        "zmod4710_ReadAO_GainOffset(3, 1, 4) = 8 (refused on request)",
        "zmod4710_SetPowerOnEnStatus(3, 2) = 0",
        "zmod4710_WriteAO(3, 1, 4, 9) = 0",
        "zmod4710_GetFirmwareVersion(3) = -2 (refused on request)",
        "zmod4710_WriteAO(3, 1, 4, 10) = -2 (refused on request)",
        "output 4 9.000000"};
    EXPECT_EQ(drive_and_tell(), expected);
    const std::string file = read_text_file(state_path);
    {
        const ScopedEnvironment memory("ZMOD4710_SIM_STATE", std::string(kMemoryState));
        EXPECT_EQ(drive_and_tell(), expected);
    }
    EXPECT_EQ(read_text_file(state_path), file) << "memory touches no file";

    // Registrations belong to their backplane: back on the file, Init again.
    EXPECT_EQ(zmod4710_WriteAO(3, 0, 4, 5.0f), ZMOD4710_SIM_NO_MODULE);
    std::ostringstream out, err;
    const char *const show[] = {"zmod4710-sim", "show"};
    ASSERT_EQ(run_sim_cli(2, show, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("Slot 3: ZM-4704, firmware 9, power-on mode 2 (retentive)"),
              std::string::npos)
        << out.str();
    const char *const refuse[] = {"zmod4710-sim", "refuse", "Init", "--result", "5"};
    ASSERT_EQ(run_sim_cli(5, refuse, out, err), 0) << err.str();
    EXPECT_EQ(zmod4710_Init(3), 5);
    EXPECT_EQ(zmod4710_Init(3), 0);
}

// Writes to slot 0 from as many threads at once, each on a channel of its own.
void write_from_threads(int count, int writes) {
    std::vector<std::thread> threads;
    for (int channel = 0; channel < count; ++channel) {
        threads.emplace_back([channel, writes] {
            for (int write = 0; write < writes; ++write) {
                zmod4710_WriteAO(0, channel, 0, 1.0f);
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
}

// Each call is kept, and timed on a clock that never goes back, which keeps
// up with the steady clock across a pause.
TEST_F(SimulatedLibrary, KeepsAndTimesTheCallsOfEveryThread) {
    const ScopedEnvironment memory("ZMOD4710_SIM_STATE", std::string(kMemoryState));
    ASSERT_EQ(zmod4710_sim_reset(), 0);
    ASSERT_EQ(zmod4710_Init(0), 0);
    const auto started = std::chrono::steady_clock::now();
    write_from_threads(4, 500);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(zmod4710_WriteAO(0, 0, 0, 2.0f), 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    int per_channel[4] = {};
    zmod4710_sim_call first{};
    zmod4710_sim_call call{};
    ASSERT_EQ(zmod4710_sim_call_at(1, &first), 0); // the first write
    double before = 0;
    for (int index = 1; index < zmod4710_sim_call_count(); ++index) {
        ASSERT_EQ(zmod4710_sim_call_at(index, &call), 0);
        ++per_channel[call.channel];
        EXPECT_GE(call.time, before) << index;
        before = call.time;
    }
    EXPECT_EQ(zmod4710_sim_call_count(), 2002);
    EXPECT_EQ(per_channel[0], 501);
    for (int channel = 1; channel < 4; ++channel) {
        EXPECT_EQ(per_channel[channel], 500) << channel;
    }
    EXPECT_GE(call.time - first.time, 0.05);
    EXPECT_LE(call.time - first.time, took.count());
}

// The test's callback, called from three threads that write on a file at once,
// pulls the module out at the 60th call: no call answers once it is out.
TEST_F(SimulatedLibrary, ThreadsCallingBackMayPullTheModuleOut) {
    arrange(factory_backplane());
    ASSERT_EQ(zmod4710_Init(0), 0);
    ASSERT_EQ(zmod4710_sim_clear_calls(), 0);
    std::atomic<int> called{0};
    ASSERT_EQ(zmod4710_sim_on_call(
                  [](const zmod4710_sim_call *, void *context) {
                      if (++*static_cast<std::atomic<int> *>(context) == 60) {
                          EXPECT_EQ(zmod4710_sim_remove(0), 0);
                      }
                      return 0;
                  },
                  &called),
              0);
    write_from_threads(3, 40);
    ASSERT_EQ(zmod4710_sim_on_call(nullptr, nullptr), 0);
    EXPECT_EQ(called, 120);
    ASSERT_EQ(zmod4710_sim_call_count(), 120);
    int answered = 0;
    for (int index = 0; index < 120; ++index) {
        zmod4710_sim_call call{};
        ASSERT_EQ(zmod4710_sim_call_at(index, &call), 0);
        answered += call.result == 0 ? 1 : 0;
        // Answered while every call before it was, else refused.
        EXPECT_EQ(call.result, answered == index + 1 ? 0 : ZMOD4710_SIM_NO_MODULE) << index;
    }
    // Calls answered before the 60th's callback began, and any the other
    // threads had answered while it took the module out; none after that.
    EXPECT_GT(answered, 0);
    EXPECT_LT(answered, 120);
    EXPECT_FALSE(backplane().slots[0].has_value());
}

// What use_state and use_memory choose holds until the next of them, whatever
// ZMOD4710_SIM_STATE says meanwhile; use_state(NULL) goes back to it.
// The control functions tell the trace what they changed, as zmod4710-sim does,
// each change in lines of one time and process.
TEST_F(SimulatedLibrary, TheControlFunctionsTellTheTraceWhatTheyChanged) {
    const std::filesystem::path trace = directory.path() / "trace.txt";
    {
        const ScopedEnvironment traced("ZMOD4710_SIM_TRACE", trace.string());
        ASSERT_EQ(zmod4710_sim_use_memory(), 0);
        ASSERT_EQ(zmod4710_sim_insert(5, "ZM-4704", 7), 0);
        ASSERT_EQ(zmod4710_sim_insert(5, "other", 1), 0);
        ASSERT_EQ(zmod4710_sim_calibrate(0, 6, 1, 9, -3), 0);
        ASSERT_EQ(zmod4710_sim_refuse_after("WriteAO", 0, ZMOD4710_SIM_ANY, 7, 1, 2), 0);
        ASSERT_EQ(zmod4710_sim_clear_refusals(), 0);
        ASSERT_EQ(zmod4710_sim_clear_refusals(), 0); // nothing to clear: nothing told
        ASSERT_EQ(zmod4710_sim_remove(5), 0);
        ASSERT_NE(zmod4710_sim_remove(5), 0); // refused: nothing told
        ASSERT_EQ(zmod4710_sim_power_cycle(), 0);
        ASSERT_EQ(zmod4710_sim_reset(), 0);
    }
    ASSERT_EQ(zmod4710_sim_use_state(nullptr), 0);
    std::istringstream lines(read_text_file(trace));
    std::vector<std::string> told;
    std::string begun; // the time and process of the change told last
    std::string line;
    // The process's first line tells the library's time zero.
    ASSERT_TRUE(std::getline(lines, line));
    const std::optional<TraceLine> zero = read_trace_line(line);
    ASSERT_TRUE(zero && zero->kind == TraceLine::Kind::time_zero) << line;
    EXPECT_EQ(static_cast<double>(zero->zero) / 1e6, zmod4710_sim_time_zero());
    while (std::getline(lines, line)) {
        const std::size_t text = line.find(' ', line.find(' ') + 1);
        told.push_back(line.substr(text + 1));
        if (told.back().rfind("! slot", 0) != 0) {
            begun = line.substr(0, text);
        }
        EXPECT_EQ(line.substr(0, text), begun) << line;
    }
    const std::vector<std::string> changes{
        "! insert 5 ZM-4704 firmware 7",
        "! slot 5 ZM-4704 mode 1",
        "! slot 5 channel 0 output 0 range 0 power-on 0 range 0",
        "! slot 5 channel 1 output 0 range 0 power-on 0 range 0",
        "! slot 5 channel 2 output 0 range 0 power-on 0 range 0",
        "! slot 5 channel 3 output 0 range 0 power-on 0 range 0",
        "! insert 5 other firmware 1",
        "! slot 5 other",
        "! calibrate 0 6 1 gain 9 offset -3",
        "! refuse zmod4710_WriteAO slot 0 result 7 after 1 times 2",
        "! clear refusals 1",
        "! remove 5",
        "! slot 5 empty",
        "! power cycle"};
    ASSERT_EQ(told.size(), changes.size() + 16 + 17);
    EXPECT_EQ(std::vector<std::string>(told.begin(), told.begin() + 14), changes);
    EXPECT_EQ(told[14 + 16], "! reset");
    EXPECT_EQ(told.back(), "! slot 7 empty");
}

// The calls a trace tells, as call_text tells them, each file's lines begun by
// the time zero of the process that wrote them.
std::vector<std::string> traced_calls(const std::filesystem::path &trace) {
    std::istringstream lines(read_text_file(trace));
    std::vector<std::string> calls;
    std::string line;
    EXPECT_TRUE(std::getline(lines, line)) << trace << " is empty";
    const std::optional<TraceLine> zero = read_trace_line(line);
    EXPECT_TRUE(zero && zero->kind == TraceLine::Kind::time_zero) << line;
    while (std::getline(lines, line)) {
        const std::optional<TraceLine> read = read_trace_line(line);
        EXPECT_TRUE(read && read->kind == TraceLine::Kind::call) << line;
        calls.push_back(read ? call_text(read->record) : line);
    }
    return calls;
}

std::string written(float value) {
    return "zmod4710_WriteAO(0, 0, 1, " + shortest_text(value) + ") = 0";
}

#ifndef _WIN32
// The trace is kept open while its name names it: a rotation, a removal, a
// link in its place or its folder made anew are followed at the next call, by
// the rules it was first opened under; and it is never the state in use.
TEST_F(SimulatedLibrary, TheTraceFollowsItsNameAndIsNeverTheStateInUse) {
    const std::filesystem::path folder = directory.path() / "traces";
    const std::filesystem::path trace = folder / "trace.txt";
    const std::filesystem::path rotated = folder / "trace.txt.1";
    std::filesystem::create_directory(folder);
    ASSERT_EQ(zmod4710_sim_use_memory(), 0);
    ASSERT_EQ(zmod4710_Init(0), 0);
    const ScopedEnvironment traced("ZMOD4710_SIM_TRACE", trace.string());
    ASSERT_EQ(zmod4710_WriteAO(0, 0, 1, 1.0f), 0);
    // Each change, then the file the next write must be told in, alone. A link
    // of the user's own in its place is followed; one to the state, refused.
    const std::pair<std::function<void()>, std::filesystem::path> changes[] = {
        {[&] { std::filesystem::rename(trace, rotated); }, trace},
        {[&] { std::filesystem::remove(trace); }, trace},
        {[&] {
             std::filesystem::remove(trace);
             std::filesystem::create_symlink("elsewhere.txt", trace);
         },
         folder / "elsewhere.txt"},
        {[&] {
             std::filesystem::remove_all(folder);
             std::filesystem::create_directory(folder);
         },
         trace}};
    float value = 1;
    for (const auto &[change, told_in] : changes) {
        change();
        ASSERT_EQ(zmod4710_WriteAO(0, 0, 1, ++value), 0);
        EXPECT_EQ(traced_calls(told_in), std::vector<std::string>{written(value)}) << told_in;
        if (value == 2) {
            EXPECT_EQ(traced_calls(rotated), std::vector<std::string>{written(1)});
        }
    }

    const std::filesystem::path other = directory.path() / "other.json";
    ASSERT_EQ(zmod4710_sim_use_state(other.string().c_str()), 0);
    ASSERT_EQ(zmod4710_Init(0), 0);
    for (const std::filesystem::path &named : {other, trace}) {
        std::filesystem::remove(trace);
        std::filesystem::create_symlink(other, trace); // the state by another name
        const ScopedEnvironment state_traced("ZMOD4710_SIM_TRACE", named.string());
        ASSERT_EQ(zmod4710_WriteAO(0, 0, 1, 7.0f), 0) << named;
        EXPECT_EQ(read_text_file(other).find("zmod4710_"), std::string::npos) << named;
        EXPECT_EQ(StateFile(other).load().slots[0]->channels[0].output, 7.0f) << named;
    }
    ASSERT_EQ(zmod4710_sim_use_state(nullptr), 0);
}
#endif

// Threads writing one channel with the trace on: the trace's last line for it
// and what the module holds agree, on a state file and in memory (the
// timeline's last value, with two programs, in the end-to-end tests).
TEST_F(SimulatedLibrary, ThreadsWritingOneChannelLeaveTheTraceAndTheModuleAgreeing) {
    for (const bool in_memory : {false, true}) {
        const std::filesystem::path trace =
            directory.path() / (in_memory ? "memory.txt" : "file.txt");
        const ScopedEnvironment traced("ZMOD4710_SIM_TRACE", trace.string());
        if (in_memory) {
            ASSERT_EQ(zmod4710_sim_use_memory(), 0);
        }
        ASSERT_EQ(zmod4710_Init(0), 0);
        std::vector<std::thread> threads;
        for (int thread = 0; thread < 4; ++thread) {
            threads.emplace_back([thread, in_memory] {
                for (int write = 0; write < (in_memory ? 500 : 40); ++write) {
                    zmod4710_WriteAO(0, 0, 1, static_cast<float>(thread * 1000 + write) / 1000);
                }
            });
        }
        for (std::thread &thread : threads) {
            thread.join();
        }
        short range = 0;
        float held = 0;
        ASSERT_EQ(zmod4710_sim_output(0, 0, &range, &held), 0);
        EXPECT_EQ(traced_calls(trace).back(), written(held)) << in_memory;
    }
    ASSERT_EQ(zmod4710_sim_use_state(nullptr), 0);
}

#ifndef _WIN32
// The environment is read at every call, however the program changed it:
// strings given to putenv (the old ones freed, or changed in place), or unset
// and set again, which keeps the count of variables and the last one alike. A state named
// ":memory:" is never a file of that name.
TEST_F(SimulatedLibrary, FollowsTheEnvironmentHoweverItWasChanged) {
    const std::string first_trace = (directory.path() / "first.txt").string();
    const std::string second_trace = (directory.path() / "second.txt").string();
    static char state_entry[1024];
    static char trace_entry[1024];
    std::vector<std::unique_ptr<char[]>> given; // strings putenv holds until the end
    const auto put = [&given](const std::string &entry) {
        given.push_back(std::make_unique<char[]>(entry.size() + 1));
        std::memcpy(given.back().get(), entry.c_str(), entry.size() + 1);
        ::putenv(given.back().get());
    };
    const std::vector<std::pair<const char *, std::function<void()>>> ways{
        {"new strings",
         [&] {
             put(std::string("ZMOD4710_SIM_STATE=") + kMemoryState);
             put("ZMOD4710_SIM_TRACE=" + second_trace);
         }},
        {"changed in place",
         [&] {
             std::snprintf(state_entry, sizeof state_entry, "ZMOD4710_SIM_STATE=%s",
                           state_path.c_str());
             std::snprintf(trace_entry, sizeof trace_entry, "ZMOD4710_SIM_TRACE=%s",
                           first_trace.c_str());
             ::putenv(state_entry);
             ::putenv(trace_entry);
             ASSERT_EQ(zmod4710_Init(0), 0); // looked at while they named the first
             std::snprintf(state_entry, sizeof state_entry, "ZMOD4710_SIM_STATE=%s", kMemoryState);
             std::snprintf(trace_entry, sizeof trace_entry, "ZMOD4710_SIM_TRACE=%s",
                           second_trace.c_str());
         }},
        {"unset and set", [&] {
             ::unsetenv("ZMOD4710_SIM_TRACE");
             ::unsetenv("ZMOD4710_SIM_STATE");
             ::setenv("ZMOD4710_SIM_STATE", kMemoryState, 1);
             ::setenv("ZMOD4710_SIM_TRACE", second_trace.c_str(), 1);
         }}};
    for (const auto &[way, change] : ways) {
        ::setenv("ZMOD4710_SIM_STATE", state_path.c_str(), 1);
        ::setenv("ZMOD4710_SIM_TRACE", first_trace.c_str(), 1);
        arrange(factory_backplane());
        ASSERT_EQ(zmod4710_Init(0), 0) << way;
        ASSERT_EQ(zmod4710_WriteAO(0, 0, 1, 1.0f), 0) << way;
        change();
        ASSERT_EQ(zmod4710_Init(0), 0) << way; // a backplane of its own: Init again
        ASSERT_EQ(zmod4710_WriteAO(0, 0, 1, 2.0f), 0) << way;
        EXPECT_EQ(channel(0, 0).output, 1.0f) << way << ": the file was written";
        EXPECT_FALSE(std::filesystem::exists(kMemoryState)) << way;
        const std::vector<std::string> first = traced_calls(first_trace);
        EXPECT_NE(std::find(first.begin(), first.end(), written(1)), first.end()) << way;
        EXPECT_EQ(traced_calls(second_trace).back(), written(2)) << way;
        ASSERT_EQ(zmod4710_sim_reset(), 0); // the memory's, for the next way
        std::filesystem::remove(first_trace);
        std::filesystem::remove(second_trace);
    }
    ::setenv("ZMOD4710_SIM_STATE", state_path.c_str(), 1);
    ::unsetenv("ZMOD4710_SIM_TRACE");
}
#endif

// A callback left by an exception is called again at the next call; and once
// on_call returns, no thread runs the callback it replaced, so that its
// context may go (threads call meanwhile, without pause).
TEST_F(SimulatedLibrary, ThreadsCallingWhileTheCallbackIsReplacedNeverRunTheOldOne) {
    const ScopedEnvironment memory("ZMOD4710_SIM_STATE", std::string(kMemoryState));
    ASSERT_EQ(zmod4710_sim_reset(), 0);
    ASSERT_EQ(zmod4710_Init(0), 0);
    // Not in 32-bit MinGW builds: there the program and the library, each with
    // the C++ run time of its own, unwind no exception through the other.
#if !defined(_WIN32) || defined(_WIN64)
    int called = 0;
    ASSERT_EQ(zmod4710_sim_on_call(
                  [](const zmod4710_sim_call *, void *context) -> int {
                      if (++*static_cast<int *>(context) == 1) {
                          throw std::runtime_error("an assertion failed in the callback");
                      }
                      return 0;
                  },
                  &called),
              0);
    EXPECT_EQ(zmod4710_WriteAO(0, 0, 0, 1.0f), ZMOD4710_SIM_STATE_PROBLEM);
    EXPECT_EQ(zmod4710_WriteAO(0, 0, 0, 1.0f), 0);
    EXPECT_EQ(called, 2);
    ASSERT_EQ(zmod4710_sim_on_call(nullptr, nullptr), 0); // before the threads below call
#endif

    struct Context {
        std::atomic<bool> replaced{false};
        std::atomic<int> *late;
    };
    std::atomic<int> late{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> callers;
    for (int thread = 0; thread < 2; ++thread) {
        callers.emplace_back([&done] {
            while (!done) {
                zmod4710_WriteAO(0, 1, 0, 1.0f);
            }
        });
    }
    std::vector<std::unique_ptr<Context>> contexts;
    for (int round = 0; round < 40000; ++round) {
        contexts.push_back(std::make_unique<Context>());
        contexts.back()->late = &late;
        ASSERT_EQ(zmod4710_sim_on_call(
                      [](const zmod4710_sim_call *, void *context) {
                          const auto *given = static_cast<Context *>(context);
                          *given->late += given->replaced ? 1 : 0;
                          return 0;
                      },
                      contexts.back().get()),
                  0);
        ASSERT_EQ(zmod4710_sim_on_call(nullptr, nullptr), 0);
        contexts.back()->replaced = true;
    }
    done = true;
    for (std::thread &caller : callers) {
        caller.join();
    }
    EXPECT_EQ(late, 0);
}

TEST_F(SimulatedLibrary, UseStateAndUseMemoryHoldUntilTheNextOfThem) {
    const std::filesystem::path other = directory.path() / "other.json";
    const auto slot_held = [](const std::filesystem::path &file, int slot) {
        return StateFile(file).load().slots[static_cast<std::size_t>(slot)].has_value();
    };
    ASSERT_EQ(zmod4710_sim_use_state(other.string().c_str()), 0);
    {
        const ScopedEnvironment memory("ZMOD4710_SIM_STATE", std::string(kMemoryState));
        EXPECT_EQ(zmod4710_sim_insert(4, "ZM-4704", 5), 0);
        EXPECT_EQ(zmod4710_Init(4), 0);
    }
    EXPECT_TRUE(slot_held(other, 4));
    EXPECT_FALSE(std::filesystem::exists(state_path));
    EXPECT_EQ(zmod4710_sim_use_memory(), 0);
    EXPECT_EQ(zmod4710_sim_insert(5, "ZM-4704", 5), 0);
    EXPECT_FALSE(slot_held(other, 5));
    // Back on the file, its Init is to be made again, as on any backplane switched to.
    EXPECT_EQ(zmod4710_sim_use_state(other.string().c_str()), 0);
    EXPECT_EQ(zmod4710_WriteAO(4, 0, 0, 1.0f), ZMOD4710_SIM_NO_MODULE);
    EXPECT_EQ(zmod4710_sim_use_state(nullptr), 0);
    EXPECT_EQ(zmod4710_sim_insert(6, "ZM-4704", 5), 0);
    EXPECT_TRUE(slot_held(state_path, 6));
    EXPECT_FALSE(slot_held(state_path, 5));
}

// Threads that wait for a lock another program holds each give up after the
// bound, however many wait, and calls that change nothing go on meanwhile.
// Waits of the full bound are in suites named *LockWaits, which one preset runs.
class LockWaits : public SimulatedLibrary {};

TEST_F(LockWaits, ThreadsWaitingForAnotherProgramsLockEachReturnWithinTheBound) {
    arrange(factory_backplane());
    ASSERT_EQ(zmod4710_Init(0), 0);
    const StateLock elsewhere(locate(state_path, false));
    const auto start = std::chrono::steady_clock::now();
    const auto since_start = [start] { return std::chrono::steady_clock::now() - start; };
    std::vector<std::future<std::pair<int, std::chrono::steady_clock::duration>>> writes;
    for (int channel = 0; channel < 3; ++channel) {
        writes.push_back(std::async(std::launch::async, [channel, &since_start] {
            const int result = zmod4710_WriteAO(0, channel, 0, 1.0f);
            return std::pair(result, since_start());
        }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    unsigned short gain = 0;
    short offset = 0;
    const auto read_from = since_start();
    EXPECT_EQ(zmod4710_ReadAO_GainOffset(0, 1, 2, &gain, &offset), 0);
    EXPECT_LT(since_start() - read_from, std::chrono::seconds(2)) << "a read waited for a write";
    for (auto &write : writes) {
        const auto [result, returned] = write.get();
        EXPECT_EQ(result, ZMOD4710_SIM_STATE_PROBLEM);
        EXPECT_GE(returned, std::chrono::seconds(kLockWaitSeconds));
        EXPECT_LT(returned, std::chrono::seconds(kLockWaitSeconds + 2));
    }
}

// Threads that meet a state they cannot read each get its result, with
// nothing shared unguarded in telling it once (as ThreadSanitizer checks in
// its own build).
TEST_F(SimulatedLibrary, ThreadsMeetingABrokenStateEachGetItsResult) {
    std::filesystem::create_directories(state_path.parent_path());
    write_text_file(state_path, "not json at all");
    std::vector<std::future<int>> inits;
    for (int thread = 0; thread < 8; ++thread) {
        inits.push_back(std::async(std::launch::async, [] { return zmod4710_Init(0); }));
    }
    for (auto &init : inits) {
        EXPECT_EQ(init.get(), ZMOD4710_SIM_STATE_PROBLEM);
    }
}

TEST_F(SimulatedLibrary, AnswersItsVersionAndBuildDate) {
    EXPECT_EQ(zmod4710_GetLibVersion(), 0x0100);
    char date[ZMOD4710_LIB_DATE_SIZE];
    std::memset(date, 'x', sizeof date);
    EXPECT_EQ(zmod4710_GetLibDate(date), 0);
    EXPECT_STREQ(date, "2026-12-08");
}

} // namespace
} // namespace zmod4710_sim
