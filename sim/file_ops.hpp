// The file operations the state file needs, each done so that a crash or a
// concurrent program never sees half a state.
#pragma once

#include <cstdint>
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

// Far more than any backplane's state; a larger file is refused unread.
constexpr std::uintmax_t kMaxStateFileSize = std::uintmax_t{1} << 20;

// What path names once its symbolic links are followed, even to a file that does
// not exist yet, so that a write goes to the link's target and keeps the link.
std::filesystem::path final_target(const std::filesystem::path &path);

// Makes folder and the folders above it that are missing, each readable by its
// owner alone (0700), as a folder of a user's state ought to be.
void make_folders(const std::filesystem::path &folder);

// The whole file, or nothing when it does not exist. Throws StateError when it
// exists but cannot be read, is not a regular file (a FIFO would never end, a
// device never stop) or is larger than kMaxStateFileSize.
std::optional<std::string> read_file_if_exists(const std::filesystem::path &path);

// Writes contents to a new temporary file beside path, flushes it to the disk and
// renames it over path: a crash leaves either the old or the new file. The
// temporary file has a name no one can predict and is made anew, never through
// a link that someone put in its place; it takes the mode of the file it
// replaces, and is removed when the write fails. Throws StateError.
void replace_file_atomically(const std::filesystem::path &path, std::string_view contents);

// What read_file_if_exists refuses, in one wording on every system: a file that
// is not a regular one, and one of size bytes when that is over kMaxStateFileSize.
[[noreturn]] void refuse_irregular_file(const std::filesystem::path &path);
void refuse_if_too_large(const std::filesystem::path &path, std::uintmax_t size);

// A name for a temporary file beside path that no one can predict.
std::filesystem::path unpredictable_name_beside(const std::filesystem::path &path);

} // namespace zmod4710_sim
