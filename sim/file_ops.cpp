#include "file_ops.hpp"

#include "state_json.hpp"

#include <random>
#include <system_error>

namespace zmod4710_sim {

std::filesystem::path final_target(const std::filesystem::path &path) {
    std::filesystem::path target = path;
    std::error_code error;
    // As many links as the system itself follows before it gives up.
    for (int hop = 0; hop < 40 && std::filesystem::is_symlink(target, error); ++hop) {
        const std::filesystem::path next = std::filesystem::read_symlink(target, error);
        if (error) {
            break;
        }
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target;
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

std::filesystem::path unpredictable_name_beside(const std::filesystem::path &path) {
    static const char kDigits[] = "0123456789abcdef";
    std::random_device source;
    std::string suffix;
    for (int part = 0; part < 4; ++part) {
        for (unsigned int bits = source(), digit = 0; digit < 8; ++digit, bits >>= 4) {
            suffix += kDigits[bits & 15u];
        }
    }
    return path.parent_path() / ("." + path.filename().string() + "." + suffix + ".tmp");
}

} // namespace zmod4710_sim
