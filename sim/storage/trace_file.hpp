// The trace, a file to which the module library appends a line for each call,
// held to the rules of the state file.
#pragma once

#include "platform.hpp"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zmod4710_sim {

// Appends line to the trace at path under the rules of the state file: reached
// as the state is (locate), so never through another user's link or folder;
// only ever a regular file of the user's own, opened without waiting and
// checked as opened; made private to the user when it is new. The state file
// that state names (none when empty) and its lock are no trace, whatever name
// reaches them (a hard link too), and neither are its temporary files. The line
// is written whole, or nothing of it stays for the next line to join: writers
// take turns under the trace's own lock. Throws StateError, naming the trace
// and the reason.
void append_to_trace(const std::filesystem::path &path, const std::filesystem::path &state,
                     std::string_view line);

// A trace opened to be read line by line, held to the rules the trace is
// written under: reached as the state is, and only a regular file of the
// user's own (no FIFO, device or folder). The constructor throws StateError,
// naming the trace and the reason.
class TraceReader {
public:
    explicit TraceReader(const std::filesystem::path &path);
    // The next line, without its line end (nor a carriage return before it);
    // false at the end of the file.
    bool next(std::string &line);

private:
    platform::Handle file_;
    std::filesystem::path shown_;
    std::string buffer_;
    std::size_t start_ = 0;
    bool ended_ = false;
};

// "TIME PID text\n" for each of texts, as the trace tells them: each begun with
// the time now and this process's number.
std::string trace_lines(const std::vector<std::string> &texts);

// The time now in UTC, to the microsecond, as a trace line begins with it:
// "2026-12-09T15:04:05.123456Z", so that the traces of programs merge by time.
std::string utc_time_now();

} // namespace zmod4710_sim
