// ao_loop_check: drives a channel to 0, 25, 50, 75 and 100 % of its range's
// span, up and down again, asks at each point what a meter or the field device
// reads, and reports the error at each point against a tolerance.
#ifndef LOOP_CHECK_LOOP_CHECK_H
#define LOOP_CHECK_LOOP_CHECK_H

#include "console.h"
#include "module_library.h"

// The tolerance, in % of the span, that Enter alone gives.
const double kDefaultTolerance = 0.5;

// Runs the check to its end, q, a refused answer or the end of input; returns
// the exit status, which is 0 on every path.
int run_loop_check(ModuleLibrary &library, Console &console);

#endif // LOOP_CHECK_LOOP_CHECK_H
