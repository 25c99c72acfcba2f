// How the state file is read and written, so that a crash, a fault, a program
// writing at once or another user of the machine never leaves half a state, a
// lost write or a file that is not the user's. Written once, over the system
// calls of platform.hpp.
#pragma once

#include "platform.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

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

// The state's lock file, opened when it is there; not valid when a write would
// make it or the folder.
platform::Handle existing_lock(const platform::Place &place);

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
    // Waits for another program's lock kLockWaitSeconds at most, in the system
    // (no polling), so a waiting writer has its turn as soon as the lock is let
    // go. existing is the lock file when it was opened already.
    explicit StateLock(const platform::Place &place, platform::Handle existing = {});

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

    platform::Handle lock_;
    std::filesystem::path shown_;
    mutable std::size_t recorded_size_ = 0;
};

// Appends line to the trace at path under the rules of the state file: reached
// as the state is (locate), so never through another user's link or folder;
// only ever a regular file of the user's own, opened without waiting and
// checked as opened; made private to the user when it is new. The state file
// that state names (none when empty), its lock and its temporary files are no
// trace. Throws StateError, naming the trace and the reason.
void append_to_trace(const std::filesystem::path &path, const std::filesystem::path &state,
                     std::string_view line);

// The wording of refusals that every system shares.
[[noreturn]] void refuse_irregular_file(const std::filesystem::path &path);
[[noreturn]] void refuse_another_users(const std::filesystem::path &state,
                                       const std::filesystem::path &entry);
[[noreturn]] void refuse_folder_name(const std::filesystem::path &path);

// path's last part, when it names a file: not empty, ".", ".." or a name ending
// in a separator. Throws StateError otherwise.
std::string file_name_of(const std::filesystem::path &path);

// The lock file's name beside the state file named name.
std::string lock_name(const std::string &name);

// A name for a temporary file beside the state file named name that no one can
// predict, and whether a name is one of those.
std::string unpredictable_name_beside(const std::string &name);
bool is_temporary_name_of(const std::string &candidate, const std::string &name);

} // namespace zmod4710_sim
