// How the state file is read and written, so that a crash, a fault, a program
// writing at once or another user of the machine never leaves half a state, a
// lost write or a file that is not the user's. Written once, over the system
// calls of platform.hpp.
#pragma once

#include "backplane_store.hpp"
#include "platform.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace zmod4710_sim {

// Far more than any backplane's state; a larger file is refused unread.
constexpr std::uintmax_t kMaxStateFileSize = std::uintmax_t{1} << 20;

// The longest any call waits for another program's lock on the state.
constexpr int kLockWaitSeconds = 10;

// A state file's contents as read or written, and what the system said of it.
// Where files have stamps, the file is held open (to read only) so that the
// stamp names it alone.
struct Snapshot {
    std::string contents;
    platform::FileStatus status;
    platform::Handle held;
};

// The whole state file in place, or nothing while there is none. Throws
// StateError when it is not a regular file of the user's (or root's) or larger
// than kMaxStateFileSize; a file that grows while it is read stops there too.
std::optional<Snapshot> read_state(const platform::Place &place);

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

// Writes the whole of contents to the open file, or throws StateError.
void write_all(const platform::Handle &file, std::string_view contents,
               const std::filesystem::path &shown);

// Whether the user may write the state in place: check_writable's verdict.
bool may_write(const platform::Place &place);

// Refuses (StateError) a state that its user may not write: one that is
// read-only, or one that is not the user's own, which a write would take.
void check_writable(const platform::Place &place);

// The exclusive lock on a state, for its writers: a file beside the state named
// after it, private to the user, that only a writer can open, and that is never
// removed (removing it would let two programs lock two files of one name). It
// also records the name of the temporary file that the writer holding it makes,
// so that the next writer removes it if the writer was killed.
class StateLock {
public:
    // Takes the lock (take_lock), letting held go while it waits. existing is
    // the lock file when it was opened already.
    explicit StateLock(const platform::Place &place, LockFile existing = {},
                       ProcessLock *held = nullptr);
    // Lets the lock go, for whoever else has the file open (a forked child) too.
    ~StateLock();
    StateLock(const StateLock &) = delete;
    StateLock &operator=(const StateLock &) = delete;

    // Writes contents to a new temporary file beside the state, flushes it, and
    // renames it over the state, then flushes the folder: a crash leaves the old
    // file or the new one. previous is what the state held (nothing when there
    // was no file): if the folder cannot be flushed, it is put back, so that a
    // write reported as failed is not there. Throws StateError; the temporary
    // file is then gone.
    Snapshot replace(const platform::Place &place, std::string contents,
                     const std::optional<std::string> &previous) const;

private:
    // Removes the temporary file that the last writer recorded, if it is the
    // user's own and still there: that writer was killed before its rename.
    void remove_recorded_temporary(const platform::Place &place) const;
    // Makes a temporary file beside the state under a new name, recorded first.
    platform::Handle create_temporary(const platform::Place &place, std::string &name) const;
    void record(const std::string &name) const;
    // Puts previous back in the state's place, or removes the state when there
    // was none; as far as it can.
    void put_back(const platform::Place &place,
                  const std::optional<std::string> &previous) const noexcept;

    LockFile lock_;
    std::filesystem::path shown_;
    mutable std::size_t recorded_size_ = 0;
};

// The lock file's name beside the state file named name.
std::string lock_name(const std::string &name);

// A name for a temporary file beside the state file named name that no one can
// predict, and whether a name is one of those.
std::string unpredictable_name_beside(const std::string &name);
bool is_temporary_name_of(const std::string &candidate, const std::string &name);

} // namespace zmod4710_sim
