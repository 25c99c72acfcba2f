// The state's lock files: opened so that a forked child keeps none of its
// parent's, and waited for in the system, a bounded time.
#pragma once

#include "backplane_store.hpp"
#include "platform.hpp"

#include <filesystem>
#include <string>
#include <thread>

namespace zmod4710_sim {

// The longest any call waits for another program's lock on the state.
constexpr int kLockWaitSeconds = 10;

// A lock file's handle, which a forked child does not keep: the child of a
// program that holds the state's lock, or waits for it, never holds it unless
// it takes it itself.
class LockFile {
public:
    LockFile() = default;
    // The file that open() opens, noted so that a forked child closes it; opened
    // again when a fork may have come between the open and the note.
    template <class Open> static LockFile opened(const Open &open) {
        for (;;) {
            const unsigned before = fork_events();
            LockFile file(open());
            if (!file.valid() || (before % 2 == 0 && fork_events() == before)) {
                return file;
            }
            std::this_thread::yield(); // a fork may be under way
        }
    }
    ~LockFile();
    LockFile(LockFile &&other) noexcept : handle_(std::move(other.handle_)) {}
    LockFile &operator=(LockFile &&other) noexcept;
    LockFile(const LockFile &) = delete;
    LockFile &operator=(const LockFile &) = delete;

    bool valid() const { return handle_.valid(); }
    const platform::Handle &handle() const { return handle_; }

private:
    explicit LockFile(platform::Handle handle);
    // Counts each fork's start and end: odd while a fork is under way.
    static unsigned fork_events() noexcept;
    platform::Handle handle_;
};

// Has a forked child close the lock files this process has open, from now on
// (LockFile does this at its first use). A caller with fork handlers of its own
// that take a lock under which lock files are opened calls this before it sets
// them, so that its own run before these: a fork then never begins while a
// lock file is being opened.
void close_lock_files_in_forked_children() noexcept;

// The state's lock file, opened when it is there; not valid when a write would
// make it or the folder.
LockFile existing_lock(const platform::Place &place);

// Takes the exclusive lock on the open file lock, waiting kLockWaitSeconds at
// most, in the system (no polling), so a waiting writer has its turn as soon as
// the lock is let go. A caller that holds held lets it go meanwhile, and holds
// it again when this returns or throws. Throws StateError.
void take_lock(const platform::Handle &lock, const std::filesystem::path &shown, ProcessLock *held);

// The lock file's name beside the state file named name.
std::string lock_name(const std::string &name);

} // namespace zmod4710_sim
