// The one kind of failure the state file has: it cannot be found, read, parsed,
// locked or written, or it is not the user's to use. The message says why, in
// one line that names the file.
#pragma once

#include <stdexcept>

namespace zmod4710_sim {

class StateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace zmod4710_sim
