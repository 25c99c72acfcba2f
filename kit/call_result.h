// What the tools make of a module library call's result.
#ifndef KIT_CALL_RESULT_H
#define KIT_CALL_RESULT_H

#include "console.h"

// True when the module library did what the call asked (result 0). Any other
// result is told in one line naming the call and its result, so that nothing is
// shown as done that the module refused.
bool call_succeeded(Console &console, const char *call_name, int result);

#endif // KIT_CALL_RESULT_H
