// The state file's system calls on Windows. The system follows links itself,
// renames atomically with MoveFileEx, whose write-through also flushes the
// folder, and keeps no mode bits: a read-only file is one with that attribute.
// The files of the user, the administrators and the system count as the user's.
#include "platform.hpp"

#include <algorithm>
#include <system_error>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <aclapi.h>

namespace zmod4710_sim::platform {

namespace {

// Every program shares every file: a reader must never stop a writer's rename.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The most one call reads or writes.
constexpr std::size_t kLargestCall = std::size_t{1} << 20;

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

HANDLE native(const Handle &handle) {
    return reinterpret_cast<HANDLE>(handle.get());
}

Handle handle_of(HANDLE native) {
    return Handle(reinterpret_cast<Native>(native));
}

bool is_missing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

DWORD call_size(std::size_t size) {
    return static_cast<DWORD>(std::min(size, kLargestCall));
}

// The user this program runs as.
std::vector<unsigned char> user_sid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    const Handle closed = handle_of(token);
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
    return handle_of(CreateFileW(
        path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// A file whose owner is trusted (FileStatus::users), with a mode that says
// whether it is read-only.
FileStatus status_from(DWORD attributes, HANDLE owned) {
    FileStatus status;
    status.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileStatus::Kind::folder
                                                               : FileStatus::Kind::regular;
    status.mode = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0400 : 0600;
    status.users = is_users_or_systems(owned);
    return status;
}

void set_start(const Handle &file, const std::filesystem::path &shown) {
    if (!SetFilePointerEx(native(file), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
        fail("seek in", shown);
    }
}

} // namespace

void close_quietly(Native native) noexcept {
    CloseHandle(reinterpret_cast<HANDLE>(native));
}

Handle open_folder(const std::filesystem::path &path) {
    Handle folder = open_to_examine(path);
    if (!folder.valid()) {
        fail("open the folder", path);
    }
    return folder;
}

std::optional<FileStatus> examine(const Place &place, const std::string &name) {
    const std::filesystem::path path = place.beside(name);
    const DWORD attributes =
        place.folder.valid() ? GetFileAttributesW(path.c_str()) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = place.folder.valid() ? GetLastError() : ERROR_PATH_NOT_FOUND;
        if (is_missing(error)) {
            return std::nullopt;
        }
        fail("examine", path, error);
    }
    const Handle examined = open_to_examine(path);
    if (!examined.valid()) {
        fail("examine", path);
    }
    return status_from(attributes, native(examined));
}

Handle open_to_read(const Place &place, const std::string &name) {
    const std::filesystem::path path = place.beside(name);
    Handle file = handle_of(CreateFileW(path.c_str(), GENERIC_READ | READ_CONTROL, kShareAll,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() && !is_missing(GetLastError())) {
        fail("open", path);
    }
    return file;
}

FileStatus status_of(const Handle &file, std::uint32_t, const std::filesystem::path &shown) {
    // A pipe or a device (NUL, CON) would never end or never stop.
    if (GetFileType(native(file)) != FILE_TYPE_DISK) {
        return FileStatus();
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(native(file), &information)) {
        fail("examine", shown);
    }
    FileStatus status = status_from(information.dwFileAttributes, native(file));
    status.size = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    return status;
}

std::size_t read_some(const Handle &file, char *buffer, std::size_t size,
                      const std::filesystem::path &shown) {
    DWORD count = 0;
    if (!ReadFile(native(file), buffer, call_size(size), &count, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE) {
            return 0; // a pipe's writer ended: its end
        }
        fail("read", shown);
    }
    return count;
}

Handle standard_input() {
    HANDLE input = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_INPUT_HANDLE), GetCurrentProcess(),
                         &input, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        fail("read", "standard input");
    }
    return handle_of(input);
}

bool standard_input_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool standard_output_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void seek_to(const Handle &file, std::uint64_t offset, const std::filesystem::path &shown) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(native(file), to, nullptr, FILE_BEGIN)) {
        fail("read", shown);
    }
}

Handle open_lock(const Place &place, const std::string &name, bool create) {
    const std::filesystem::path path = place.beside(name);
    // A link in the lock's place is opened itself, never followed.
    Handle file =
        handle_of(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL, kShareAll,
                              nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid() && (create || !is_missing(GetLastError()))) {
        fail("open the lock file", path);
    }
    return file;
}

// A new file takes the access rules of its folder, which its owner set.
void make_private(const Handle &, const std::filesystem::path &) {}

bool try_lock(const Handle &file, const std::filesystem::path &shown) {
    OVERLAPPED whole_file = {};
    if (LockFileEx(native(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                   MAXDWORD, &whole_file)) {
        return true;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION) {
        fail("lock", shown);
    }
    return false;
}

void wait_for_lock(const Handle &file, const std::filesystem::path &shown) {
    OVERLAPPED whole_file = {};
    if (!LockFileEx(native(file), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole_file)) {
        fail("lock", shown);
    }
}

void unlock(const Handle &file) noexcept {
    OVERLAPPED whole_file = {};
    UnlockFileEx(native(file), 0, MAXDWORD, MAXDWORD, &whole_file);
}

Handle duplicate(const Handle &file, const std::filesystem::path &shown) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), native(file), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        fail("lock", shown);
    }
    return handle_of(copy);
}

