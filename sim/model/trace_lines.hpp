// The trace's lines, as written and as read back: the one place that knows
// their grammar (zmod4710(3) gives it). Each line begins with the time in UTC
// to the microsecond and the number of the process that wrote it; then comes a
// module call ("zmod4710_WriteAO(0, 2, 0, 3) = 0", written by the library), or
// a change made to the backplane by zmod4710-sim or a test's control functions,
// marked "!": what was done ("! power cycle"), then what each slot it touched
// holds after it:
//
//   ! slot 3 ZM-4704 mode 1
//   ! slot 3 channel 0 output 4 range 4 power-on 2.5 range 1
//   ! slot 5 empty
//
// so that a trace tells everything that changed the backplane while it was
// set. The first line a process of the library writes to a trace tells the UTC
// of its time zero ("! time zero 2026-12-09T15:04:05.123456Z"), from which the
// times of the calls it keeps are counted.
#pragma once

#include "backplane.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zmod4710_sim {

// One call of the module library, with what it gave back besides its result.
struct CallRecord {
    enum class Given { nothing, calibration, version, date };

    Call call = Call::any;
    int slot = -1;    // -1 for a call made on no slot
    int channel = -1; // -1 for a call made on no channel
    short range = -1; // -1 where the call takes none
    short mode = 0;   // SetPowerOnEnStatus's mode, else 0
    float value = 0;  // what WriteAO and WritePowerOn_AO write, else 0
    int result = 0;
    bool refused_on_request = false;
    bool answered_by_callback = false;
    Given given = Given::nothing;
    unsigned short gain = 0;
    short offset = 0;
    short version = 0;
    double time = 0; // when it was answered, in seconds from the library's time zero
};

// A call as it is made, before it is answered: its result says a state problem
// until it is.
CallRecord call_made(Call call, int slot = -1, int channel = -1, short range = -1);

// The shortest text that reads back as the same float.
std::string shortest_text(float value);

// The system's time now, in microseconds since 1970-01-01 UTC.
std::int64_t utc_microseconds_now();

// Microseconds since 1970-01-01 UTC as a trace line begins with them:
// "2026-12-09T15:04:05.123456Z".
std::string utc_text(std::int64_t microseconds);

// A time as utc_text writes it, in microseconds since 1970-01-01 UTC; nothing
// for any other text (no 31 February, no leap second, no sign).
std::optional<std::int64_t> utc_microseconds_of(std::string_view time);

// "zmod4710_WriteAO(0, 2, 0, 3) = 7 (refused on request)": the call with its
// arguments, its result, what it gave back and a mark for a refusal asked for,
// or for an answer of the callback that zmod4710_sim_on_call set.
std::string call_text(const CallRecord &record);
// The same, appended to text: nothing new is made for it.
void append_call_text(std::string &text, const CallRecord &record);

// Appends "TIME PROCESS text\n" to lines: text as a line of the trace, at a
// time in microseconds since 1970-01-01 UTC, written by process.
void append_traced_line(std::string &lines, std::int64_t microseconds, long process,
                        std::string_view text);

// What was done, each as one "! ..." line.
std::string told_time_zero(std::int64_t microseconds);
std::string told_insert(int slot, ModuleKind kind, int firmware);
std::string told_remove(int slot);
std::string told_reset();
std::string told_calibrate(int slot, int channel, int range, const Calibration &calibration);
// "! drift 0 1 gain 2.5 offset -0.01": the drift a channel has from now on.
std::string told_drift(int slot, int channel, const Drift &drift);
std::string told_refuse(const Refusal &refusal);
std::string told_clear_refusals(std::size_t count);
std::string told_power_cycle();
// What slot holds, in the lines above; and every slot of backplane.
std::vector<std::string> told_slot(const Backplane &backplane, int slot);
std::vector<std::string> told_backplane(const Backplane &backplane);
// What was done, then what slot holds after it; or every slot.
std::vector<std::string> told_with_slot(const std::string &done, const Backplane &after, int slot);
std::vector<std::string> told_with_backplane(const std::string &done, const Backplane &after);

// One line of a trace, read back.
struct TraceLine {
    enum class Kind { call, change, slot, channel, time_zero };

    std::int64_t microseconds = 0; // since 1970-01-01 UTC
    std::string_view time;         // as written
    long process = 0;
    Kind kind = Kind::call;
    // A call, as call_text told it (its time is not told).
    CallRecord record;
    // A change: what was done ("power cycle"); a drift given also tells its
    // slot and channel, and the drift.
    std::string_view change;
    Drift drift;
    // A slot: its module, or nothing when it is empty; its power-on mode
    // (mode, 0 when it holds no analog-output module). A channel: slot,
    // channel, its output in range, and its power-on value in its range.
    int slot = -1;
    int channel = -1;
    int range = -1;
    int mode = 0;
    std::optional<ModuleKind> module;
    float output = 0;
    float power_on_value = 0;
    int power_on_range = -1;
    // The time zero: microseconds since 1970-01-01 UTC.
    std::int64_t zero = 0;
};

// The line text, without its line end, or nothing when it is no trace line,
// or tells what cannot be: a value that is no finite number, a power-on mode
// no module has, a change's text that is no UTF-8 or holds a control character.
std::optional<TraceLine> read_trace_line(std::string_view text);

} // namespace zmod4710_sim
