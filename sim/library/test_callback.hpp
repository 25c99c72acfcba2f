// The test's callback (zmod4710_sim_on_call): called before a module call is
// answered, without any lock of the library's held, from whichever thread makes
// the call; and replaced so that, once that returns, no thread runs the old one.
#pragma once

#include "zmod4710_sim.h"

namespace zmod4710_sim::library {

// What the callback answers to call (0: let it go on); 0 when none is set, or
// when this thread's call was made from within the callback. A callback left
// by an exception or by longjmp no longer counts as running: the next call
// calls it again.
int callback_answer(zmod4710_sim_call &call);

// Sets the callback for every call from now on (NULL: none), and returns once
// no other thread runs the one it replaces. A thread that sets it from within
// the callback does not wait for itself.
void set_callback(zmod4710_sim_callback callback, void *context);

} // namespace zmod4710_sim::library
