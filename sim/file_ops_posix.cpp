#include "file_ops.hpp"

#include "state_json.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zmod4710_sim {

namespace {

[[noreturn]] void fail(const std::string &what, const std::filesystem::path &path) {
    throw StateError("cannot " + what + " " + path.string() + ": " + std::strerror(errno));
}

// Closes a descriptor when it goes out of scope, whichever way that happens.
class Descriptor {
public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    Descriptor &operator=(Descriptor &&other) noexcept {
        std::swap(descriptor_, other.descriptor_);
        return *this;
    }
    int get() const { return descriptor_; }
    int release() { return std::exchange(descriptor_, -1); }

private:
    int descriptor_;
};

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

// A temporary file made anew under an unpredictable name, removed again unless
// it was put in place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path &beside) : descriptor_(-1) {
        for (int attempt = 0; descriptor_.get() < 0; ++attempt) {
            path_ = unpredictable_name_beside(beside);
            // O_EXCL and O_NOFOLLOW: never a file or link that was there before.
            descriptor_ = Descriptor(
                ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
            if (descriptor_.get() < 0 && (errno != EEXIST || attempt == 100)) {
                fail("create", path_);
            }
        }
    }
    ~TemporaryFile() {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    const std::filesystem::path &path() const { return path_; }
    int descriptor() const { return descriptor_.get(); }
    void close() {
        if (::close(descriptor_.release()) != 0) {
            fail("close", path_);
        }
    }
    // It now has the name it was made for: nothing is left to remove.
    void put_in_place() { path_.clear(); }

private:
    std::filesystem::path path_;
    Descriptor descriptor_;
};

// Makes a rename in directory survive a power loss.
void sync_directory(const std::filesystem::path &directory) {
    Descriptor descriptor(
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (descriptor.get() >= 0) {
        ::fsync(descriptor.get());
    }
}

} // namespace

ExclusiveFileLock::ExclusiveFileLock(const std::filesystem::path &lock_path) : descriptor_(-1) {
    // Never through a link, which could make the lock file wherever it points.
    Descriptor descriptor(
        ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (descriptor.get() < 0) {
        fail("open the lock file", lock_path);
    }
    while (::flock(descriptor.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            fail("lock", lock_path);
        }
    }
    descriptor_ = descriptor.release();
}

ExclusiveFileLock::~ExclusiveFileLock() {
    ::close(descriptor_);
}

void make_folders(const std::filesystem::path &folder) {
    std::error_code error;
    if (folder.empty() || std::filesystem::is_directory(folder, error)) {
        return;
    }
    make_folders(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        fail("create", folder);
    }
}

std::optional<std::string> read_file_if_exists(const std::filesystem::path &path) {
    // Not blocking on open, which a FIFO without a writer would do for ever.
    Descriptor descriptor(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
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
    if (!S_ISREG(file.st_mode)) {
        refuse_irregular_file(path);
    }
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
            return contents;
        }
        contents.append(buffer, static_cast<std::size_t>(count));
    }
}

void replace_file_atomically(const std::filesystem::path &path, std::string_view contents) {
    struct stat replaced {};
    const bool keeps_mode = ::stat(path.c_str(), &replaced) == 0;
    TemporaryFile temporary(path);
    write_all(temporary.descriptor(), contents, temporary.path());
    if (keeps_mode && ::fchmod(temporary.descriptor(), replaced.st_mode & 07777) != 0) {
        fail("set the mode of", temporary.path());
    }
    if (::fsync(temporary.descriptor()) != 0) {
        fail("flush", temporary.path());
    }
    temporary.close();
    if (::rename(temporary.path().c_str(), path.c_str()) != 0) {
        fail("replace", path);
    }
    temporary.put_in_place();
    sync_directory(path.parent_path());
}

} // namespace zmod4710_sim