std::string read_start(const Handle &file, std::size_t size, const std::filesystem::path &shown) {
    set_start(file, shown);
    std::string text(size, '\0');
    text.resize(read_some(file, text.data(), size, shown));
    return text;
}

void write_start(const Handle &file, std::string_view text, bool cut,
                 const std::filesystem::path &shown) {
    set_start(file, shown);
    DWORD written = 0;
    if (!WriteFile(native(file), text.data(), call_size(text.size()), &written, nullptr) ||
        written != text.size() || (cut && !SetEndOfFile(native(file)))) {
        fail("write", shown);
    }
}

Handle create_new(const Place &place, const std::string &name) {
    const std::filesystem::path path = place.beside(name);
    // CREATE_NEW: never a file or link that was there before.
    Handle file = handle_of(CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() && GetLastError() != ERROR_FILE_EXISTS) {
        fail("create", path);
    }
    return file;
}

std::size_t write_some(const Handle &file, const char *data, std::size_t size,
                       const std::filesystem::path &shown) {
    DWORD written = 0;
    if (!WriteFile(native(file), data, call_size(size), &written, nullptr)) {
        fail("write", shown);
    }
    return written;
}

// A read-only state is never replaced, and there are no mode bits to keep.
void take_state_attributes(const Handle &, const Place &, const std::filesystem::path &) {}

void sync(const Handle &file, const std::filesystem::path &shown) {
    if (!FlushFileBuffers(native(file))) {
        fail("flush", shown);
    }
}

void close(Handle file, const std::filesystem::path &shown) {
    if (!CloseHandle(reinterpret_cast<HANDLE>(file.release()))) {
        fail("close", shown);
    }
}

void rename(const Place &place, const std::string &from, const std::string &to) {
    const std::filesystem::path source = place.beside(from);
    const std::filesystem::path target = place.beside(to);
    // A reader that has the old file open can hold up the replace for a moment.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(source.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return;
        }
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 200) {
            fail("replace", target, error);
        }
        Sleep(5);
    }
}

// MoveFileEx's write-through has flushed the folder already.
void sync_folder(const Place &) {}

bool remove(const Place &place, const std::string &name) noexcept {
    try {
        return DeleteFileW(place.beside(name).c_str()) != 0;
    } catch (...) {
        return false;
    }
}

Handle open_to_append(const Place &place, const std::string &name, bool create) {
    const std::filesystem::path path = place.beside(name);
    // A new file takes the access rules of its folder, which its owner set.
    Handle file =
        handle_of(CreateFileW(path.c_str(), GENERIC_WRITE | READ_CONTROL, kShareAll, nullptr,
                              create ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = GetLastError();
    if (!file.valid() && (create ? error != ERROR_FILE_EXISTS : !is_missing(error))) {
        fail(create ? "create" : "open", path, error);
    }
    return file;
}

std::size_t append(const Handle &file, const char *data, std::size_t size,
                   const std::filesystem::path &shown) {
    // An offset of all ones writes at the end of the file, as one piece.
    OVERLAPPED at_end{};
    at_end.Offset = 0xFFFFFFFF;
    at_end.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    if (!WriteFile(native(file), data, call_size(size), &written, &at_end)) {
        fail("write", shown);
    }
    return written;
}

bool take_back(const Handle &file, std::size_t count) noexcept {
    // The file's position follows the write; taken back only while it is the end.
    LARGE_INTEGER end{};
    LARGE_INTEGER size{};
    if (!SetFilePointerEx(native(file), LARGE_INTEGER{}, &end, FILE_CURRENT) ||
        !GetFileSizeEx(native(file), &size) || end.QuadPart != size.QuadPart ||
        end.QuadPart < static_cast<LONGLONG>(count)) {
        return false;
    }
    LARGE_INTEGER at{};
    at.QuadPart = end.QuadPart - static_cast<LONGLONG>(count);
    return SetFilePointerEx(native(file), at, nullptr, FILE_BEGIN) && SetEndOfFile(native(file));
}

// Windows gives no notices that fit here: the trace's name is looked at again
// at every append.
Handle watch_name(const Place &, const Handle &) noexcept {
    return Handle();
}

bool name_may_have_changed(const Handle &) noexcept {
    return true;
}

bool same_file(const Handle &a, const Handle &b, const std::filesystem::path &shown) {
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    if (!GetFileInformationByHandle(native(a), &first) ||
        !GetFileInformationByHandle(native(b), &second)) {
        fail("examine", shown);
    }
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

long process_id() {
    return static_cast<long>(GetCurrentProcessId());
}

void on_fork(void (*)(), void (*)(), void (*)()) noexcept {}

std::optional<FileStamp> stamp_of(const std::filesystem::path &) {
    return std::nullopt;
}

} // namespace zmod4710_sim::platform
