// Calls the simulated module library from a process of its own, for the tests
// that need a fresh process or several at once.
//
//   sim_library_probe scan                 Init on slots 0 to 7; the exit status
//                                          is the number of slots that answered
//   sim_library_probe uninitialised        exit 0 when every call on slots whose
//                                          Init did not succeed is refused
//   sim_library_probe write SLOT CHANNEL COUNT [FIRST]
//                                          Init(SLOT), then the values
//                                          write_value(FIRST + 1) ... write_value(
//                                          FIRST + COUNT) in range 1 to CHANNEL,
//                                          each announced on standard output
//                                          before it is written; the exit status
//                                          is the number of calls that failed
//   sim_library_probe every              every function of zmod4710.h and
//                                          zmod4710_sim.h once, in an order in
//                                          which each has something to do; the
//                                          exit status is 0 when each answered
//                                          as it should, 1 when some gave
//                                          another of the library's results
//                                          (after a state problem, the calls
//                                          that follow may find no module or
//                                          no call kept), 2 for any other answer
//   sim_library_probe unallocated COUNT  in memory, COUNT writes with a callback
//                                          set and COUNT without, once every
//                                          allocation fails (under
//                                          failing_calls.cpp); the exit status
//                                          is the number that failed, at most 100
//   sim_library_probe hammer SLOT CHANNEL SECONDS
//                                          Init(SLOT), says "hammering", then
//                                          writes to CHANNEL without pause for
//                                          SECONDS, and says "done" and how
//                                          many; the exit status is the number
//                                          of calls that failed
//
// ZMOD4710_TEST_ARM=CALL makes CALL fail (failing_calls.cpp) from the start of
// main, when the probe itself has started.
#include "sim_library_probe.hpp"

#include "zmod4710.h"
#include "zmod4710_sim.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int scan() {
    int answered = 0;
    for (int slot = 0; slot < 8; ++slot) {
        answered += zmod4710_Init(slot) == 0 ? 1 : 0;
    }
    return answered;
}

int call_uninitialised_slots() {
    unsigned short gain = 0;
    short offset = 0;
    short firmware = 0;
    const bool refused = zmod4710_WriteAO(0, 0, 0, 1.0f) != 0 &&
                         zmod4710_SetPowerOnEnStatus(0, 2) != 0 &&
                         zmod4710_WritePowerOn_AO(0, 0, 0, 1.0f) != 0 &&
                         zmod4710_ReadAO_GainOffset(0, 0, 0, &gain, &offset) != 0 &&
                         zmod4710_GetFirmwareVersion(0, &firmware) != 0 && zmod4710_Init(1) != 0 &&
                         zmod4710_WriteAO(1, 0, 0, 1.0f) != 0;
    return refused ? 0 : 1;
}

int write_channel(int slot, int channel, int count, int first) {
    int failures = zmod4710_Init(slot) != 0 ? 1 : 0;
    for (int write = first + 1; write <= first + count; ++write) {
        std::printf("%d\n", write);
        std::fflush(stdout);
        failures += zmod4710_WriteAO(slot, channel, 1, write_value(write)) != 0 ? 1 : 0;
    }
    return failures < 100 ? failures : 100;
}

