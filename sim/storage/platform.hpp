// The system calls under the state file's storage: one thin layer for each kind
// of system (platform_posix.cpp, platform_windows.cpp). Each function wraps a
// call or two and says what it found; what to do about it, and in what order,
// is the storage's (locate*.cpp, state_reading.cpp, lock_files.cpp,
// atomic_replace.cpp, owner_checks.cpp, trace_file.cpp). A call that fails
// throws StateError, naming what could not be done, the path and the system's
// reason.
#pragma once

#include "state_error.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zmod4710_sim {

// What identifies a file and changes whenever its contents may have: a replaced
// file is a new file, and a file changed in place has a new size or time. Only
// a file that is kept open keeps its identity for itself: the system may give a
// removed file's identity to the next new file.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
};
bool operator==(const FileStamp &a, const FileStamp &b);

namespace platform {

// Whether a file's stamp can be had cheaply. Where it cannot (Windows), every
// read reads the file, and nothing is held open between calls.
#ifdef _WIN32
constexpr bool kFilesHaveStamps = false;
#else
constexpr bool kFilesHaveStamps = true;
#endif

// What the system gave for an open file or folder: a descriptor, or a HANDLE.
using Native = std::intptr_t;
constexpr Native kNone = -1;

void close_quietly(Native native) noexcept;

// An open file or folder, closed when the Handle goes.
class Handle {
public:
    Handle() = default;
    explicit Handle(Native native) : native_(native) {}
    ~Handle() {
        if (valid()) {
            close_quietly(native_);
        }
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    Handle(Handle &&other) noexcept : native_(other.release()) {}
    Handle &operator=(Handle &&other) noexcept {
        std::swap(native_, other.native_);
        return *this;
    }
    bool valid() const { return native_ != kNone; }
    Native get() const { return native_; }
    Native release() { return std::exchange(native_, kNone); }

private:
    Native native_ = kNone;
};

// A file as the system describes it, a link not followed.
struct FileStatus {
    enum class Kind { regular, folder, link, other };
    Kind kind = Kind::other;
    bool users = false;     // it belongs to the user who runs the program
    bool roots = false;     // ... or to root
    std::uint32_t mode = 0; // its permission bits (on Windows 0600, or 0400 when read-only)
    std::uint32_t group = 0;
    std::uint64_t size = 0;
    std::optional<FileStamp> stamp; // where files have stamps

    bool regular() const { return kind == Kind::regular; }
    bool owner_may_write() const { return (mode & 0200) != 0; }
    bool others_may_open() const { return (mode & 077) != 0; }
    bool others_may_write() const { return (mode & 022) != 0; }
    // The user's own, or root's in a folder where nobody else may put files.
    bool trusted(bool folder_shared) const { return users || (roots && !folder_shared); }
};

// Where the state file lies, as locate (locate.hpp) found it.
struct Place {
    std::filesystem::path given;    // the state's path as named
    Handle folder;                  // open; not valid while the folder does not exist
    std::filesystem::path path;     // the state file's path with its links followed, to show
    std::string name;               // the state file's name in the folder
    std::optional<FileStatus> file; // the state file, or nothing while there is none
    bool folder_shared = false;     // others may write the (sticky) folder
    bool folder_readable = false;   // POSIX: the folder is open to read, and can be flushed
    bool folder_sets_group = false; // POSIX: new files take the folder's group
    std::uint32_t folder_group = 0;
    std::uint32_t user = 0; // POSIX: the user who runs the program

