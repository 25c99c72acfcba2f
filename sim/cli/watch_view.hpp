// What zmod4710-sim watch shows: the backplane as it is now, in a terminal's
// view, and what changed since it was last looked at, a line a change for a
// log. Only the drawing and the waiting are the terminal's (watch.cpp).
#pragma once

#include "backplane.hpp"
#include "trace_file.hpp"

#include <array>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zmod4710_sim {

// How many of the trace's last lines are kept for each slot.
constexpr std::size_t kLastCalls = 8;

// The trace's last lines for each slot, read a piece at a time: at each look,
// only what was appended since the last. A trace replaced or cut back, and a
// trace first seen, are read from near their end, so that a look costs the
// same whatever the trace's length.
class TraceTail {
public:
    explicit TraceTail(std::filesystem::path trace);
    // Reads what was appended since the last look.
    void look();
    // The calls of the slot's, and the changes, last; or why the trace
    // cannot be read.
    std::vector<std::string> lines_of(int slot) const;

    // How much of a trace's end is read when it is read anew.
    static constexpr std::uint64_t kEnd = std::uint64_t{64} * 1024;

private:
    // Reads reader, the trace as its name names it now, from near its end.
    void read_near_end(std::unique_ptr<TraceReader> reader);
    void keep(const std::string &line);
    // The change waiting for the lines that follow it, kept where they say.
    void settle();
    void add_to(int slot, const std::string &line);
    static int slot_named(const std::string &line);

    std::filesystem::path trace_;
    std::unique_ptr<TraceReader> reader_;
    std::array<std::deque<std::string>, kSlotCount> lines_;
    std::optional<std::string> pending_; // a change, until what follows it tells its slots
    bool pending_followed_ = false;
    std::string problem_;
};

// The backplane and the trace's last lines, as looked at once.
struct Watched {
    std::optional<Backplane> backplane; // nothing when the state cannot be read
    std::string problem;                // why it cannot
    std::array<std::vector<std::string>, kSlotCount> last_calls;
};

// The state file's backplane now, and the trace's last lines for each slot
// when tail is given. A state that cannot be read is a problem told, not a
// failure.
Watched look(const std::filesystem::path &state, TraceTail *tail);

// The view, a line a row: a grid of the eight slots, each with its module and
// each channel's output and unit, the cursor's slot marked; then the detail of
// the slot the cursor is on: its module, each channel with a bar across its
// range and its power-on value, the refusals pending for it, and its last
// trace lines, as many as the rows left hold.
struct View {
    std::vector<std::string> lines;

    bool operator!=(const View &other) const { return lines != other.lines; }
};
// The least terminal the view needs: the grid.
constexpr int kLeastColumns = 80;
constexpr int kLeastRows = 10;
View view_of(const Watched &watched, const std::filesystem::path &state, bool traced, int cursor,
             int rows);

// What keeps a terminal of columns x rows from showing the view, in words that
// fit it, as many lines as it has.
std::vector<std::string> too_small(int columns, int rows);

// What changed from before to now, a line a change; everything, from nothing.
std::vector<std::string> change_lines(const Watched *before, const Watched &now);

} // namespace zmod4710_sim
