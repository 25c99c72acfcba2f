// Who may own what the state is made of, and who may write it: so that
// another user of the machine never hands the user a file of theirs, and a
// write never takes a file that is not the user's own.
#pragma once

#include "platform.hpp"

namespace zmod4710_sim {

// Refuses (StateError) a state that is no regular file, or neither the
// user's nor, where nobody else may put files in its folder, root's.
void check_readable(const platform::FileStatus &status, const platform::Place &place);

// Whether the user may write the state in place: check_writable's verdict.
bool may_write(const platform::Place &place);

// Refuses (StateError) a state that its user may not write: one that is
// read-only, or one that is not the user's own, which a write would take.
void check_writable(const platform::Place &place);

} // namespace zmod4710_sim
