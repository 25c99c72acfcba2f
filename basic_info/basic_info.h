// ao_basic_info: shows what the module library and the module report about
// themselves, then drives outputs, showing each channel's calibration.
#ifndef BASIC_INFO_BASIC_INFO_H
#define BASIC_INFO_BASIC_INFO_H

#include "console.h"
#include "module_library.h"

// Runs until q or Q, a refused answer or the end of input; returns the exit
// status, which is 0 on every path.
int run_basic_info(ModuleLibrary &library, Console &console);

#endif // BASIC_INFO_BASIC_INFO_H
