// The library's trace: the lines it appends to the file that ZMOD4710_SIM_TRACE
// names, for the module's calls and for the changes the control functions
// make, each in the locked step that answers the call or makes the change.
#pragma once

#include "trace_lines.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace zmod4710_sim::library {

// Appends texts as lines to the trace that ZMOD4710_SIM_TRACE names now, if it
// names one, at the time given in microseconds since 1970-01-01 UTC; the
// process's lock is held. The first line this process writes to a file tells
// the library's time zero. A trace that cannot be written is told once a
// process for each reason, on standard error, and the program goes on.
void trace(std::int64_t microseconds, const std::vector<std::string> &texts) noexcept;
// The call, as call_text tells it, at its time.
void trace(const CallRecord &record, std::int64_t microseconds) noexcept;

// Lets the trace go: in a child that a fork made, which opens it anew.
void forget_trace() noexcept;

} // namespace zmod4710_sim::library
