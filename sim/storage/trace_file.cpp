#include "trace_file.hpp"

#include "atomic_replace.hpp"
#include "locate.hpp"
#include "lock_files.hpp"
#include "trace_lines.hpp"

#include <algorithm>
#include <array>
#include <optional>

namespace zmod4710_sim {

namespace {

constexpr char kStateFile[] = "the simulated module's state file";
constexpr char kStateLock[] = "the lock of the simulated module's state file";

// Where the state that state names lies, or nothing: a state that cannot be
// used holds nothing to spoil.
std::optional<platform::Place> state_place(const std::filesystem::path *state) {
    if (state == nullptr || state->empty()) {
        return std::nullopt;
    }
    try {
        platform::Place place = locate(*state, false);
        return place.folder.valid() ? std::optional<platform::Place>(std::move(place))
                                    : std::nullopt;
    } catch (const StateError &) {
        return std::nullopt;
    }
}

// What of the state the name in place would be, by its name: the state file,
// its lock, or a temporary file of its writers (which may not be there yet).
const char *state_file_named(const platform::Place &place, const platform::Place &state) {
    if (!platform::same_file(place.folder, state.folder, place.path)) {
        return nullptr;
    }
    if (place.name == state.name) {
        return kStateFile;
    }
    if (place.name == lock_name(state.name)) {
        return kStateLock;
    }
    return is_temporary_name_of(place.name, state.name)
               ? "a temporary file of the simulated module's state"
               : nullptr;
}

// What of the state the open file is, by what it is: the state file or its
// lock, under another name too.
const char *state_file_opened(const platform::Handle &file, const platform::Place &state,
                              const std::filesystem::path &shown) {
    const std::pair<std::string, const char *> files[] = {{state.name, kStateFile},
                                                          {lock_name(state.name), kStateLock}};
    for (const auto &[name, what] : files) {
        const platform::Handle opened = platform::open_to_read(state, name);
        if (opened.valid() && platform::same_file(file, opened, shown)) {
            return what;
        }
    }
    return nullptr;
}

// The trace opened to append to, made private to the user when it is missing;
// if another program makes it meanwhile, that one is opened.
platform::Handle opened_to_append(const platform::Place &place) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (platform::Handle file = platform::open_to_append(place, place.name, false);
            file.valid()) {
            return file;
        }
        if (platform::Handle made = platform::open_to_append(place, place.name, true);
            made.valid()) {
            platform::make_private(made, place.path);
            return made;
        }
    }
    throw StateError("cannot open " + place.path.string() + ": it comes and goes");
}

bool same_identity(const std::optional<platform::FileStatus> &a, const platform::FileStatus &b) {
    return a && a->stamp && b.stamp && a->stamp->device == b.stamp->device &&
           a->stamp->file == b.stamp->file;
}

// The trace opened to append to, watched for its name, and what it is. The
// name is looked at again once the watch is set, so that a change of it in
// between is not missed: it is then opened anew.
void opened_and_watched(const platform::Place &place, platform::Handle &file,
                        platform::Handle &watch, platform::FileStatus &status) {
    for (int attempt = 0;; ++attempt) {
        file = opened_to_append(place);
        status = platform::status_of(file, place.user, place.path);
        watch = platform::watch_name(place, file);
        if (!watch.valid() || attempt == 2 ||
            same_identity(platform::examine(place, place.name), status)) {
            return;
        }
    }
}

// Appends lines in one write, or nothing of them: what a disk that filled up
// took of them is taken back, and the whole tried once more, which tells why
// the disk took no more.
void append_whole(const platform::Handle &file, std::string_view lines,
                  const std::filesystem::path &shown) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::size_t written = platform::append(file, lines.data(), lines.size(), shown);
        if (written == lines.size()) {
            return;
        }
        platform::take_back(file, written);
    }
    throw StateError("cannot write " + shown.string() + ": the disk took only part of a line");
}

} // namespace

TraceWriter::TraceWriter(std::string opening) : opening_(std::move(opening)) {}

template <class Texts>
void TraceWriter::append_texts(std::string_view path, const std::filesystem::path *state,
                               std::int64_t microseconds, const Texts &texts) {
    if (!may_append_as_it_is(path, state)) {
        open(path, state);
    }
    lines_.clear();
    if (!opening_written_ && !opening_.empty()) {
        append_traced_line(lines_, microseconds, process_, opening_);
    }
    for (const std::string_view text : texts) {
        append_traced_line(lines_, microseconds, process_, text);
    }
    append_whole(file_, lines_, shown_);
    opening_written_ = true;
}

void TraceWriter::append(std::string_view path, const std::filesystem::path *state,
                         std::int64_t microseconds, const std::vector<std::string> &texts) {
    append_texts(path, state, microseconds, texts);
}

void TraceWriter::append(std::string_view path, const std::filesystem::path *state,
                         std::int64_t microseconds, std::string_view text) {
    append_texts(path, state, microseconds, std::array<std::string_view, 1>{text});
}

void TraceWriter::close() noexcept {
    file_ = platform::Handle();
    watch_ = platform::Handle();
    path_.clear();
}

bool TraceWriter::may_append_as_it_is(std::string_view path,
                                      const std::filesystem::path *state) const {
    const bool same_state = state != nullptr ? state_ == *state : !state_;
    return file_.valid() && path == path_ && same_state && !platform::name_may_have_changed(watch_);
}

