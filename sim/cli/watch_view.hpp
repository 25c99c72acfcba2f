// What zmod4710-sim watch shows: the backplane as it is now, in a terminal's
// view, and what changed since it was last looked at, a line a change for a
// log. Only the drawing and the waiting are the terminal's (watch.cpp).
#pragma once

#include "backplane.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zmod4710_sim {

// The backplane and the trace's last lines, as looked at once.
struct Watched {
    std::optional<Backplane> backplane; // nothing when the state cannot be read
    std::string problem;                // why it cannot
    std::vector<std::string> last_calls;
};

// How many of the trace's last lines the view shows.
constexpr std::size_t kLastCalls = 5;

// The state file's backplane now, and the trace's last lines when trace is not
// empty. A state that cannot be read is a problem told, not a failure.
Watched look(const std::filesystem::path &state, const std::filesystem::path &trace);

// The view, a line a row: each slot's module, each channel's output with a bar
// across its range, the power-on mode and values, the refusals pending, and
// the trace's last lines when a trace is set; and the width it needs, that of
// the widest line that must be shown whole (a module's); the others may be cut.
struct View {
    std::vector<std::string> lines;
    std::size_t width = 0;

    bool operator!=(const View &other) const { return lines != other.lines; }
};
View view_of(const Watched &watched, const std::filesystem::path &state,
             const std::filesystem::path &trace);

// What changed from before to now, a line a change; everything, from nothing.
std::vector<std::string> change_lines(const Watched *before, const Watched &now);

} // namespace zmod4710_sim
