#include "file_ops.hpp"

#include "state_json.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
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
    Descriptor descriptor(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
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

std::optional<std::string> read_file_if_exists(const std::filesystem::path &path) {
    Descriptor descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (descriptor.get() < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        fail("open", path);
    }
    std::string contents;
    char buffer[8192];
    for (;;) {
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
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    {
        Descriptor descriptor(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (descriptor.get() < 0) {
            fail("create", temporary);
        }
        write_all(descriptor.get(), contents, temporary);
        if (::fsync(descriptor.get()) != 0) {
            fail("flush", temporary);
        }
        if (::close(descriptor.release()) != 0) {
            fail("close", temporary);
        }
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        fail("replace", path);
    }
    sync_directory(path.parent_path());
}

} // namespace zmod4710_sim
