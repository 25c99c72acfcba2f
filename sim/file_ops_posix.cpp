#include "file_ops.hpp"

#include "state_json.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

namespace zmod4710_sim {

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

// Closes a descriptor when it goes out of scope, whichever way that happens.
class Descriptor {
public:
    explicit Descriptor(int descriptor = -1) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    Descriptor(Descriptor &&other) noexcept : descriptor_(other.release()) {}
    Descriptor &operator=(Descriptor &&other) noexcept {
        std::swap(descriptor_, other.descriptor_);
        return *this;
    }
    int get() const { return descriptor_; }
    int release() { return std::exchange(descriptor_, -1); }

private:
    int descriptor_;
};

// A descriptor kept open for as long as the returned pointer or a copy lives.
std::shared_ptr<void> hold(Descriptor &descriptor) {
    const int held = descriptor.release();
    return std::shared_ptr<void>(nullptr, [held](void *) { ::close(held); });
}

FileStamp stamp_from(const struct stat &status) {
    FileStamp stamp;
    stamp.device = static_cast<std::uint64_t>(status.st_dev);
    stamp.file = static_cast<std::uint64_t>(status.st_ino);
    stamp.size = static_cast<std::uint64_t>(status.st_size);
    stamp.modified =
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    stamp.changed =
        static_cast<std::int64_t>(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
    return stamp;
}

std::string octal_mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned int>(mode & 07777));
    return text;
}

bool others_may_write(const struct stat &folder) {
    return (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// The file mode that a new file gets here: 0666 less the umask, which can only be
// read by setting it. The umask is 0077 meanwhile, so a file that another thread
// makes in that moment is more private, never less.
mode_t new_file_mode() {
    const mode_t mask = ::umask(0077);
    ::umask(mask);
    return 0666 & ~mask;
}

void write_all(int descriptor, std::string_view contents, const std::filesystem::path &path) {
    while (!contents.empty()) {
        const ssize_t written = ::write(descriptor, contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("write", path);
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
}

// The parts of a path in order, a root as "/" and a trailing separator as "".
std::deque<std::string> parts_of(const std::filesystem::path &path) {
    std::deque<std::string> parts;
    for (const std::filesystem::path &part : path) {
        parts.push_back(part.string());
    }
    return parts;
}

// The folder at path opened as walk would open it, in one call when no part of
// the path is a link, which the system then refuses to follow; -1 otherwise,
// also where the system cannot do it.
int open_folder_without_links(const std::filesystem::path &path) {
#if defined(__linux__) && defined(SYS_openat2)
    open_how how{};
    how.flags = static_cast<std::uint64_t>(kFolderFlags);
    how.resolve = RESOLVE_NO_SYMLINKS;
    return static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how));
#else
    (void)path;
    return -1;
#endif
}

// Calls list with the name of each entry in the folder open as descriptor, at
// the start of its listing.
template <class List> void list_folder(int descriptor, List list) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 30)
    alignas(dirent64) char buffer[16384];
    // The system fills the buffer while entries fit: one with room left for the
    // longest entry held the rest of the folder, and a call that would say so is saved.
    constexpr ssize_t kFull = sizeof buffer - sizeof(dirent64);
    for (ssize_t size = kFull; size >= kFull;) {
        size = ::getdents64(descriptor, buffer, sizeof buffer);
        for (ssize_t at = 0; at < size;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(buffer + at);
            list(entry->d_name);
            at += entry->d_reclen;
        }
    }
#else
    DIR *folder = ::fdopendir(::dup(descriptor));
    if (folder == nullptr) {
        return;
    }
    while (const dirent *entry = ::readdir(folder)) {
        list(entry->d_name);
    }
    ::closedir(folder);
#endif
}

} // namespace

struct StateLocation::Platform {
    uid_t user = ::geteuid();
    std::filesystem::path given;     // the state's path as named, for messages
    std::filesystem::path file_path; // its links followed
    Descriptor folder;               // -1 when the folder does not exist yet
    struct stat folder_status {};
    std::string name;
    // The state file as found, and once the lock is held, as it is under the lock.
    std::optional<struct stat> file_status;
    mutable Descriptor readable; // the folder opened to be listed and synced

    void walk(StateLocation::Purpose purpose);
    void open_root(std::deque<std::string> &parts, std::filesystem::path &shown);
    void follow_link(const std::string &part, const std::filesystem::path &shown,
                     std::deque<std::string> &parts, int links);
    void take_file(const std::string &part, const std::filesystem::path &shown);
    void make_folder(const std::string &part, std::filesystem::path &shown);
    void examine_folder(const std::filesystem::path &shown);

