#include "lock_files.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

namespace zmod4710_sim {

namespace {

[[noreturn]] void refuse_lock_wait(const std::filesystem::path &lock_path) {
    throw StateError("cannot lock " + lock_path.string() + ": waited " +
                     std::to_string(kLockWaitSeconds) +
                     " seconds, and another program still has it");
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

LockFile existing_lock(const platform::Place &place) {
    if (!place.folder.valid()) {
        return LockFile();
    }
    return LockFile::opened(
        [&] { return platform::open_lock(place, lock_name(place.name), false); });
}

std::string lock_name(const std::string &name) {
    return name + ".lock";
}

} // namespace zmod4710_sim
