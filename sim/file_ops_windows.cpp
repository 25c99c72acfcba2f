#include "file_ops.hpp"

#include "state_json.hpp"

#include <algorithm>
#include <system_error>
#include <utility>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace zmod4710_sim {

namespace {

std::string system_message(DWORD error) {
    char *text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
    LocalFree(text);
    message.erase(message.find_last_not_of("\r\n .") + 1);
    return message;
}

[[noreturn]] void fail(const std::string &what, const std::filesystem::path &path,
                       DWORD error = GetLastError()) {
    throw StateError("cannot " + what + " " + path.string() + ": " + system_message(error));
}

// Closes a handle when it goes out of scope, whichever way that happens.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (valid()) {
            CloseHandle(handle_);
        }
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
    friend void swap(Handle &a, Handle &b) noexcept { std::swap(a.handle_, b.handle_); }

private:
    HANDLE handle_;
};

// Every program shares every file: a reader must never stop a writer's rename.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

} // namespace

ExclusiveFileLock::ExclusiveFileLock(const std::filesystem::path &lock_path)
    : handle_(INVALID_HANDLE_VALUE) {
    // A link in the lock's place is opened itself, never followed.
    Handle file(CreateFileW(lock_path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                            nullptr));
    if (!file.valid()) {
        fail("open the lock file", lock_path);
    }
    OVERLAPPED whole_file = {};
    if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole_file)) {
        fail("lock", lock_path);
    }
    handle_ = file.release();
}

ExclusiveFileLock::~ExclusiveFileLock() {
    // Closing the handle releases the lock.
    CloseHandle(static_cast<HANDLE>(handle_));
}

void make_folders(const std::filesystem::path &folder) {
    std::error_code error;
    if (!folder.empty() && !std::filesystem::create_directories(folder, error) && error) {
        throw StateError("cannot create " + folder.string() + ": " + error.message());
    }
}

std::optional<std::string> read_file_if_exists(const std::filesystem::path &path) {
    Handle file(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        // A missing folder is a missing file too: the folder is made at the first write.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return std::nullopt;
        }
        fail("open", path, error);
    }
    // A pipe or a device (NUL, CON) would never end or never stop.
    LARGE_INTEGER size = {};
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size)) {
        refuse_irregular_file(path);
    }
    std::string contents;
    char buffer[8192];
    DWORD count = 0;
    do {
        refuse_if_too_large(path, std::max<std::uintmax_t>(
                                      static_cast<std::uintmax_t>(size.QuadPart), contents.size()));
        if (!ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr)) {
            fail("read", path);
        }
        contents.append(buffer, count);
    } while (count > 0);
    return contents;
}

void replace_file_atomically(const std::filesystem::path &path, std::string_view contents) {
    // Made anew (CREATE_NEW) under a name no one can predict: never a file or link
    // that was there before. Removed again unless it is put in place.
    std::filesystem::path temporary;
    Handle file(INVALID_HANDLE_VALUE);
    for (int attempt = 0; !file.valid(); ++attempt) {
        temporary = unpredictable_name_beside(path);
        Handle created(CreateFileW(temporary.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!created.valid() && (GetLastError() != ERROR_FILE_EXISTS || attempt == 100)) {
            fail("create", temporary);
        }
        swap(file, created);
    }
    struct RemoveUnlessPlaced {
        const std::filesystem::path &name;
        bool placed = false;
        ~RemoveUnlessPlaced() {
            if (!placed) {
                DeleteFileW(name.c_str());
            }
        }
    } removal{temporary};
    while (!contents.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(contents.size(), 1 << 20));
        if (!WriteFile(file.get(), contents.data(), chunk, &written, nullptr)) {
            fail("write", temporary);
        }
        contents.remove_prefix(written);
    }
    if (!FlushFileBuffers(file.get())) {
        fail("flush", temporary);
    }
    CloseHandle(file.release());
    // A reader that has the old file open can hold up the replace for a moment.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(temporary.c_str(), path.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            removal.placed = true;
            return;
        }
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 200) {
            fail("replace", path, error);
        }
        Sleep(5);
    }
}

} // namespace zmod4710_sim
