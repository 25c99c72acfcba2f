// What each channel of each slot output over time, from traces: the trace's
// calls and changes replayed, merged by time, written as CSV, VCD or JSON
// Lines. The traces are read as streams, twice for VCD, whose header names
// every variable first: memory stays bounded whatever their length.
#pragma once

#include <filesystem>
#include <ostream>
#include <vector>

namespace zmod4710_sim {

enum class TimelineFormat { csv, vcd, jsonl };

// Writes the timeline of traces to out. A line that is no trace line is told on
// err, with its file and line number, and skipped; the rest is converted.
// Whether every line was read. Throws StateError when a trace cannot be read.
bool write_timeline(const std::vector<std::filesystem::path> &traces, TimelineFormat format,
                    std::ostream &out, std::ostream &err);

} // namespace zmod4710_sim
