// zmod4710-sim watch with no terminal: a line a change.
#pragma once

#include <filesystem>
#include <ostream>

namespace zmod4710_sim {

// A line a change to the state, each begun with the time, until a signal asks
// the watch to stop or out takes no more. Returns the exit status.
int log_changes(const std::filesystem::path &state, const std::filesystem::path &trace,
                std::ostream &out);

} // namespace zmod4710_sim