    // The path of another file in the folder, to show.
    std::filesystem::path beside(const std::string &other) const {
        return path.parent_path() / other;
    }
};

// For the way to the state on Windows, which follows links itself:
// The folder path names, its links followed, opened to look at it.
Handle open_folder(const std::filesystem::path &path);

// For the walk along a path on POSIX systems:
// The user who runs the program.
std::uint32_t user();
// The folder path names, in one call and no link followed; not valid where that
// cannot be done. readable says whether it is open to read (it can be flushed).
Handle open_folder_without_links(const std::filesystem::path &path, bool &readable);
// The root ("/") or the current folder ("."), opened to act in.
Handle open_start_folder(const char *path);
// The folder name in folder, a link not followed: not valid when there is
// nothing of that name (missing) or something else than a folder.
Handle open_folder_in(const Handle &folder, const std::string &name, bool &missing,
                      const std::filesystem::path &shown);
// What name in folder holds, a link not followed, or nothing.
std::optional<FileStatus> examine_in(const Handle &folder, const std::string &name,
                                     std::uint32_t user, const std::filesystem::path &shown);
// The target of the link name in folder, size bytes long as it was examined,
// or longer: some (in /proc) say 0.
std::string read_link(const Handle &folder, const std::string &name, std::uint64_t size,
                      const std::filesystem::path &shown);
// Makes the folder name in folder, private to the user; one there already will do.
void make_folder(const Handle &folder, const std::string &name, const std::filesystem::path &shown);

// What name holds in the folder, a link not followed, or nothing.
std::optional<FileStatus> examine(const Place &place, const std::string &name);

// Opens name to read: never through a link, and never waiting for a FIFO's
// writer. Not valid when there is no such file.
Handle open_to_read(const Place &place, const std::string &name);
// What the open file or folder is; user is Place::user.
FileStatus status_of(const Handle &file, std::uint32_t user, const std::filesystem::path &shown);
// Reads what comes next, 0 at the end.
std::size_t read_some(const Handle &file, char *buffer, std::size_t size,
                      const std::filesystem::path &shown);
// Standard input, as a handle of its own to read.
Handle standard_input();
// Whether standard input, or output, is a terminal (a console, on Windows).
bool standard_input_is_terminal();
bool standard_output_is_terminal();
// Sets where the next read of a regular file begins.
void seek_to(const Handle &file, std::uint64_t offset, const std::filesystem::path &shown);

// The lock file, opened to read and write, never through a link. With create,
// it is made private to the user when it is missing; without, it is then not
// valid.
Handle open_lock(const Place &place, const std::string &name, bool create);
void make_private(const Handle &file, const std::filesystem::path &shown);
// An exclusive lock on the whole file, held until its last handle is closed.
bool try_lock(const Handle &file, const std::filesystem::path &shown);
void wait_for_lock(const Handle &file, const std::filesystem::path &shown);
// Lets the lock go, for every handle that shares it.
void unlock(const Handle &file) noexcept;
// Another handle on the same open file, which shares its lock.
Handle duplicate(const Handle &file, const std::filesystem::path &shown);
// The file's first bytes, up to size; and its contents replaced by text, cut
// after it when they were longer.
std::string read_start(const Handle &file, std::size_t size, const std::filesystem::path &shown);
void write_start(const Handle &file, std::string_view text, bool cut,
                 const std::filesystem::path &shown);

// Makes name anew to write, readable by the user alone, never through a link.
// Not valid when something of that name is there already.
Handle create_new(const Place &place, const std::string &name);
std::size_t write_some(const Handle &file, const char *data, std::size_t size,
                       const std::filesystem::path &shown);
// Gives a new file the mode and group of the state it replaces, or the mode a
// new file gets here when there is none.
void take_state_attributes(const Handle &file, const Place &place,
                           const std::filesystem::path &shown);
// Flushes the file to the disk.
void sync(const Handle &file, const std::filesystem::path &shown);
// Closes the file, which may report a write that failed.
void close(Handle file, const std::filesystem::path &shown);
// Renames from over to, in the folder, atomically.
void rename(const Place &place, const std::string &from, const std::string &to);
// Flushes the folder, so that a rename in it survives a power loss.
void sync_folder(const Place &place);
// Removes name from the folder; false when it cannot.
bool remove(const Place &place, const std::string &name) noexcept;

// Opens name in the folder to append to it: never through a link, never
// waiting for a FIFO's reader. Without create, not valid when there is nothing
// of that name; with create, makes it anew (readable and writable by the user
// alone, less what the umask takes), and not valid when something of that
// name is there already.
Handle open_to_append(const Place &place, const std::string &name, bool create);
// Writes data at the end of a file opened to append to, in one call, which no
// other writer's append can split: what the system took, less than size only
// when it could take no more (a full disk).
std::size_t append(const Handle &file, const char *data, std::size_t size,
                   const std::filesystem::path &shown);
// Takes back the last count bytes that append wrote to file, when nothing was
// appended after them; false when it cannot.
bool take_back(const Handle &file, std::size_t count) noexcept;
// Notices of the open file's name being taken from it (renamed, removed, or
// replaced by another file), and of its folder, place's, being moved or
// removed; not valid where the system gives none (Windows), or none can be had
// for this file.
Handle watch_name(const Place &place, const Handle &file) noexcept;
// Whether such a notice came since this was last asked; always, without notices.
bool name_may_have_changed(const Handle &watch) noexcept;
// Whether two open files or folders are one and the same.
bool same_file(const Handle &a, const Handle &b, const std::filesystem::path &shown);
// The number of the process that runs this program.
long process_id();
// Has the system call prepare before the program forks, and parent and child
// in each after it (on POSIX systems; Windows does not fork).
void on_fork(void (*prepare)(), void (*parent)(), void (*child)()) noexcept;

// The stamp of what path names now, its links followed, or nothing when it is
// not a regular file or there is nothing.
std::optional<FileStamp> stamp_of(const std::filesystem::path &path);

} // namespace platform
} // namespace zmod4710_sim
