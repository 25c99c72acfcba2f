// The trace's lines, as written and as read back. After the time and the
// process number, a line is a module call ("zmod4710_WriteAO(0, 2, 0, 3) = 0",
// written by the library), or a change made to the backplane by zmod4710-sim
// or a test's control functions, marked "!": what was done ("! power cycle"),
// then what each slot it touched holds after it:
//
//   ! slot 3 ZM-4704 mode 1
//   ! slot 3 channel 0 output 4 range 4 power-on 2.5 range 1
//   ! slot 5 empty
//
// so that a trace tells everything that changed the backplane while it was set.
#pragma once

#include "backplane.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zmod4710_sim {

// The shortest text that reads back as the same float.
std::string shortest_text(float value);

// What was done, each as one "! ..." line.
std::string told_insert(int slot, ModuleKind kind, int firmware);
std::string told_remove(int slot);
std::string told_reset();
std::string told_calibrate(int slot, int channel, int range, const Calibration &calibration);
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
    enum class Kind { call, change, slot, channel };

    std::int64_t microseconds = 0; // since 1970-01-01 UTC
    std::string_view time;         // as written
    long process = 0;
    Kind kind = Kind::call;
    // A call: the call, its arguments (-1 where it takes none) and its result.
    Call call = Call::any;
    int slot = -1;
    int channel = -1;
    int range = -1;
    float value = 0;
    int mode = 0;
    int result = 0;
    // A change: what was done ("power cycle").
    std::string_view change;
    // A slot: its module, or nothing when it is empty; its power-on mode
    // (mode, 0 when it holds no analog-output module). A channel: slot,
    // channel, its output in range, and its power-on value in its range.
    std::optional<ModuleKind> module;
    float output = 0;
    float power_on_value = 0;
    int power_on_range = -1;
};

// The line text, without its line end, or nothing when it is no trace line.
std::optional<TraceLine> read_trace_line(std::string_view text);

} // namespace zmod4710_sim
