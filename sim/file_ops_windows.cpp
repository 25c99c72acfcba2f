#include "file_ops.hpp"

#include "state_json.hpp"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <aclapi.h>

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

// The user this program runs as.
std::vector<unsigned char> user_sid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    Handle closed(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        return {};
    }
    const SID *sid = static_cast<SID *>(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid);
    const auto *bytes = reinterpret_cast<const unsigned char *>(sid);
    return std::vector<unsigned char>(bytes, bytes + GetLengthSid(const_cast<SID *>(sid)));
}

// Whether the file or folder open as handle belongs to this user, to the
// administrators or to the system: the owners whose files a user may trust.
bool is_users_or_systems(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<unsigned char> user = user_sid();
    const bool trusted = (!user.empty() && EqualSid(owner, user.data())) ||
                         IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                         IsWellKnownSid(owner, WinLocalSystemSid);
    LocalFree(descriptor);
    return trusted;
}

// Opens what path names itself, a link rather than its target, to look at it.
Handle open_to_examine(const std::filesystem::path &path) {
    return Handle(CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

void check_owner(const std::filesystem::path &path, const std::filesystem::path &state,
                 const char *what) {
    const Handle examined = open_to_examine(path);
    if (!examined.valid()) {
        fail("examine", path);
    }
    if (!is_users_or_systems(examined.get())) {
        throw StateError("cannot use " + state.string() + ": " + what + path.string() +
                         " belongs to another user");
    }
}

std::filesystem::path folder_of(const std::filesystem::path &path) {
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

} // namespace

struct StateLocation::Platform {
    std::filesystem::path file_path;
    std::filesystem::path folder;
    std::string name;
    bool folder_exists = false;

    // The state file's attributes, or nothing while there is none.
    std::optional<DWORD> attributes() const {
        const DWORD attributes = GetFileAttributesW(file_path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
                return std::nullopt;
            }
            fail("examine", file_path, error);
        }
        return attributes;
    }
};

StateLocation::StateLocation(const std::filesystem::path &path, Purpose purpose)
    : platform_(std::make_unique<Platform>()) {
    Platform &place = *platform_;
    place.name = file_name_of(path);
    place.file_path = path;
    place.folder = folder_of(path);
    std::error_code error;
    place.folder_exists = std::filesystem::is_directory(place.folder, error);
    if (!place.folder_exists && purpose == Purpose::write) {
        if (!std::filesystem::create_directories(place.folder, error) && error) {
            throw StateError("cannot create " + place.folder.string() + ": " + error.message());
        }
        place.folder_exists = true;
    }
    if (!place.folder_exists) {
        return;
    }
    check_owner(place.folder, path, "its folder ");
    const std::optional<DWORD> attributes = place.attributes();
    if (attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        refuse_irregular_file(path);
    }
    if (attributes) {
        // A link is followed by the system; it and what it leads to must be trusted.
        check_owner(path, path, "");
    }
}

StateLocation::~StateLocation() = default;

// The system gives no cheap stamp that a replaced file could not share with the
// one before it, so the state is read at every call.
std::optional<FileStamp> StateLocation::stamp() const {
    return std::nullopt;
}

std::optional<FileSnapshot> StateLocation::read() const {
    const std::filesystem::path &path = platform_->file_path;
    Handle file(CreateFileW(path.c_str(), GENERIC_READ | READ_CONTROL, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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
    return FileSnapshot{std::move(contents), FileStamp{}, nullptr};
}

std::shared_ptr<void> StateLocation::lock() const {
    const std::filesystem::path lock_path = platform_->folder / lock_name(platform_->name);
    // A link in the lock's place is opened itself, never followed.
    Handle file(CreateFileW(lock_path.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL,
                            kShareAll, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        fail("open the lock file", lock_path);
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        throw StateError("cannot lock " + lock_path.string() + ": not a regular file");
    }
    if (!is_users_or_systems(file.get())) {
        throw StateError("cannot use " + platform_->file_path.string() + ": " + lock_path.string() +
                         " belongs to another user");
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kLockWaitSeconds);
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        OVERLAPPED whole_file = {};
        if (LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                       MAXDWORD, &whole_file)) {
            break;
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION) {
            fail("lock", lock_path);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            refuse_lock_held(lock_path);
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    // Closing the handle releases the lock.
    return std::shared_ptr<void>(file.release(), [](void *held) { CloseHandle(held); });
}

void StateLocation::check_writable() const {
    const std::optional<DWORD> attributes = platform_->attributes();
    if (!attributes) {
        return;
    }
    if ((*attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        refuse_read_only(platform_->file_path);
    }
}

void StateLocation::remove_leftover_temporaries() const {
    WIN32_FIND_DATAW found;
    const std::filesystem::path pattern = platform_->folder / ("." + platform_->name + ".*.tmp");
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::filesystem::path name(found.cFileName);
        if (is_temporary_name_of(name.string(), platform_->name) &&
            (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                0) {
            DeleteFileW((platform_->folder / name).c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

FileSnapshot StateLocation::replace(std::string contents) const {
    const std::filesystem::path &path = platform_->file_path;
    // Made anew (CREATE_NEW) under a name no one can predict: never a file or link
    // that was there before. Removed again unless it is put in place.
    std::filesystem::path temporary;
    Handle file(INVALID_HANDLE_VALUE);
    for (int attempt = 0; !file.valid(); ++attempt) {
        temporary = platform_->folder / unpredictable_name_beside(platform_->name);
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
    std::string_view rest = contents;
    while (!rest.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1 << 20));
        if (!WriteFile(file.get(), rest.data(), chunk, &written, nullptr)) {
            fail("write", temporary);
        }
        rest.remove_prefix(written);
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
            return FileSnapshot{std::move(contents), FileStamp{}, nullptr};
        }
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 200) {
            fail("replace", path, error);
        }
        Sleep(5);
    }
}

std::optional<FileStamp> stamp_of(const std::filesystem::path &) {
    return std::nullopt;
}

} // namespace zmod4710_sim
