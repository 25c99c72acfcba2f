// What each channel of each slot output over time, from traces: the trace's
// calls and changes replayed, merged by time, written as CSV, JSON Lines, a
// value change dump, an SVG picture or a summary. The traces are read as
// streams, twice for a VCD or a picture, which must know all they will show
// first: memory stays bounded whatever their length.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace zmod4710_sim {

enum class TimelineFormat { csv, vcd, jsonl, svg, summary };

// A time: since 1970-01-01 UTC, or from the first line of the traces.
struct TimeBound {
    bool from_first_line = false;
    std::int64_t microseconds = 0;
};

struct TimelineOptions {
    TimelineFormat format = TimelineFormat::csv;
    bool json = false; // the summary as JSON
    std::optional<int> slot;
    std::optional<int> channel;
    std::optional<TimeBound> from;
    std::optional<TimeBound> to;
    // Keeps reading the one trace as it grows, a row written as it comes,
    // until an interrupt or a termination.
    bool follow = false;
};

// The trace named "-" is standard input.
constexpr char kStandardInput[] = "-";

// Writes the timeline of traces to out. A line that is no trace line, or
// tells what cannot be, is told on err, with its file and line number, and
// skipped; the rest is converted. Whether every line was read. Throws
// StateError when a trace cannot be read.
bool write_timeline(const std::vector<std::string> &traces, const TimelineOptions &options,
                    std::ostream &out, std::ostream &err);

// "12.5" seconds from the first line, or "2026-12-09T15:04:05.123456Z"; nothing
// when the text is neither.
std::optional<TimeBound> time_bound(const std::string &text);

} // namespace zmod4710_sim