// Keeps no memory of its own, so that all that runs out is the library's.
int call_every_function() {
    int worst = 0; // how far the answers are from what they should be, as "every" says
    const auto expect = [&worst](long got, long wanted) {
        const bool a_result =
            got <= ZMOD4710_SIM_BAD_ARGUMENT && got >= ZMOD4710_SIM_REFUSED_ON_REQUEST;
        const int off = got == wanted ? 0 : a_result ? 1 : 2;
        worst = off > worst ? off : worst;
    };
    unsigned short gain = 0;
    short offset = 0, firmware = 0, range = 0, mode = 0;
    float value = 0.0f;
    char text[128];
    zmod4710_sim_call call;
    expect(zmod4710_sim_use_state(nullptr), 0);
    expect(zmod4710_sim_on_call([](const zmod4710_sim_call *, void *) { return 0; }, nullptr), 0);
    expect(zmod4710_sim_reset(), 0);
    expect(zmod4710_sim_insert(3, "ZM-4704", 5), 0);
    expect(zmod4710_sim_calibrate(3, 1, 2, 500, -3), 0);
    const int refuse = zmod4710_sim_refuse("WriteAO", 3, 1, 7, 1);
    expect(refuse, 0);
    // Every call on slot 3 counted, and none refused.
    expect(zmod4710_sim_refuse_after("any", 3, ZMOD4710_SIM_ANY, -2, 50, 1), 0);
    expect(zmod4710_Init(3), 0);
    expect(zmod4710_WriteAO(3, 1, 2, 1.5f), refuse == 0 ? 7 : 0);
    expect(zmod4710_WriteAO(3, 1, 2, 1.5f), 0);
    expect(zmod4710_WritePowerOn_AO(3, 1, 2, 2.5f), 0);
    expect(zmod4710_SetPowerOnEnStatus(3, 1), 0);
    expect(zmod4710_ReadAO_GainOffset(3, 1, 2, &gain, &offset), 0);
    expect(zmod4710_GetFirmwareVersion(3, &firmware), 0);
    expect(zmod4710_GetLibDate(text), 0);
    expect(zmod4710_GetLibVersion(), ZMOD4710_SIM_LIB_VERSION);
    expect(zmod4710_sim_power_cycle(), 0);
    expect(zmod4710_sim_output(3, 1, &range, &value), 0);
    expect(zmod4710_sim_power_on_value(3, 1, &range, &value), 0);
    expect(zmod4710_sim_power_on_mode(3, &mode), 0);
    // Calls answered without the memory to keep them are not counted.
    const int count = zmod4710_sim_call_count();
    expect(count >= 0 && count < 9 ? ZMOD4710_SIM_STATE_PROBLEM : count, 9);
    expect(zmod4710_sim_call_at(0, &call), 0);
    expect(zmod4710_sim_call_text(1, text, sizeof text), 0);
    expect(static_cast<long>(zmod4710_sim_calls_dropped()), 0);
    expect(zmod4710_sim_find_call(0, "WriteAO", 3, 1), 1);
    expect(zmod4710_sim_calls_text(text, sizeof text) > 0 ? 0 : ZMOD4710_SIM_STATE_PROBLEM, 0);
    expect(zmod4710_sim_on_call(nullptr, nullptr), 0);
    expect(zmod4710_sim_clear_calls(), 0);
    expect(zmod4710_sim_clear_refusals(), 0);
    expect(zmod4710_sim_remove(3), 0);
    expect(zmod4710_sim_use_memory(), 0);
    return worst;
}

int let_go_on(const zmod4710_sim_call *, void *) {
    return 0;
}

int write_unallocated(int count) {
    const auto writes = [count] {
        int failures = 0;
        for (int write = 0; write < count; ++write) {
            failures += zmod4710_WriteAO(0, write % 8, 1, write_value(write)) != 0 ? 1 : 0;
        }
        return failures;
    };
    if (zmod4710_sim_use_memory() != 0 || zmod4710_Init(0) != 0) {
        return 100;
    }
    // What is kept from call to call (the history's ring) is set aside first.
    writes();
    zmod4710_sim_on_call(let_go_on, nullptr);
    writes();
#ifndef _WIN32
    ::setenv("ZMOD4710_TEST_FAIL", "malloc", 1);
#endif
    int failures = writes();
    zmod4710_sim_on_call(nullptr, nullptr);
    failures += writes();
    return failures < 100 ? failures : 100;
}

int hammer(int slot, int channel, int seconds) {
    int failures = zmod4710_Init(slot) != 0 ? 1 : 0;
    std::printf("hammering\n");
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int writes = 0;
    for (; std::chrono::steady_clock::now() < end; ++writes) {
        failures += zmod4710_WriteAO(slot, channel, 1, write_value(writes % 10000)) != 0 ? 1 : 0;
    }
    std::printf("done %d\n", writes);
    return failures < 100 ? failures : 100;
}

// A whole decimal number, or -1, which every command refuses.
int number(const char *text) {
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= 0 && value <= 1000000 ? static_cast<int>(value)
                                                                         : -1;
}

} // namespace

int main(int argc, char **argv) {
#ifndef _WIN32
    if (const char *call = std::getenv("ZMOD4710_TEST_ARM")) {
        ::setenv("ZMOD4710_TEST_FAIL", call, 1);
    }
#endif
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "scan") {
        return scan();
    }
    if (command == "uninitialised") {
        return call_uninitialised_slots();
    }
    if (command == "every") {
        return call_every_function();
    }
    if (command == "write" && (argc == 5 || argc == 6)) {
        const int slot = number(argv[2]);
        const int channel = number(argv[3]);
        const int count = number(argv[4]);
        const int first = argc == 6 ? number(argv[5]) : 0;
        if (slot >= 0 && channel >= 0 && count >= 0 && first >= 0) {
            return write_channel(slot, channel, count, first);
        }
    }
    if (command == "unallocated" && argc == 3 && number(argv[2]) >= 0) {
        return write_unallocated(number(argv[2]));
    }
    if (command == "hammer" && argc == 5) {
        const int slot = number(argv[2]);
        const int channel = number(argv[3]);
        const int seconds = number(argv[4]);
        if (slot >= 0 && channel >= 0 && seconds >= 0) {
            return hammer(slot, channel, seconds);
        }
    }
    return 125;
}
