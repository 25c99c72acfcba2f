#include "storage.hpp"

#include "locate.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <string_view>
#include <thread>
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

void refuse_if_too_large(const std::filesystem::path &path, std::uintmax_t size) {
    if (size > kMaxStateFileSize) {
        throw StateError("cannot read " + path.string() +
                         ": larger than 1 MiB, far more than any backplane's state");
    }
}

[[noreturn]] void refuse_lock_wait(const std::filesystem::path &lock_path) {
    throw StateError("cannot lock " + lock_path.string() + ": waited " +
                     std::to_string(kLockWaitSeconds) +
                     " seconds, and another program still has it");
}

void check_readable(const platform::FileStatus &status, const platform::Place &place) {
    if (!status.regular()) {
        refuse_irregular_file(place.path);
    }
    if (!status.trusted(place.folder_shared)) {
        refuse_another_users(place.given, place.path);
    }
}

// The whole file, whose size was size when it was looked at. A regular file
// reads short only at its end, so asking for a byte more than its size reads it
// in one call.
std::string read_bounded(const platform::Handle &file, std::uintmax_t size,
                         const std::filesystem::path &shown) {
    refuse_if_too_large(shown, size);
    std::string contents;
    std::size_t wanted = static_cast<std::size_t>(size) + 1;
    for (;;) {
        const std::size_t start = contents.size();
        contents.resize(start + wanted);
        const std::size_t count = platform::read_some(file, &contents[start], wanted, shown);
        contents.resize(start + count);
        // Also a file that grows while it is read stops at the limit.
        refuse_if_too_large(shown, contents.size());
        if (count < wanted) {
            return contents;
        }
        wanted = 16384;
    }
}

// The lock files open in this process, each as its handle plus one (0: none),
// for a forked child to close: as many as writers wait at once, and more than
// enough for the threads of one program.
constexpr std::size_t kMostLockFiles = 64;
std::atomic<platform::Native> open_lock_files[kMostLockFiles];
std::atomic<unsigned> fork_event_count{0};

void note_fork_event() {
    fork_event_count.fetch_add(1);
}

// In a forked child, whose threads are gone: no lock of theirs is kept.
void close_lock_files_of_parent() {
    for (std::atomic<platform::Native> &noted : open_lock_files) {
        if (const platform::Native native = noted.exchange(0); native != 0) {
            platform::close_quietly(native - 1);
        }
    }
    note_fork_event();
}

// One wait for the lock in the system, by a helper thread that the caller
// waits on for kLockWaitSeconds at most. The helper has a handle of its own on
// the lock file, which shares the caller's lock.
struct LockWait {
    std::mutex mutex;
    std::condition_variable over;
    LockFile lock;
    bool finished = false;
    bool abandoned = false; // the caller gave up
    bool failed = false;
    std::string failure;
};

// Blocks until the lock is had, then closes the helper's handle: the caller's
// keeps the lock; when the caller has given up, the lock is let go first.
void wait_in_system(const std::shared_ptr<LockWait> &wait,
                    const std::filesystem::path &shown) noexcept {
    bool failed = false;
    std::string failure;
    try {
        platform::wait_for_lock(wait->lock.handle(), shown);
    } catch (const std::exception &error) {
        failed = true;
        try {
            failure = error.what();
        } catch (...) {
            failure.clear();
        }
    } catch (...) {
        failed = true;
    }
    const std::lock_guard<std::mutex> guard(wait->mutex);
    if (!failed && wait->abandoned) {
        platform::unlock(wait->lock.handle());
    }
    wait->lock = LockFile();
    wait->finished = true;
    wait->failed = failed;
    wait->failure.swap(failure);
    wait->over.notify_one();
}

// Lets a lock held go until the end of the scope, and takes it again then.
class LetGo {
public:
    explicit LetGo(ProcessLock *held) : held_(held) {
        if (held_ != nullptr) {
            held_->unlock();
        }
    }
    ~LetGo() {
        if (held_ != nullptr) {
            held_->lock();
        }
    }
    LetGo(const LetGo &) = delete;
    LetGo &operator=(const LetGo &) = delete;

private:
    ProcessLock *held_;
};

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

LockFile::LockFile(platform::Handle handle) : handle_(std::move(handle)) {
    if (!handle_.valid()) {
        return;
    }
    for (std::atomic<platform::Native> &noted : open_lock_files) {
        platform::Native none = 0;
        if (noted.compare_exchange_strong(none, handle_.get() + 1)) {
            return;
        }
    }
}

LockFile::~LockFile() {
    if (!handle_.valid()) {
        return;
    }
    for (std::atomic<platform::Native> &noted : open_lock_files) {
        platform::Native mine = handle_.get() + 1;
        if (noted.compare_exchange_strong(mine, 0)) {
            return;
        }
    }
}

LockFile &LockFile::operator=(LockFile &&other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
}

unsigned LockFile::fork_events() noexcept {
    close_lock_files_in_forked_children();
    return fork_event_count.load();
}

void close_lock_files_in_forked_children() noexcept {
    static const bool set = [] {
        platform::on_fork(note_fork_event, note_fork_event, close_lock_files_of_parent);
        return true;
    }();
    (void)set;
}

void take_lock(const platform::Handle &lock, const std::filesystem::path &shown,
               ProcessLock *held) {
    if (platform::try_lock(lock, shown)) {
        return;
    }
    const auto wait = std::make_shared<LockWait>();
    wait->lock = LockFile::opened([&] { return platform::duplicate(lock, shown); });
    std::thread(wait_in_system, wait, shown).detach();
    const LetGo meanwhile(held);
    std::unique_lock<std::mutex> guard(wait->mutex);
    if (!wait->over.wait_for(guard, std::chrono::seconds(kLockWaitSeconds),
                             [&] { return wait->finished; })) {
        wait->abandoned = true;
        refuse_lock_wait(shown);
    }
    if (wait->failed) {
        throw StateError(wait->failure.empty() ? "cannot lock " + shown.string() : wait->failure);
    }
}

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

bool operator==(const FileStamp &a, const FileStamp &b) {
    return a.device == b.device && a.file == b.file && a.size == b.size &&
           a.modified == b.modified && a.changed == b.changed;
}

std::optional<Snapshot> read_state(const platform::Place &place) {
    if (!place.folder.valid()) {
        return std::nullopt;
    }
    platform::Handle file = platform::open_to_read(place, place.name);
    if (!file.valid()) {
        return std::nullopt;
    }
    const platform::FileStatus status = platform::status_of(file, place.user, place.path);
    check_readable(status, place);
    Snapshot snapshot{read_bounded(file, status.size, place.path), status, {}};
    if (status.stamp) {
        snapshot.held = std::move(file);
    }
    return snapshot;
}

LockFile existing_lock(const platform::Place &place) {
    if (!place.folder.valid()) {
        return LockFile();
    }
    return LockFile::opened(
        [&] { return platform::open_lock(place, lock_name(place.name), false); });
}

bool may_write(const platform::Place &place) {
    return !place.file || (place.file->users && place.file->owner_may_write());
}

void check_writable(const platform::Place &place) {
    if (!place.file) {
        return;
    }
    if (!place.file->users) {
        throw StateError("cannot write " + place.path.string() +
                         ": it belongs to another user, and a write would make it yours");
    }
    if (!place.file->owner_may_write()) {
        throw StateError("cannot write " + place.path.string() +
                         ": it is read-only, and a write would replace it");
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

std::string lock_name(const std::string &name) {
    return name + ".lock";
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
