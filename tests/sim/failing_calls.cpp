// A fault injector for the state file's tests, loaded into a program with
// LD_PRELOAD: the system call that ZMOD4710_TEST_FAIL names fails the first
// time the program makes it, as a failing disk would make it fail, or, with
// ZMOD4710_TEST_FAIL_BY=exit, the program ends there, as if killed.
//
//   write          the first write to a regular file (ENOSPC)
//   write-short    the first write to a regular file writes half of what it
//                  is given, and the next one fails (ENOSPC): a disk that
//                  fills up in the middle of a write
//   fsync-file     the first flush of a regular file (EIO)
//   close-written  the first close of a regular file open for writing (EIO)
//   rename         the first renameat (EIO)
//   fsync-folder   the first flush of a folder (EIO)
//   malloc         every allocation after the first ZMOD4710_TEST_FAIL_AFTER (ENOMEM)
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether this call is the one to fail; errno is then set.
bool fails(const char *call, int error) {
    static bool failed = false;
    const char *wanted = std::getenv("ZMOD4710_TEST_FAIL");
    if (failed || wanted == nullptr || std::strcmp(wanted, call) != 0) {
        return false;
    }
    failed = true;
    const char *by = std::getenv("ZMOD4710_TEST_FAIL_BY");
    if (by != nullptr && std::strcmp(by, "exit") == 0) {
        ::_exit(9);
    }
    errno = error;
    return true;
}

bool is(int descriptor, mode_t kind) {
    struct stat status {};
    return ::fstat(descriptor, &status) == 0 && (status.st_mode & S_IFMT) == kind;
}

template <class Function> Function next(const char *name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

// Each stands in for the system's function of the name in its label; their own
// names keep them apart from the system's declarations.
extern "C" {
// glibc's own allocator, which the one here hands on to.
void *__libc_malloc(size_t size); // NOLINT(bugprone-reserved-identifier)
void *failing_malloc(size_t size) __asm__("malloc");
ssize_t failing_write(int descriptor, const void *data, size_t size) __asm__("write");
int failing_fsync(int descriptor) __asm__("fsync");
int failing_close(int descriptor) __asm__("close");
int failing_renameat(int from_folder, const char *from, int to_folder,
                     const char *to) __asm__("renameat");
}

void *failing_malloc(size_t size) {
    // Counted from when the failure is asked for.
    static std::atomic<long> made{0};
    const char *wanted = std::getenv("ZMOD4710_TEST_FAIL");
    if (wanted != nullptr && std::strcmp(wanted, "malloc") == 0) {
        const char *after = std::getenv("ZMOD4710_TEST_FAIL_AFTER");
        if (made++ >= std::strtol(after != nullptr ? after : "0", nullptr, 10)) {
            errno = ENOMEM;
            return nullptr;
        }
    }
    return __libc_malloc(size);
}

ssize_t failing_write(int descriptor, const void *data, size_t size) {
    const auto real_write = next<ssize_t (*)(int, const void *, size_t)>("write");
    if (!is(descriptor, S_IFREG)) {
        return real_write(descriptor, data, size);
    }
    if (fails("write", ENOSPC)) {
        return -1;
    }
    static std::atomic<int> short_writes{0};
    const char *wanted = std::getenv("ZMOD4710_TEST_FAIL");
    if (wanted != nullptr && std::strcmp(wanted, "write-short") == 0 && short_writes < 2) {
        if (short_writes++ == 0) {
            return real_write(descriptor, data, size / 2);
        }
        errno = ENOSPC;
        return -1;
    }
    return real_write(descriptor, data, size);
}

int failing_fsync(int descriptor) {
    if (fails(is(descriptor, S_IFDIR) ? "fsync-folder" : "fsync-file", EIO)) {
        return -1;
    }
    return next<int (*)(int)>("fsync")(descriptor);
}

int failing_close(int descriptor) {
    const auto real_close = next<int (*)(int)>("close");
    const bool written = (::fcntl(descriptor, F_GETFL) & O_ACCMODE) == O_WRONLY;
    if (written && is(descriptor, S_IFREG) && fails("close-written", EIO)) {
        // As on Linux, the descriptor is gone even so.
        real_close(descriptor);
        errno = EIO;
        return -1;
    }
    return real_close(descriptor);
}

int failing_renameat(int from_folder, const char *from, int to_folder, const char *to) {
    if (fails("rename", EIO)) {
        return -1;
    }
    return next<int (*)(int, const char *, int, const char *)>("renameat")(from_folder, from,
                                                                           to_folder, to);
}
