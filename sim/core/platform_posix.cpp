// The state file's system calls on POSIX systems.
#include "platform.hpp"
#include "storage.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

namespace zmod4710_sim::platform {

namespace {

// As many links as the system itself follows in one path before it gives up.
constexpr int kMaxLinks = 40;

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

bool others_may_write(mode_t mode) {
    return (mode & (S_IWGRP | S_IWOTH)) != 0;
}

FileStamp stamp_from(const struct stat &file) {
    return FileStamp{static_cast<std::uint64_t>(file.st_dev),
                     static_cast<std::uint64_t>(file.st_ino),
                     static_cast<std::uint64_t>(file.st_size), nanoseconds(file.st_mtim),
                     nanoseconds(file.st_ctim)};
}

FileStatus status_from(const struct stat &file, uid_t user, bool folder_shared) {
    FileStatus status;
    status.regular = S_ISREG(file.st_mode);
    status.users = file.st_uid == user;
    status.trusted = status.users || (file.st_uid == 0 && !folder_shared);
    status.owner_may_write = (file.st_mode & S_IWUSR) != 0;
    status.others_may_open = (file.st_mode & 077) != 0;
    status.size = static_cast<std::uint64_t>(file.st_size);
    status.stamp = stamp_from(file);
    status.mode = static_cast<std::uint32_t>(file.st_mode & 07777);
    status.group = static_cast<std::uint32_t>(file.st_gid);
    return status;
}

std::string octal_mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned int>(mode & 07777));
    return text;
}

// The file mode that a new file gets here: 0666 less the umask, which can only be
// read by setting it. The umask is 0077 meanwhile, so a file that another thread
// makes in that moment is more private, never less.
mode_t new_file_mode() {
    const mode_t mask = ::umask(0077);
    ::umask(mask);
    return 0666 & ~mask;
}

// The parts of a path in order, a root as "/" and a trailing separator as "".
std::deque<std::string> parts_of(const std::filesystem::path &path) {
    std::deque<std::string> parts;
    for (const std::filesystem::path &part : path) {
        parts.push_back(part.string());
    }
    return parts;
}