    bool is_users_or_roots(uid_t owner) const { return owner == user || owner == 0; }
    // A folder may hold the state, its lock or a link to them when it is the user's
    // or root's and nobody else may write it, or when it is sticky: there nobody
    // can remove or rename another's file, and check_entry asks for the user's own.
    void check_folder(const std::filesystem::path &shown) const;
    // The state file, its lock or a link to them, in the folder just checked.
    void check_entry(const struct stat &entry, const std::filesystem::path &entry_path) const {
        if (entry.st_uid != user && (entry.st_uid != 0 || others_may_write(folder_status))) {
            throw StateError("cannot use " + given.string() + ": " + entry_path.string() +
                             " belongs to another user");
        }
    }
    // The state file's status without following a link, or nothing.
    std::optional<struct stat> examine_file() const;
    // What the state's name holds must be a regular file of the user's.
    void check_file(const struct stat &file) const {
        if (!S_ISREG(file.st_mode)) {
            refuse_irregular_file(file_path);
        }
        check_entry(file, file_path);
    }
    int readable_folder() const {
        if (readable.get() < 0) {
            readable = Descriptor(::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (readable.get() < 0) {
                fail("open the folder of", file_path);
            }
        }
        return readable.get();
    }
};

// Follows the path one part at a time, as the system would, checking every link
// before it is followed and the folder that holds the state before it is used.
void StateLocation::Platform::walk(StateLocation::Purpose purpose) {
    std::deque<std::string> parts(1, file_name_of(given));
    std::filesystem::path shown = given.parent_path();
    folder = Descriptor(shown.empty() ? -1 : open_folder_without_links(shown));
    if (folder.get() < 0) {
        // Part by part, the links on the way checked before they are followed.
        parts = parts_of(given);
        shown.clear();
        folder = Descriptor(::open(".", kFolderFlags));
    }
    if (folder.get() < 0) {
        fail("open the folder of", given);
    }
    int links = 0;
    while (!parts.empty()) {
        std::string part = std::move(parts.front());
        parts.pop_front();
        if (part == "/") {
            open_root(parts, shown);
        } else if (part.empty() || part == ".") {
            continue;
        } else if (parts.empty() && part != "..") {
            take_file(part, shown);
            if (file_status && S_ISLNK(file_status->st_mode)) {
                follow_link(part, shown, parts, ++links);
                continue;
            }
            return;
        } else {
            Descriptor next(::openat(folder.get(), part.c_str(), kFolderFlags | O_NOFOLLOW));
            if (next.get() >= 0) {
                folder = std::move(next);
                shown /= part;
            } else if (errno == ENOENT && purpose == StateLocation::Purpose::read) {
                // A folder that does not exist holds no state yet: the factory's.
                std::filesystem::path rest = shown / part;
                for (const std::string &later : parts) {
                    rest /= later;
                }
                name = file_name_of(rest);
                file_path = rest;
                folder = Descriptor();
                return;
            } else if (errno == ENOENT) {
                make_folder(part, shown);
            } else if (errno == ENOTDIR || errno == ELOOP) {
                // A link, which is followed once checked, or no folder at all.
                follow_link(part, shown, parts, ++links);
            } else {
                fail("open the folder", shown / part);
            }
        }
    }
    throw StateError("cannot use " + given.string() + " as the state: it names a folder");
}

// Opens the root for the parts that follow it. A folder right in it is opened by
// its whole name at once, no link followed, which is the same with one call
// fewer, and which an emulator that gives a program a root of its own (qemu's
// -L) maps to the folder the path names.
void StateLocation::Platform::open_root(std::deque<std::string> &parts,
                                        std::filesystem::path &shown) {
    shown = "/";
    if (parts.size() > 1 && !parts.front().empty() && parts.front() != "." &&
        parts.front() != "..") {
        Descriptor first(::open(("/" + parts.front()).c_str(), kFolderFlags | O_NOFOLLOW));
        if (first.get() >= 0) {
            shown /= parts.front();
            parts.pop_front();
            folder = std::move(first);
            return;
        }
    }
    folder = Descriptor(::open("/", kFolderFlags));
    if (folder.get() < 0) {
        fail("open the folder", shown);
    }
}

void StateLocation::Platform::examine_folder(const std::filesystem::path &shown) {
    if (::fstat(folder.get(), &folder_status) != 0) {
        fail("examine", shown);
    }
    check_folder(shown);
}

void StateLocation::Platform::check_folder(const std::filesystem::path &shown) const {
    const std::string folder_path = shown.empty() ? "." : shown.string();
    if (!is_users_or_roots(folder_status.st_uid)) {
        throw StateError("cannot use " + given.string() + ": its folder " + folder_path +
                         " belongs to another user");
    }
    if (others_may_write(folder_status) && (folder_status.st_mode & S_ISVTX) == 0) {
        throw StateError("cannot use " + given.string() + ": others can write its folder " +
                         folder_path + " (mode " + octal_mode(folder_status.st_mode) + ")");
    }
}

// Puts the parts of the link's target in front of the parts still to follow.
void StateLocation::Platform::follow_link(const std::string &part,
                                          const std::filesystem::path &shown,
                                          std::deque<std::string> &parts, int links) {
    struct stat link {};
    if (::fstatat(folder.get(), part.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
        fail("examine", shown / part);
    }
    if (!S_ISLNK(link.st_mode)) {
        errno = ENOTDIR;
        fail("open the folder", shown / part);
    }
    examine_folder(shown);
    check_entry(link, shown / part);
    if (links > kMaxLinks) {
        throw StateError("cannot use " + given.string() + ": more than " +
                         std::to_string(kMaxLinks) + " symbolic links on its way");
    }
    std::string target(static_cast<std::size_t>(link.st_size) + 1, '\0');
    const ssize_t length = ::readlinkat(folder.get(), part.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
        fail("follow the link", shown / part);
    }
    target.resize(static_cast<std::size_t>(length));
    const std::deque<std::string> target_parts = parts_of(target);
    parts.insert(parts.begin(), target_parts.begin(), target_parts.end());
}

// The state file's name in the folder open now, and what the name holds: nothing,
// a link to follow, or a regular file of the user's, in a folder fit to hold it.
void StateLocation::Platform::take_file(const std::string &part,
                                        const std::filesystem::path &shown) {
    name = part;
    file_path = shown / part;
    file_status = examine_file();
    if (file_status && S_ISLNK(file_status->st_mode)) {
        return;
    }
    examine_folder(shown);
    if (file_status) {
        check_file(*file_status);
    }
}

// Makes the missing folder part in the folder open now, which must be one to
// hold the user's own, and opens it.
void StateLocation::Platform::make_folder(const std::string &part, std::filesystem::path &shown) {
    examine_folder(shown);
    if (::mkdirat(folder.get(), part.c_str(), 0700) != 0 && errno != EEXIST) {
        fail("create", shown / part);
    }
    shown /= part;
    Descriptor next(::openat(folder.get(), part.c_str(), kFolderFlags | O_NOFOLLOW));
    if (next.get() < 0) {
        fail("open the folder", shown);
    }
    folder = std::move(next);
}

std::optional<struct stat> StateLocation::Platform::examine_file() const {
    struct stat file {};
    if (::fstatat(folder.get(), name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        fail("examine", file_path);
    }
    return file;
}

StateLocation::StateLocation(const std::filesystem::path &path, Purpose purpose)
    : platform_(std::make_unique<Platform>()) {
    platform_->given = path;
    platform_->walk(purpose);
}

StateLocation::~StateLocation() = default;

std::optional<FileStamp> StateLocation::stamp() const {
    const std::optional<struct stat> &file = platform_->file_status;
    return file ? std::optional<FileStamp>(stamp_from(*file)) : std::nullopt;
}

std::optional<FileSnapshot> StateLocation::read() const {
    const std::filesystem::path &path = platform_->file_path;
    if (platform_->folder.get() < 0) {
        return std::nullopt;
    }
    // Not blocking on open, which a FIFO without a writer would do for ever, and
    // never through a link that took the file's place.
    Descriptor descriptor(::openat(platform_->folder.get(), platform_->name.c_str(),
                                   O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (descriptor.get() < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        fail("open", path);
    }
    struct stat file {};
    if (::fstat(descriptor.get(), &file) != 0) {
        fail("examine", path);
    }
    platform_->check_file(file);
    std::string contents;
    char buffer[8192];
    for (;;) {
        // Also a file that grows while it is read stops at the limit.
        refuse_if_too_large(path, std::max<std::uintmax_t>(
                                      static_cast<std::uintmax_t>(file.st_size), contents.size()));
        const ssize_t count = ::read(descriptor.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("read", path);
        }
        if (count == 0) {
            break;
        }
        contents.append(buffer, static_cast<std::size_t>(count));
    }
    return FileSnapshot{std::move(contents), stamp_from(file), hold(descriptor)};
}

std::shared_ptr<void> StateLocation::lock() const {
    Platform &place = *platform_;
    const std::filesystem::path lock_path = place.file_path.parent_path() / lock_name(place.name);
    const mode_t state_mode = place.file_status ? place.file_status->st_mode & 0666 : 0666;
    // Never through a link, which could make the lock file wherever it points,
    // and not blocking on a FIFO put in its place.
    Descriptor descriptor(::openat(place.folder.get(), lock_name(place.name).c_str(),
                                   O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                                   state_mode));
    if (descriptor.get() < 0) {
        fail("open the lock file", lock_path);
    }
    struct stat lock {};
    if (::fstat(descriptor.get(), &lock) != 0) {
        fail("examine", lock_path);
    }
    if (!S_ISREG(lock.st_mode)) {
        throw StateError("cannot lock " + lock_path.string() + ": not a regular file");
    }
    place.check_entry(lock, lock_path);
    // A lock that others may open lets them hold up every writer: it is made no
    // wider than the state, whose readers are the only others who may see it.
    if (lock.st_uid == place.user && (lock.st_mode & 0777 & ~state_mode) != 0 &&
        ::fchmod(descriptor.get(), lock.st_mode & state_mode) != 0) {
        fail("set the mode of", lock_path);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kLockWaitSeconds);
    auto pause = std::chrono::microseconds(100);
    while (::flock(descriptor.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            fail("lock", lock_path);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            refuse_lock_held(lock_path);
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
    // Another writer may have replaced the file meanwhile.
    place.file_status = place.examine_file();
    if (place.file_status) {
        place.check_file(*place.file_status);
    }
    return hold(descriptor);
}

void StateLocation::check_writable() const {
    const std::optional<struct stat> &file = platform_->file_status;
    if (!file) {
        return;
    }
    if (file->st_uid != platform_->user) {
        refuse_taken_by_write(platform_->file_path);
    }
    if ((file->st_mode & S_IWUSR) == 0) {
        refuse_read_only(platform_->file_path);
    }
}

void StateLocation::remove_leftover_temporaries() const {
    const Platform &place = *platform_;
    list_folder(place.readable_folder(), [&](const char *name) {
        struct stat file {};
        if (is_temporary_name_of(name, place.name) &&
            ::fstatat(place.folder.get(), name, &file, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(file.st_mode)) {
            // Another user's file in a sticky folder cannot be removed, and need not be.
            ::unlinkat(place.folder.get(), name, 0);
        }
    });
}

FileSnapshot StateLocation::replace(std::string contents) const {
    const Platform &place = *platform_;
    const std::optional<struct stat> &replaced = place.file_status;
    const mode_t mode = replaced ? replaced->st_mode & 0777 : new_file_mode();

    std::string temporary_name;
    Descriptor descriptor;
    for (int attempt = 0; descriptor.get() < 0; ++attempt) {
        temporary_name = unpredictable_name_beside(place.name);
        // O_EXCL and O_NOFOLLOW: never a file or link that was there before.
        descriptor =
            Descriptor(::openat(place.folder.get(), temporary_name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (descriptor.get() < 0 && (errno != EEXIST || attempt == 100)) {
            fail("create", place.file_path.parent_path() / temporary_name);
        }
    }
    const std::filesystem::path temporary_path = place.file_path.parent_path() / temporary_name;
    struct Removal {
        const Platform &place;
        const std::string &name;
        bool placed = false;
        ~Removal() {
            if (!placed) {
                ::unlinkat(place.folder.get(), name.c_str(), 0);
            }
        }
    } removal{place, temporary_name};

    write_all(descriptor.get(), contents, temporary_path);
    // A new file takes the folder's group where the folder says so, else the user's.
    const gid_t new_group =
        (place.folder_status.st_mode & S_ISGID) != 0 ? place.folder_status.st_gid : ::getegid();
    if (replaced && replaced->st_gid != new_group &&
        ::fchown(descriptor.get(), static_cast<uid_t>(-1), replaced->st_gid) != 0) {
        fail("give the group of the state to", temporary_path);
    }
    if (mode != 0600 && ::fchmod(descriptor.get(), mode) != 0) {
        fail("set the mode of", temporary_path);
    }
    if (::fsync(descriptor.get()) != 0) {
        fail("flush", temporary_path);
    }
    if (::renameat(place.folder.get(), temporary_name.c_str(), place.folder.get(),
                   place.name.c_str()) != 0) {
        fail("replace", place.file_path);
    }
    removal.placed = true;
    struct stat written {};
    if (::fstat(descriptor.get(), &written) != 0) {
        fail("examine", place.file_path);
    }
    // Makes the rename survive a power loss.
    ::fsync(place.readable_folder());
    return FileSnapshot{std::move(contents), stamp_from(written), hold(descriptor)};
}

std::optional<FileStamp> stamp_of(const std::filesystem::path &path) {
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) {
        return std::nullopt;
    }
    return stamp_from(file);
}

} // namespace zmod4710_sim