void TraceWriter::open(std::string_view path, const std::filesystem::path *state) {
    // Whatever this one was, it is let go: the name may now be refused.
    const platform::Handle before = std::move(file_);
    path_.clear();
    const std::filesystem::path named{std::string(path)};
    const platform::Place place = locate(named, false);
    if (!place.folder.valid()) {
        throw StateError("cannot open " + named.string() + ": its folder does not exist");
    }
    const std::optional<platform::Place> of_state = state_place(state);
    const auto refuse = [&](const char *what) {
        throw StateError("cannot use " + place.path.string() + " as the trace: it is " + what);
    };
    if (const char *what = of_state ? state_file_named(place, *of_state) : nullptr) {
        refuse(what);
    }
    platform::Handle file;
    platform::Handle watch;
    platform::FileStatus status;
    opened_and_watched(place, file, watch, status);
    if (!status.regular()) {
        throw StateError("cannot write " + place.path.string() + ": not a regular file");
    }
    if (!status.users) {
        refuse_another_users(place.given, place.path);
    }
    if (const char *what = of_state ? state_file_opened(file, *of_state, place.path) : nullptr) {
        refuse(what);
    }
    // The same file again (where names are looked at at every append) is no
    // new file, and has had its opening.
    if (!before.valid() || !platform::same_file(before, file, place.path)) {
        opening_written_ = false;
    }
    file_ = std::move(file);
    watch_ = std::move(watch);
    path_ = std::string(path);
    shown_ = place.path;
    state_ = state != nullptr ? std::optional<std::filesystem::path>(*state) : std::nullopt;
    process_ = platform::process_id();
}

TraceReader::TraceReader(const std::filesystem::path &path, std::uint64_t limit) : limit_(limit) {
    const platform::Place place = locate(path, false);
    shown_ = place.path;
    if (!place.folder.valid()) {
        throw StateError("cannot open " + path.string() + ": its folder does not exist");
    }
    // What is no regular file is refused before it is opened, and again as
    // opened, in case it was swapped for one meanwhile.
    if (place.file && !place.file->regular()) {
        throw StateError("cannot read " + place.path.string() + ": not a regular file");
    }
    file_ = platform::open_to_read(place, place.name);
    if (!file_.valid()) {
        throw StateError("cannot open " + place.path.string() + ": it does not exist");
    }
    const platform::FileStatus status = platform::status_of(file_, place.user, place.path);
    if (!status.regular()) {
        throw StateError("cannot read " + place.path.string() + ": not a regular file");
    }
    if (!status.users) {
        refuse_another_users(place.given, place.path);
    }
}

TraceReader::TraceReader(platform::Handle file, std::filesystem::path shown)
    : file_(std::move(file)), shown_(std::move(shown)), limit_(kNoLimit) {}

TraceReader TraceReader::standard_input() {
    return TraceReader(platform::standard_input(), "standard input");
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> TraceReader::identity() const {
    const platform::FileStatus status = platform::status_of(file_, 0, shown_);
    if (!status.stamp) {
        return std::nullopt;
    }
    return std::make_pair(status.stamp->device, status.stamp->file);
}

std::uint64_t TraceReader::size_now() const {
    const platform::FileStatus status = platform::status_of(file_, 0, shown_);
    return status.regular() ? status.size : 0;
}

void TraceReader::skip_to(std::uint64_t offset) {
    platform::seek_to(file_, offset, shown_);
    read_ = consumed_ = offset;
    buffer_.clear();
    start_ = searched_ = 0;
    skipping_ = ended_ = false;
}

bool TraceReader::fill() {
    constexpr std::size_t kChunk = 1 << 16;
    if (ended_ || read_ >= limit_) {
        ended_ = true;
        return false;
    }
    buffer_.erase(0, start_);
    searched_ -= start_;
    start_ = 0;
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, limit_ - read_));
    const std::size_t kept = buffer_.size();
    buffer_.resize(kept + wanted);
    const std::size_t count = platform::read_some(file_, buffer_.data() + kept, wanted, shown_);
    buffer_.resize(kept + count);
    read_ += count;
    ended_ = count == 0;
    return !ended_;
}

bool TraceReader::next(std::string &line) {
    for (;;) {
        const std::size_t end = buffer_.find('\n', searched_);
        if (end != std::string::npos) {
            take_line(line, end, 1);
            return true;
        }
        searched_ = buffer_.size();
        // A line longer than any a trace holds is not kept: only its end is looked for.
        if (searched_ - start_ > kLongestLine) {
            consumed_ += searched_ - start_;
            start_ = searched_;
            skipping_ = true;
        }
        if (!fill()) {
            if (growing_) {
                ended_ = false; // what is appended later is read then
                return false;
            }
            if (start_ == buffer_.size() && !skipping_) {
                return false;
            }
            take_line(line, buffer_.size(), 0); // the last, without a line end
            return true;
        }
    }
}

void TraceReader::take_line(std::string &line, std::size_t stop, std::size_t line_end) {
    if (skipping_) {
        line = kLineTooLong;
    } else {
        line.assign(buffer_, start_, stop - start_);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
    }
    consumed_ += stop - start_ + line_end;
    start_ = searched_ = stop + line_end;
    skipping_ = false;
}

} // namespace zmod4710_sim
