#include "file_ops.hpp"

#include "state_json.hpp"

#include <random>

namespace zmod4710_sim {

namespace {

constexpr char kTemporarySuffix[] = ".tmp";
constexpr std::size_t kRandomDigits = 32;

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

} // namespace

bool operator==(const FileStamp &a, const FileStamp &b) {
    return a.device == b.device && a.file == b.file && a.size == b.size &&
           a.modified == b.modified && a.changed == b.changed;
}

void refuse_irregular_file(const std::filesystem::path &path) {
    throw StateError("cannot read " + path.string() + ": not a regular file");
}

void refuse_if_too_large(const std::filesystem::path &path, std::uintmax_t size) {
    if (size > kMaxStateFileSize) {
        throw StateError("cannot read " + path.string() +
                         ": larger than 1 MiB, far more than any backplane's state");
    }
}

void refuse_lock_held(const std::filesystem::path &lock_path) {
    throw StateError("cannot lock " + lock_path.string() + ": another program has held it for " +
                     std::to_string(kLockWaitSeconds) + " seconds");
}

void refuse_read_only(const std::filesystem::path &path) {
    throw StateError("cannot write " + path.string() +
                     ": it is read-only, and a write would replace it");
}

void refuse_taken_by_write(const std::filesystem::path &path) {
    throw StateError("cannot write " + path.string() +
                     ": it belongs to another user, and a write would make it yours");
}

std::string file_name_of(const std::filesystem::path &path) {
    std::string name = path.filename().string();
    if (name.empty() || name == "." || name == "..") {
        throw StateError("cannot use " + path.string() + " as the state: it names a folder");
    }
    return name;
}

std::string lock_name(const std::string &name) {
    return name + ".lock";
}

std::string unpredictable_name_beside(const std::string &name) {
    static const char kDigits[] = "0123456789abcdef";
    // Made once: making one asks the system what sources it has, which costs more
    // than the numbers.
    thread_local std::random_device source;
    std::string suffix;
    while (suffix.size() < kRandomDigits) {
        for (unsigned int bits = source(), digit = 0; digit < 8; ++digit, bits >>= 4) {
            suffix += kDigits[bits & 15u];
        }
    }
    return "." + name + "." + suffix + kTemporarySuffix;
}

bool is_temporary_name_of(const std::string &candidate, const std::string &name) {
    const std::string prefix = "." + name + ".";
    const std::size_t suffix_size = sizeof kTemporarySuffix - 1;
    if (candidate.size() != prefix.size() + kRandomDigits + suffix_size ||
        candidate.compare(0, prefix.size(), prefix) != 0 ||
        candidate.compare(candidate.size() - suffix_size, suffix_size, kTemporarySuffix) != 0) {
        return false;
    }
    for (std::size_t at = prefix.size(); at < prefix.size() + kRandomDigits; ++at) {
        if (!is_hex_digit(candidate[at])) {
            return false;
        }
    }
    return true;
}

} // namespace zmod4710_sim