// The folder at path opened in one call when no part of the path is a link,
// which the system then refuses to follow; not valid otherwise, also where the
// system cannot do it. Opened to read, so that it can be flushed, unless only
// its owner may read it.
Handle open_folder_without_links(const std::filesystem::path &path, bool &readable) {
#if defined(__linux__) && defined(SYS_openat2)
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

// How far the walk along the state's path has come: the parts still to follow,
// the folder reached and its path to show. It lives for one call of locate.
struct Walk {
    const std::filesystem::path &given;
    bool make_folders;
    uid_t user;
    std::deque<std::string> parts;
    Handle folder;
    bool folder_readable = false;
    std::filesystem::path shown;
    int links = 0;
};

// The folder reached, which may hold the state, its lock or a link to them when
// it is the user's or root's and nobody else may write it, or when it is sticky:
// there nobody can remove or rename another's file, and entries must be the
// user's own.
struct stat checked_folder(const Walk &walk) {
    const std::string shown = walk.shown.empty() ? "." : walk.shown.string();
    struct stat folder {};
    if (::fstat(descriptor(walk.folder), &folder) != 0) {
        fail("examine", shown);
    }
    if (folder.st_uid != walk.user && folder.st_uid != 0) {
        throw StateError("cannot use " + walk.given.string() + ": its folder " + shown +
                         " belongs to another user");
    }
    if (others_may_write(folder.st_mode) && (folder.st_mode & S_ISVTX) == 0) {
        throw StateError("cannot use " + walk.given.string() + ": others can write its folder " +
                         shown + " (mode " + octal_mode(folder.st_mode) + ")");
    }
    return folder;
}

void check_entry(const Walk &walk, const struct stat &folder, const struct stat &entry,
                 const std::filesystem::path &entry_path) {
    if (!status_from(entry, walk.user, others_may_write(folder.st_mode)).trusted) {
        refuse_another_users(walk.given, entry_path);
    }
}

// Puts the parts of the link's target in front of the parts still to follow.
void follow_link(Walk &walk, const std::string &part) {
    const std::filesystem::path shown = walk.shown / part;
    struct stat link {};
    if (::fstatat(descriptor(walk.folder), part.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
        fail("examine", shown);
    }
    if (!S_ISLNK(link.st_mode)) {
        errno = ENOTDIR;
        fail("open the folder", shown);
    }
    check_entry(walk, checked_folder(walk), link, shown);
    if (++walk.links > kMaxLinks) {
        throw StateError("cannot use " + walk.given.string() + ": more than " +
                         std::to_string(kMaxLinks) + " symbolic links on its way");
    }
    std::string target(static_cast<std::size_t>(link.st_size) + 1, '\0');
    const ssize_t length =
        ::readlinkat(descriptor(walk.folder), part.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
        fail("follow the link", shown);
    }
    target.resize(static_cast<std::size_t>(length));
    const std::deque<std::string> target_parts = parts_of(target);
    walk.parts.insert(walk.parts.begin(), target_parts.begin(), target_parts.end());
}

Place place_reached(Walk &walk, const std::string &name, const struct stat *folder) {
    Place place;
    place.given = walk.given;
    place.path = walk.shown / name;
    place.name = name;
    place.user = static_cast<std::uint32_t>(walk.user);
    if (folder != nullptr) {
        place.folder = std::move(walk.folder);
        place.folder_readable = walk.folder_readable;
        place.folder_shared = others_may_write(folder->st_mode);
        place.folder_sets_group = (folder->st_mode & S_ISGID) != 0;
        place.folder_group = static_cast<std::uint32_t>(folder->st_gid);
    }
    return place;
}

// The state file's name in the folder reached: nothing there, a link to follow
// (then nothing is returned), or a regular file of the user's.
std::optional<Place> take_file(Walk &walk, const std::string &name) {
    struct stat file {};
    const bool found =
        ::fstatat(descriptor(walk.folder), name.c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0;
    if (!found && errno != ENOENT) {
        fail("examine", walk.shown / name);
    }
    if (found && S_ISLNK(file.st_mode)) {
        follow_link(walk, name);
        return std::nullopt;
    }
    const struct stat folder = checked_folder(walk);
    Place place = place_reached(walk, name, &folder);
    if (found) {
        if (!S_ISREG(file.st_mode)) {
            refuse_irregular_file(place.path);
        }
        check_entry(walk, folder, file, place.path);
        place.file = status_from(file, walk.user, place.folder_shared);
    }
    return place;
}

// Makes the missing folder part in the folder reached, which must be fit to hold
// the user's own, and opens it.
void make_folder(Walk &walk, const std::string &part) {
    checked_folder(walk);
    if (::mkdirat(descriptor(walk.folder), part.c_str(), 0700) != 0 && errno != EEXIST) {
        fail("create", walk.shown / part);
    }
    walk.shown /= part;
    Handle next(::openat(descriptor(walk.folder), part.c_str(), kFolderFlags | O_NOFOLLOW));
    if (!next.valid()) {
        fail("open the folder", walk.shown);
    }
    walk.folder = std::move(next);
    walk.folder_readable = false;
}

// Goes into the folder part, or follows the link of that name. A missing folder
// is made for a write; for a read, it holds no state yet, and the place is
// returned without a folder.
std::optional<Place> enter_folder(Walk &walk, const std::string &part) {
    Handle next(::openat(descriptor(walk.folder), part.c_str(), kFolderFlags | O_NOFOLLOW));
    if (next.valid()) {
        walk.folder = std::move(next);
        walk.folder_readable = false;
        walk.shown /= part;
    } else if (errno == ENOENT && !walk.make_folders) {
        std::filesystem::path rest = walk.shown / part;
        for (const std::string &later : walk.parts) {
            rest /= later;
        }
        walk.shown = rest.parent_path();
        return place_reached(walk, file_name_of(rest), nullptr);
    } else if (errno == ENOENT) {
        make_folder(walk, part);
    } else if (errno == ENOTDIR || errno == ELOOP) {
        follow_link(walk, part);
    } else {
        fail("open the folder", walk.shown / part);
    }
    return std::nullopt;
}

// Opens the root for the parts that follow it. A folder right in it is opened by
// its whole name at once, no link followed, which is the same with one call
// fewer, and which an emulator that gives a program a root of its own (qemu's
// -L) maps to the folder the path names.
void open_root(Walk &walk) {
    walk.shown = "/";
    const std::string first = walk.parts.size() > 1 ? walk.parts.front() : "";
    if (!first.empty() && first != "." && first != "..") {
        Handle folder(::open(("/" + first).c_str(), kFolderFlags | O_NOFOLLOW));
        if (folder.valid()) {
            walk.shown /= first;
            walk.parts.pop_front();
            walk.folder = std::move(folder);
            return;
        }
    }
    walk.folder = Handle(::open("/", kFolderFlags));
    if (!walk.folder.valid()) {
        fail("open the folder", walk.shown);
    }
}

// The folder to start from: the state's own folder in one call when no link is
// on its way, else the current folder, from which each part is followed.
void start_walk(Walk &walk) {
    walk.parts.assign(1, file_name_of(walk.given));
    walk.shown = walk.given.parent_path();
    if (!walk.shown.empty()) {
        walk.folder = open_folder_without_links(walk.shown, walk.folder_readable);
    }
    if (!walk.folder.valid()) {
        walk.parts = parts_of(walk.given);
        walk.shown.clear();
        walk.folder = Handle(::open(".", kFolderFlags));
    }
    if (!walk.folder.valid()) {
        fail("open the folder of", walk.given);
    }
}

} // namespace

void close_quietly(Native native) noexcept {
    ::close(static_cast<int>(native));
}

// Follows the path one part at a time, as the system would, checking every link
// before it is followed and the folder that holds the state before it is used.
Place locate(const std::filesystem::path &path, bool make_folders) {
    Walk walk{path, make_folders, ::geteuid(), {}, {}, false, {}, 0};
    start_walk(walk);
    while (!walk.parts.empty()) {
        const std::string part = std::move(walk.parts.front());
        walk.parts.pop_front();
        std::optional<Place> place;
        if (part == "/") {
            open_root(walk);
        } else if (part.empty() || part == ".") {
            continue;
        } else if (walk.parts.empty() && part != "..") {
            place = take_file(walk, part);
        } else {
            place = enter_folder(walk, part);
        }
        if (place) {
            return std::move(*place);
        }
    }
    refuse_folder_name(path);
}

std::optional<FileStatus> examine(const Place &place, const std::string &name) {
    struct stat file {};
    if (!place.folder.valid()) {
        return std::nullopt;
    }
    if (::fstatat(descriptor(place.folder), name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        fail("examine", place.beside(name));
    }
    return status_from(file, place.user, place.folder_shared);
}

Handle open_to_read(const Place &place, const std::string &name) {
    Handle file(::openat(descriptor(place.folder), name.c_str(),
                         O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!file.valid() && errno != ENOENT) {
        fail("open", place.beside(name));
    }
    return file;
}

FileStatus status_of(const Handle &file, const Place &place, const std::filesystem::path &shown) {
    struct stat status {};
    if (::fstat(descriptor(file), &status) != 0) {
        fail("examine", shown);
    }
    return status_from(status, place.user, place.folder_shared);
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

std::optional<FileStamp> stamp_of(const std::filesystem::path &path) {
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) {
        return std::nullopt;
    }
    return stamp_from(file);
}

} // namespace zmod4710_sim::platform
