#include "atomic_replace.hpp"

#include "locate.hpp"

#include <algorithm>
#include <random>
#include <utility>

namespace zmod4710_sim {

namespace {

constexpr char kTemporarySuffix[] = ".tmp";
constexpr std::size_t kRandomDigits = 32;
// Names are unpredictable, so one that is taken was taken on purpose; after
// this many, the write gives up.
constexpr int kCreateAttempts = 100;
// More than the longest name a temporary file can have.
constexpr std::size_t kLongestRecord = 512;

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// Removes a temporary file unless it was put in place.
struct Removal {
    const platform::Place &place;
    const std::string &name;
    bool placed = false;
    ~Removal() {
        if (!placed) {
            platform::remove(place, name);
        }
    }
    Removal(const Removal &) = delete;
    Removal &operator=(const Removal &) = delete;
};

// Fills the new temporary file, gives it the state's attributes, flushes it,
// closes it and renames it over the state; the file is held open to read only
// for its stamp. It is removed when any of that fails.
Snapshot commit(const platform::Place &place, const std::string &temporary, platform::Handle file,
                std::string contents) {
    const std::filesystem::path shown = place.beside(temporary);
    Removal removal{place, temporary};
    write_all(file, contents, shown);
    platform::take_state_attributes(file, place, shown);
    platform::sync(file, shown);
    Snapshot written{std::move(contents), {}, {}};
    if (platform::kFilesHaveStamps) {
        written.held = platform::open_to_read(place, temporary);
    }
    platform::close(std::move(file), shown);
    platform::rename(place, temporary, place.name);
    removal.placed = true;
    if (written.held.valid()) {
        written.status = platform::status_of(written.held, place.user, place.path);
    }
    return written;
}

} // namespace

void write_all(const platform::Handle &file, std::string_view contents,
               const std::filesystem::path &shown) {
    while (!contents.empty()) {
        const std::size_t written =
            platform::write_some(file, contents.data(), contents.size(), shown);
        if (written == 0) {
            throw StateError("cannot write " + shown.string() + ": the system took nothing");
        }
        contents.remove_prefix(written);
    }
}

StateLock::StateLock(const platform::Place &place, LockFile existing, ProcessLock *held)
    : lock_(std::move(existing)), shown_(place.beside(lock_name(place.name))) {
    if (!lock_.valid()) {
        lock_ = LockFile::opened(
            [&] { return platform::open_lock(place, lock_name(place.name), true); });
    }
    const platform::FileStatus lock = platform::status_of(lock_.handle(), place.user, shown_);
    if (!lock.regular()) {
        throw StateError("cannot lock " + shown_.string() + ": not a regular file");
    }
    if (!lock.trusted(place.folder_shared)) {
        refuse_another_users(place.given, shown_);
    }
    // Whoever may open the lock may hold up every writer: only its owner may.
    if (lock.users && lock.others_may_open()) {
        platform::make_private(lock_.handle(), shown_);
    }
    take_lock(lock_.handle(), shown_, held);
}

StateLock::~StateLock() {
    platform::unlock(lock_.handle());
}

Snapshot StateLock::replace(const platform::Place &place, std::string contents,
                            const std::optional<std::string> &previous) const {
    // What no reader would take is never written: the backplane would be lost.
    if (contents.size() > kMaxStateFileSize) {
        throw StateError("cannot write " + place.path.string() + ": the state would be larger " +
                         "than 1 MiB, the most that is read back; it is left as it was");
    }
    remove_recorded_temporary(place);
    std::string temporary;
    platform::Handle file = create_temporary(place, temporary);
    Snapshot written = commit(place, temporary, std::move(file), std::move(contents));
    try {
        platform::sync_folder(place);
    } catch (const StateError &) {
        put_back(place, previous);
        throw;
    }
    return written;
}

void StateLock::remove_recorded_temporary(const platform::Place &place) const {
    const std::string recorded = platform::read_start(lock_.handle(), kLongestRecord, shown_);
    recorded_size_ = recorded.size();
    if (!is_temporary_name_of(recorded, place.name)) {
        return;
    }
    // Only the user's own: another user's file is never removed, whatever its name.
    const std::optional<platform::FileStatus> file = platform::examine(place, recorded);
    if (file && file->regular() && file->users) {
        platform::remove(place, recorded);
    }
}

platform::Handle StateLock::create_temporary(const platform::Place &place,
                                             std::string &name) const {
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        name = unpredictable_name_beside(place.name);
        // Recorded before it is made, so that no killed writer's file is missed.
        record(name);
        platform::Handle file = platform::create_new(place, name);
        if (file.valid()) {
            return file;
        }
    }
    throw StateError("cannot create " + place.beside(name).string() + ": every new name was taken");
}

void StateLock::record(const std::string &name) const {
    platform::write_start(lock_.handle(), name, recorded_size_ > name.size(), shown_);
    recorded_size_ = name.size();
}

void StateLock::put_back(const platform::Place &place,
                         const std::optional<std::string> &previous) const noexcept {
    try {
        if (!previous) {
            platform::remove(place, place.name);
            return;
        }
        std::string temporary;
        platform::Handle file = create_temporary(place, temporary);
        commit(place, temporary, std::move(file), *previous);
        platform::sync_folder(place);
    } catch (...) {
        // The failure that called for this is reported whatever becomes of it.
        return;
    }
}

std::string unpredictable_name_beside(const std::string &name) {
    static const char kDigits[] = "0123456789abcdef";
    // Made once: making one asks the system what sources it has, which costs more
    // than the numbers.
    thread_local std::random_device source;
    std::string suffix;
    while (suffix.size() < kRandomDigits) {
        for (unsigned int bits = source(), digit = 0; digit < 8; ++digit, bits >>= 4) {
            suffix += kDigits[bits & 15u];
        }
    }
    return "." + name + "." + suffix + kTemporarySuffix;
}

bool is_temporary_name_of(const std::string &candidate, const std::string &name) {
    const std::string prefix = "." + name + ".";
    const std::size_t suffix_size = sizeof kTemporarySuffix - 1;
    if (candidate.size() != prefix.size() + kRandomDigits + suffix_size ||
        candidate.compare(0, prefix.size(), prefix) != 0 ||
        candidate.compare(candidate.size() - suffix_size, suffix_size, kTemporarySuffix) != 0) {
        return false;
    }
    return std::all_of(candidate.begin() + static_cast<std::ptrdiff_t>(prefix.size()),
                       candidate.end() - static_cast<std::ptrdiff_t>(suffix_size), is_hex_digit);
}

} // namespace zmod4710_sim
