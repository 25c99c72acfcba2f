// The file operations the state file needs, each done so that a crash or a
// concurrent program never sees half a state.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zmod4710_sim {

// An exclusive lock on a file, held from construction to destruction. The lock
// file is created if missing and never removed: removing it would let two
// programs lock two different files of the same name.
class ExclusiveFileLock {
public:
    explicit ExclusiveFileLock(const std::filesystem::path &lock_path);
    ~ExclusiveFileLock();
    ExclusiveFileLock(const ExclusiveFileLock &) = delete;
    ExclusiveFileLock &operator=(const ExclusiveFileLock &) = delete;

private:
#ifdef _WIN32
    void *handle_;
#else
    int descriptor_;
#endif
};

// The whole file, or nothing when it does not exist. Throws StateError when it
// exists but cannot be read.
std::optional<std::string> read_file_if_exists(const std::filesystem::path &path);

// Writes contents to a temporary file beside path, flushes it to the disk and
// renames it over path: a crash leaves either the old or the new file.
// Throws StateError.
void replace_file_atomically(const std::filesystem::path &path, std::string_view contents);

} // namespace zmod4710_sim
