// The trace, a file to which the module library and zmod4710-sim append a line
// for each call and each change, held to the rules of the state file; and its
// reading, line by line.
#pragma once

#include "platform.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zmod4710_sim {

// The trace, kept open to append to while its name names the same file.
//
// It is opened and checked under the rules of the state file: reached as the
// state is (locate), so never through another user's link or folder; only ever
// a regular file of the user's own, opened without waiting and checked as
// opened; made private to the user when it is new. The state file in use and
// its lock are no trace, whatever name reaches them (a hard link too), and
// neither are its temporary files. It is opened and checked again when the
// trace or the state named differ from the last append's, and when the trace's
// name was given to another file or taken from this one since (a rotation, a
// removal), which the system's notices tell: where it gives none, at every
// append.
//
// Its user appends from one thread at a time.
class TraceWriter {
public:
    // opening, when not empty, is written as the first line of each file the
    // writer opens, before the lines appended (the library's time zero).
    explicit TraceWriter(std::string opening = {});

    // Appends texts to the trace at path as lines, each begun with the time
    // (microseconds since 1970-01-01 UTC) and this process's number, in one
    // write: a line is never split by another writer's, and lines the disk
    // does not take whole are taken back, while nothing was appended after
    // them. state is the state file in use, or nothing (a backplane in
    // memory). Throws StateError, naming the trace and the reason.
    void append(std::string_view path, const std::filesystem::path *state,
                std::int64_t microseconds, const std::vector<std::string> &texts);
    // The same for one text.
    void append(std::string_view path, const std::filesystem::path *state,
                std::int64_t microseconds, std::string_view text);

    // Lets the trace go, so that the next append opens it anew: in a child
    // that a fork made, whose notices would be the parent's, and whose lines
    // are its own.
    void close() noexcept;

private:
    template <class Texts>
    void append_texts(std::string_view path, const std::filesystem::path *state,
                      std::int64_t microseconds, const Texts &texts);
    bool may_append_as_it_is(std::string_view path, const std::filesystem::path *state) const;
    void open(std::string_view path, const std::filesystem::path *state);

    std::string opening_;
    platform::Handle file_;
    platform::Handle watch_; // notices of the trace's name
    std::string path_;       // as named
    std::filesystem::path shown_;
    std::optional<std::filesystem::path> state_; // the state in use it was checked against
    bool opening_written_ = false;
    long process_ = 0;
    std::string lines_; // what is written, kept: an append then needs no new memory
};

// A trace opened to be read line by line, held to the rules the trace is
// written under: reached as the state is, and only a regular file of the
// user's own (no FIFO, device or folder). The constructor throws StateError,
// naming the trace and the reason.
class TraceReader {
public:
    static constexpr std::uint64_t kNoLimit = ~std::uint64_t{0};
    // Reads no more than limit bytes of it.
    explicit TraceReader(const std::filesystem::path &path, std::uint64_t limit = kNoLimit);
    // Standard input, read as a trace; its user refuses a terminal.
    static TraceReader standard_input();
    TraceReader(TraceReader &&) = default;

    // Reads on as the trace grows: at its end, a line not yet ended is left
    // until its end is written, and the next call reads what came since.
    void follow() { growing_ = true; }
    // What identifies the file read, where files have stamps: another file
    // under its name has another.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> identity() const;
    // The trace's size now (0 for what is no regular file).
    std::uint64_t size_now() const;
    // Reads on from offset, all read before forgotten: a trace cut back.
    void skip_to(std::uint64_t offset);
    // The next line, without its line end (nor a carriage return before it);
    // false at the end of the file. A line longer than any a trace holds is
    // read through in bounded memory and given as kLineTooLong.
    bool next(std::string &line);
    // The bytes read through so far, line ends included.
    std::uint64_t consumed() const { return consumed_; }

    static constexpr std::size_t kLongestLine = 4096;
    static constexpr char kLineTooLong[] = "(a line longer than 4096 bytes)";

private:
    TraceReader(platform::Handle file, std::filesystem::path shown);
    // Reads more into the buffer; false at the end (or the limit).
    bool fill();
    // The line up to stop, then its line end of line_end bytes.
    void take_line(std::string &line, std::size_t stop, std::size_t line_end);

    platform::Handle file_;
    std::filesystem::path shown_;
    std::uint64_t limit_;
    std::uint64_t read_ = 0;
    std::uint64_t consumed_ = 0;
    std::string buffer_;
    std::size_t start_ = 0;
    std::size_t searched_ = 0; // where the search for the line end goes on
    bool skipping_ = false;    // in a line too long, until its end
    bool ended_ = false;
    bool growing_ = false;
};

} // namespace zmod4710_sim
