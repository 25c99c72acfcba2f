#include "state_reading.hpp"

#include "owner_checks.hpp"

namespace zmod4710_sim {

namespace {

void refuse_if_too_large(const std::filesystem::path &path, std::uintmax_t size) {
    if (size > kMaxStateFileSize) {
        throw StateError("cannot read " + path.string() +
                         ": larger than 1 MiB, far more than any backplane's state");
    }
}

// The whole file, whose size was size when it was looked at. A regular file
// reads short only at its end, so asking for a byte more than its size reads it
// in one call.
std::string read_bounded(const platform::Handle &file, std::uintmax_t size,
                         const std::filesystem::path &shown) {
    refuse_if_too_large(shown, size);
    std::string contents;
    std::size_t wanted = static_cast<std::size_t>(size) + 1;
    for (;;) {
        const std::size_t start = contents.size();
        contents.resize(start + wanted);
        const std::size_t count = platform::read_some(file, &contents[start], wanted, shown);
        contents.resize(start + count);
        // Also a file that grows while it is read stops at the limit.
        refuse_if_too_large(shown, contents.size());
        if (count < wanted) {
            return contents;
        }
        wanted = 16384;
    }
}

} // namespace

bool operator==(const FileStamp &a, const FileStamp &b) {
    return a.device == b.device && a.file == b.file && a.size == b.size &&
           a.modified == b.modified && a.changed == b.changed;
}

std::optional<Snapshot> read_state(const platform::Place &place) {
    if (!place.folder.valid()) {
        return std::nullopt;
    }
    platform::Handle file = platform::open_to_read(place, place.name);
    if (!file.valid()) {
        return std::nullopt;
    }
    const platform::FileStatus status = platform::status_of(file, place.user, place.path);
    check_readable(status, place);
    Snapshot snapshot{read_bounded(file, status.size, place.path), status, {}};
    if (status.stamp) {
        snapshot.held = std::move(file);
    }
    return snapshot;
}

} // namespace zmod4710_sim
