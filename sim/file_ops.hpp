// The file operations the state file needs, each done so that a crash, a
// concurrent program or another user of the machine never sees half a state,
// and never makes the program act on a file or folder that is not its user's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace zmod4710_sim {

// Far more than any backplane's state; a larger file is refused unread.
constexpr std::uintmax_t kMaxStateFileSize = std::uintmax_t{1} << 20;

// The longest any call waits for another program's lock on the state.
constexpr int kLockWaitSeconds = 10;

// What identifies a file and changes whenever its contents may have: a replaced
// file is a new file, and a file changed in place has a new size or time. Only
// a file that is kept open (FileSnapshot) keeps its identity for itself: the
// system may give a removed file's identity to the next new file.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
};
bool operator==(const FileStamp &a, const FileStamp &b);

// A state file as it was read or written: its contents and its stamp, with the
// file itself held open so that the stamp names it alone.
struct FileSnapshot {
    std::string contents;
    FileStamp stamp;
    std::shared_ptr<void> held;
};

// The stamp of the file that path names now, its links followed by the system,
// or nothing when it cannot be had cheaply or the file does not exist.
std::optional<FileStamp> stamp_of(const std::filesystem::path &path);

// The state file's place: the folder that holds it, opened once so that every
// step of one call (read, lock, create, rename, sync) acts on that folder
// whatever happens meanwhile to the links on its path, and the file's name there.
//
// Opening it follows the state's path as the system would, with the rules that
// keep another user from steering it: the state file, its lock and every link
// followed to reach them belong to the user who runs the program or to root; so
// does each folder that holds them, and nobody else may write it, unless it is a
// sticky folder (like /tmp), where the file and the links must be the user's own.
// Anything else is refused with StateError, before anything is made.
class StateLocation {
public:
    enum class Purpose { read, write };

    // For a write, the folders that are missing are made, private to the user.
    StateLocation(const std::filesystem::path &path, Purpose purpose);
    ~StateLocation();
    StateLocation(const StateLocation &) = delete;
    StateLocation &operator=(const StateLocation &) = delete;

    // The stamp of the state file, or nothing while there is none. Throws
    // StateError when it is not a regular file or not the user's to use.
    std::optional<FileStamp> stamp() const;

    // The whole file, or nothing while there is none. Throws StateError when it
    // cannot be read, is not a regular file (a FIFO would never end, a device
    // never stop), is not the user's to use, or is larger than kMaxStateFileSize.
    std::optional<FileSnapshot> read() const;

    // An exclusive lock on the state, held until the object is destroyed: a file
    // beside the state file named after it, with a mode no wider than the
    // state's, never removed (removing it would let two programs lock two files
    // of one name). Throws StateError after kLockWaitSeconds.
    std::shared_ptr<void> lock() const;

    // Refuses (StateError) a state that its user may not write: one that is
    // read-only, or one that belongs to another user, whose file a write would take.
    void check_writable() const;

    // Removes the temporary files that writers killed before their rename left
    // beside the state file. Only while the lock is held, when no live writer
    // can have one; regular files only.
    void remove_leftover_temporaries() const;

    // Writes contents to a new temporary file beside the state file, flushes it
    // to the disk and renames it over the state file, then flushes the folder: a
    // crash leaves the old or the new file. The temporary file is made anew under
    // a name no one can predict, never through a link, readable by the user
    // alone until it takes the state's mode just before the rename; it is removed
    // when the write fails. Throws StateError.
    FileSnapshot replace(std::string contents) const;

    struct Platform;

private:
    std::unique_ptr<Platform> platform_;
};

// The wording of refusals shared by every system.
[[noreturn]] void refuse_irregular_file(const std::filesystem::path &path);
void refuse_if_too_large(const std::filesystem::path &path, std::uintmax_t size);
[[noreturn]] void refuse_lock_held(const std::filesystem::path &lock_path);
[[noreturn]] void refuse_read_only(const std::filesystem::path &path);
[[noreturn]] void refuse_taken_by_write(const std::filesystem::path &path);

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
