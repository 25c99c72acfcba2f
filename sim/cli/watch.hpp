// zmod4710-sim watch: a live view of the backplane in the terminal, redrawn at
// each change that any program makes, or while standard output is no
// terminal, a line a change. It waits on the file system's change notices.
#pragma once

#include <filesystem>
#include <ostream>

namespace zmod4710_sim {

// Watches the state file, and the trace when it is not empty, until q, Ctrl-C
// or a termination signal. Returns the exit status.
int run_watch(const std::filesystem::path &state, const std::filesystem::path &trace,
              std::ostream &out, std::ostream &err);

} // namespace zmod4710_sim
