#include "trace_file.hpp"

#include "locate.hpp"
#include "storage.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>

namespace zmod4710_sim {

namespace {

constexpr char kStateFile[] = "the simulated module's state file";
constexpr char kStateLock[] = "the lock of the simulated module's state file";

// Where the state that state names lies, or nothing: a state that cannot be
// used holds nothing to spoil.
std::optional<platform::Place> state_place(const std::filesystem::path &state) {
    if (state.empty()) {
        return std::nullopt;
    }
    try {
        platform::Place place = locate(state, false);
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

// Appends line whole: what a failed write left of it is cut off again, while
// no other writer can have appended after it.
void append_whole(const platform::Handle &file, std::string_view line,
                  const std::filesystem::path &shown) {
    take_lock(file, shown, nullptr);
    struct Unlock {
        const platform::Handle &file;
        ~Unlock() { platform::unlock(file); }
    } const unlock{file};
    const std::uint64_t end = platform::seek_to_end(file, shown);
    try {
        write_all(file, line, shown);
    } catch (const StateError &) {
        platform::truncate(file, end);
        throw;
    }
}

} // namespace

void append_to_trace(const std::filesystem::path &path, const std::filesystem::path &state,
                     std::string_view line) {
    const platform::Place place = locate(path, false);
    if (!place.folder.valid()) {
        throw StateError("cannot open " + path.string() + ": its folder does not exist");
    }
    const std::optional<platform::Place> of_state = state_place(state);
    const auto refuse = [&](const char *what) {
        throw StateError("cannot use " + place.path.string() + " as the trace: it is " + what);
    };
    if (const char *what = of_state ? state_file_named(place, *of_state) : nullptr) {
        refuse(what);
    }
    const platform::Handle file = opened_to_append(place);
    const platform::FileStatus status = platform::status_of(file, place.user, place.path);
    if (!status.regular()) {
        throw StateError("cannot write " + place.path.string() + ": not a regular file");
    }
    if (!status.users) {
        refuse_another_users(place.given, place.path);
    }
    if (const char *what = of_state ? state_file_opened(file, *of_state, place.path) : nullptr) {
        refuse(what);
    }
    append_whole(file, line, place.path);
}

TraceReader::TraceReader(const std::filesystem::path &path) {
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

bool TraceReader::next(std::string &line) {
    constexpr std::size_t kChunk = 1 << 16;
    for (;;) {
        const std::size_t end = buffer_.find('\n', start_);
        if (end != std::string::npos || (ended_ && start_ < buffer_.size())) {
            const std::size_t stop = end != std::string::npos ? end : buffer_.size();
            line.assign(buffer_, start_, stop - start_);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            start_ = stop + 1;
            return true;
        }
        if (ended_) {
            return false;
        }
        buffer_.erase(0, start_);
        start_ = 0;
        const std::size_t kept = buffer_.size();
        buffer_.resize(kept + kChunk);
        const std::size_t count = platform::read_some(file_, buffer_.data() + kept, kChunk, shown_);
        buffer_.resize(kept + count);
        ended_ = count == 0;
    }
}

std::string trace_lines(const std::vector<std::string> &texts) {
    const std::string begun = utc_time_now() + " " + std::to_string(platform::process_id()) + " ";
    std::string lines;
    for (const std::string &text : texts) {
        lines += begun + text + "\n";
    }
    return lines;
}

std::string utc_time_now() {
    using namespace std::chrono;
    // The system clock counts from 1970-01-01 UTC, as time_t does.
    const system_clock::duration since_epoch = system_clock::now().time_since_epoch();
    const seconds whole = duration_cast<seconds>(since_epoch);
    const auto time = static_cast<std::time_t>(whole.count());
    const long long fraction = duration_cast<microseconds>(since_epoch - whole).count();
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &time);
#else
    gmtime_r(&time, &utc);
#endif
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, fraction);
    return text;
}

} // namespace zmod4710_sim
