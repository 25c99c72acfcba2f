// How a state is replaced under its lock, so that a crash, a fault or a
// program writing at once never leaves half a state or a lost write: a new
// temporary file beside it, flushed, renamed over it, the folder flushed.
#pragma once

#include "backplane_store.hpp"
#include "lock_files.hpp"
#include "platform.hpp"
#include "state_reading.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zmod4710_sim {

// Writes the whole of contents to the open file, or throws StateError.
void write_all(const platform::Handle &file, std::string_view contents,
               const std::filesystem::path &shown);

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

// A name for a temporary file beside the state file named name that no one can
// predict, and whether a name is one of those.
std::string unpredictable_name_beside(const std::string &name);
bool is_temporary_name_of(const std::string &candidate, const std::string &name);

} // namespace zmod4710_sim
