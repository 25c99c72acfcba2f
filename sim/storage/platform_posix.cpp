// The state file's system calls on POSIX systems.
#include "platform.hpp"
#include "state_error.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/openat2.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#endif

namespace zmod4710_sim::platform {

namespace {

// A folder is opened only to act relative to it, which needs no right to read it.
#ifdef O_PATH
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

[[noreturn]] void fail(const std::string &what, const std::filesystem::path &path) {
    throw StateError("cannot " + what + " " + path.string() + ": " + std::strerror(errno));
}

int descriptor(const Handle &handle) {
    return static_cast<int>(handle.get());
}

std::int64_t nanoseconds(const timespec &time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileStamp stamp_from(const struct stat &file) {
    return FileStamp{static_cast<std::uint64_t>(file.st_dev),
                     static_cast<std::uint64_t>(file.st_ino),
                     static_cast<std::uint64_t>(file.st_size), nanoseconds(file.st_mtim),
                     nanoseconds(file.st_ctim)};
}

FileStatus status_from(const struct stat &file, std::uint32_t user) {
    FileStatus status;
    status.kind = S_ISREG(file.st_mode)   ? FileStatus::Kind::regular
                  : S_ISDIR(file.st_mode) ? FileStatus::Kind::folder
                  : S_ISLNK(file.st_mode) ? FileStatus::Kind::link
                                          : FileStatus::Kind::other;
    status.users = file.st_uid == user;
    status.roots = file.st_uid == 0;
    status.mode = static_cast<std::uint32_t>(file.st_mode & 07777);
    status.group = static_cast<std::uint32_t>(file.st_gid);
    status.size = static_cast<std::uint64_t>(file.st_size);
    status.stamp = stamp_from(file);
    return status;
}

// The file mode that a new file gets here: 0666 less the umask, which can only be
// read by setting it. The umask is 0077 meanwhile, so a file that another thread
// makes in that moment is more private, never less.
mode_t new_file_mode() {
    const mode_t mask = ::umask(0077);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

void close_quietly(Native native) noexcept {
    ::close(static_cast<int>(native));
}

std::uint32_t user() {
    return static_cast<std::uint32_t>(::geteuid());
}

Handle open_folder_without_links(const std::filesystem::path &path, bool &readable) {
#if defined(__linux__) && defined(SYS_openat2)
    // To read, so that it can be flushed, unless only its owner may read it.
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    Handle folder(::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how));
    readable = folder.valid();
    if (!readable && errno == EACCES) {
        how.flags = static_cast<std::uint64_t>(kFolderFlags);
        folder = Handle(::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how));
    }
    return folder;
#else
    (void)path;
    readable = false;
    return Handle();
#endif
}

Handle open_start_folder(const char *path) {
    Handle folder(::open(path, kFolderFlags));
    if (!folder.valid()) {
        fail("open the folder", path);
    }
    return folder;
}

Handle open_folder_in(const Handle &folder, const std::string &name, bool &missing,
                      const std::filesystem::path &shown) {
    Handle opened(::openat(descriptor(folder), name.c_str(), kFolderFlags | O_NOFOLLOW));
    missing = !opened.valid() && errno == ENOENT;
    if (!opened.valid() && !missing && errno != ENOTDIR && errno != ELOOP) {
        fail("open the folder", shown);
    }
    return opened;
}

std::optional<FileStatus> examine_in(const Handle &folder, const std::string &name,
                                     std::uint32_t user, const std::filesystem::path &shown) {
    struct stat file {};
    if (::fstatat(descriptor(folder), name.c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0) {
        return status_from(file, user);
    }
    if (errno != ENOENT) {
        fail("examine", shown);
    }
    return std::nullopt;
}

std::string read_link(const Handle &folder, const std::string &name, std::uint64_t size,
                      const std::filesystem::path &shown) {
    // Room for more than it holds, so that a target cut short shows.
    std::string target(static_cast<std::size_t>(size) + 64, '\0');
    for (ssize_t length = 0; (length = ::readlinkat(descriptor(folder), name.c_str(), target.data(),
                                                    target.size())) >= 0;
         target.resize(2 * target.size())) {
        if (static_cast<std::size_t>(length) < target.size()) {
            return target.substr(0, static_cast<std::size_t>(length));
        }
    }
    fail("follow the link", shown);
}

void make_folder(const Handle &folder, const std::string &name,
                 const std::filesystem::path &shown) {
    if (::mkdirat(descriptor(folder), name.c_str(), 0700) != 0 && errno != EEXIST) {
        fail("create", shown);
    }
}

std::optional<FileStatus> examine(const Place &place, const std::string &name) {
    return place.folder.valid() ? examine_in(place.folder, name, place.user, place.beside(name))
                                : std::nullopt;
}

Handle open_to_read(const Place &place, const std::string &name) {
    Handle file(::openat(descriptor(place.folder), name.c_str(),
                         O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!file.valid() && errno != ENOENT) {
        fail("open", place.beside(name));
    }
    return file;
}

FileStatus status_of(const Handle &file, std::uint32_t user, const std::filesystem::path &shown) {
    struct stat status {};
    if (::fstat(descriptor(file), &status) != 0) {
        fail("examine", shown);
    }
    return status_from(status, user);
}

std::size_t read_some(const Handle &file, char *buffer, std::size_t size,
                      const std::filesystem::path &shown) {
    for (;;) {
        const ssize_t count = ::read(descriptor(file), buffer, size);
        if (count >= 0) {
            return static_cast<std::size_t>(count);
        }
        if (errno != EINTR) {
            fail("read", shown);
        }
    }
}

Handle standard_input() {
    Handle input(::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
    if (!input.valid()) {
        fail("read", "standard input");
    }
    return input;
}

bool standard_input_is_terminal() {
    return ::isatty(STDIN_FILENO) != 0;
}

bool standard_output_is_terminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

void seek_to(const Handle &file, std::uint64_t offset, const std::filesystem::path &shown) {
    if (::lseek(descriptor(file), static_cast<off_t>(offset), SEEK_SET) < 0) {
        fail("read", shown);
    }
}

Handle open_lock(const Place &place, const std::string &name, bool create) {
    // Not blocking on a FIFO put in its place.
    Handle file(::openat(descriptor(place.folder), name.c_str(),
                         O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT : 0),
                         0600));
    if (!file.valid() && (create || errno != ENOENT)) {
        fail("open the lock file", place.beside(name));
    }
    return file;
}

void make_private(const Handle &file, const std::filesystem::path &shown) {
    if (::fchmod(descriptor(file), 0600) != 0) {
        fail("set the mode of", shown);
    }
}

bool try_lock(const Handle &file, const std::filesystem::path &shown) {
    while (::flock(descriptor(file), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return false;
        }
        if (errno != EINTR) {
            fail("lock", shown);
        }
    }
    return true;
}

void wait_for_lock(const Handle &file, const std::filesystem::path &shown) {
    while (::flock(descriptor(file), LOCK_EX) != 0) {
        if (errno != EINTR) {
            fail("lock", shown);
        }
    }
}

void unlock(const Handle &file) noexcept {
    ::flock(descriptor(file), LOCK_UN);
}

Handle duplicate(const Handle &file, const std::filesystem::path &shown) {
    Handle copy(::fcntl(descriptor(file), F_DUPFD_CLOEXEC, 0));
    if (!copy.valid()) {
        fail("lock", shown);
    }
    return copy;
}

std::string read_start(const Handle &file, std::size_t size, const std::filesystem::path &shown) {
    std::string text(size, '\0');
    const ssize_t count = ::pread(descriptor(file), text.data(), size, 0);
    if (count < 0) {
        fail("read", shown);
    }
    text.resize(static_cast<std::size_t>(count));
    return text;
}

void write_start(const Handle &file, std::string_view text, bool cut,
                 const std::filesystem::path &shown) {
    if (::pwrite(descriptor(file), text.data(), text.size(), 0) !=
            static_cast<ssize_t>(text.size()) ||
        (cut && ::ftruncate(descriptor(file), static_cast<off_t>(text.size())) != 0)) {
        fail("write", shown);
    }
}

Handle create_new(const Place &place, const std::string &name) {
    // O_EXCL and O_NOFOLLOW: never a file or link that was there before.
    Handle file(::openat(descriptor(place.folder), name.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.valid() && errno != EEXIST) {
        fail("create", place.beside(name));
    }
    return file;
}

std::size_t write_some(const Handle &file, const char *data, std::size_t size,
                       const std::filesystem::path &shown) {
    for (;;) {
        const ssize_t count = ::write(descriptor(file), data, size);
        if (count >= 0) {
            return static_cast<std::size_t>(count);
        }
        if (errno != EINTR) {
            fail("write", shown);
        }
    }
}

void take_state_attributes(const Handle &file, const Place &place,
                           const std::filesystem::path &shown) {
    const std::optional<FileStatus> &replaced = place.file;
    // A new file takes the folder's group where the folder says so, else the user's.
    const gid_t new_group = place.folder_sets_group ? place.folder_group : ::getegid();
    if (replaced && replaced->group != new_group &&
        ::fchown(descriptor(file), static_cast<uid_t>(-1), replaced->group) != 0) {
        fail("give the group of the state to", shown);
    }
    const mode_t mode = replaced ? replaced->mode & 0777 : new_file_mode();
    if (mode != 0600 && ::fchmod(descriptor(file), mode) != 0) {
        fail("set the mode of", shown);
    }
}

void sync(const Handle &file, const std::filesystem::path &shown) {
    if (::fsync(descriptor(file)) != 0) {
        fail("flush", shown);
    }
}

void close(Handle file, const std::filesystem::path &shown) {
    if (::close(static_cast<int>(file.release())) != 0) {
        fail("close", shown);
    }
}

void rename(const Place &place, const std::string &from, const std::string &to) {
    if (::renameat(descriptor(place.folder), from.c_str(), descriptor(place.folder), to.c_str()) !=
        0) {
        fail("replace", place.beside(to));
    }
}

void sync_folder(const Place &place) {
    // A folder open only to act in it must be opened again to read, to be flushed.
    const Handle reopened(place.folder_readable ? kNone
                                                : ::openat(descriptor(place.folder), ".",
                                                           O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const int folder = place.folder_readable ? descriptor(place.folder) : descriptor(reopened);
    if (folder < 0 || ::fsync(folder) != 0) {
        fail("flush the folder of", place.path);
    }
}

bool remove(const Place &place, const std::string &name) noexcept {
    return ::unlinkat(descriptor(place.folder), name.c_str(), 0) == 0;
}

Handle open_to_append(const Place &place, const std::string &name, bool create) {
    Handle file(::openat(descriptor(place.folder), name.c_str(),
                         O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                             (create ? O_CREAT | O_EXCL : 0),
                         0600));
    if (!file.valid() && errno != (create ? EEXIST : ENOENT)) {
        fail(create ? "create" : "open", place.beside(name));
    }
    return file;
}

std::size_t append(const Handle &file, const char *data, std::size_t size,
                   const std::filesystem::path &shown) {
    // The file is open with O_APPEND: each write goes whole to its end.
    return write_some(file, data, size, shown);
}

bool take_back(const Handle &file, std::size_t count) noexcept {
    // After an append, the file's position is the end of what it wrote.
    const off_t end = ::lseek(descriptor(file), 0, SEEK_CUR);
    struct stat status {};
    return end >= static_cast<off_t>(count) && ::fstat(descriptor(file), &status) == 0 &&
           status.st_size == end &&
           ::ftruncate(descriptor(file), end - static_cast<off_t>(count)) == 0;
}

#ifdef __linux__
namespace {

// Watches what the open handle is, whatever path reached it.
bool watch_open(const Handle &watch, const Handle &open, std::uint32_t events) noexcept {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", descriptor(open));
    return ::inotify_add_watch(descriptor(watch), path, events) >= 0;
}

} // namespace

Handle watch_name(const Place &place, const Handle &file) noexcept {
    // A file loses its name by a rename (moved), a removal or a file renamed
    // over it (a link fewer: its attributes); its folder by its own.
    Handle watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!watch.valid() || !watch_open(watch, file, IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF) ||
        !watch_open(watch, place.folder, IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR)) {
        return Handle();
    }
    return watch;
}

bool name_may_have_changed(const Handle &watch) noexcept {
    if (!watch.valid()) {
        return true;
    }
    alignas(inotify_event) char events[4096];
    bool changed = false;
    for (;;) {
        const ssize_t count = ::read(descriptor(watch), events, sizeof events);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && errno == EAGAIN) {
            return changed; // none left
        }
        if (count <= 0) {
            return true; // notices that can no longer be read
        }
        changed = true;
    }
}
#else
Handle watch_name(const Place &, const Handle &) noexcept {
    return Handle();
}

bool name_may_have_changed(const Handle &) noexcept {
    return true;
}
#endif

bool same_file(const Handle &a, const Handle &b, const std::filesystem::path &shown) {
    struct stat first {};
    struct stat second {};
    if (::fstat(descriptor(a), &first) != 0 || ::fstat(descriptor(b), &second) != 0) {
        fail("examine", shown);
    }
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

long process_id() {
    return static_cast<long>(::getpid());
}

void on_fork(void (*prepare)(), void (*parent)(), void (*child)()) noexcept {
    ::pthread_atfork(prepare, parent, child);
}

std::optional<FileStamp> stamp_of(const std::filesystem::path &path) {
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) {
        return std::nullopt;
    }
    return stamp_from(file);
}

} // namespace zmod4710_sim::platform
