// The state file read whole, under the rules of a shared machine: only a
// regular file of the user's (or root's), and never more than a state can be.
#pragma once

#include "platform.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace zmod4710_sim {

// Far more than any backplane's state; a larger file is refused unread.
constexpr std::uintmax_t kMaxStateFileSize = std::uintmax_t{1} << 20;

// A state file's contents as read or written, and what the system said of it.
// Where files have stamps, the file is held open (to read only) so that the
// stamp names it alone.
struct Snapshot {
    std::string contents;
    platform::FileStatus status;
    platform::Handle held;
};

// The whole state file in place, or nothing while there is none. Throws
// StateError when it is not a regular file of the user's (or root's) or larger
// than kMaxStateFileSize; a file that grows while it is read stops there too.
std::optional<Snapshot> read_state(const platform::Place &place);

// The whole state file in place, or nothing while there is none. Throws
// StateError when it is not a regular file of the user's (or root's) or larger
// than kMaxStateFileSize; a file that grows while it is read stops there too.
std::optional<Snapshot> read_state(const platform::Place &place);

} // namespace zmod4710_sim
