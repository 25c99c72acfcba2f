// The library's trace: the lines it appends to the file that ZMOD4710_SIM_TRACE
// names, for the module's calls and for the changes the control functions make.
#pragma once

#include "call_history.hpp"

#include <string>
#include <vector>

namespace zmod4710_sim::library {

// Appends texts to the trace file ("" for none), each as a line of its own
// begun with the time and the process number, all at once, under the rules of
// the state file. A trace that cannot be written is told once a process for
// each reason, on standard error, and the program goes on.
void trace(const std::string &file, const std::vector<std::string> &texts) noexcept;
// The call, as call_text tells it.
void trace(const std::string &file, const CallRecord &record) noexcept;

} // namespace zmod4710_sim::library
