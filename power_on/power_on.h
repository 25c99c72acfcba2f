// ao_power_on: drives one channel and sets what the module does at power-up.
#ifndef POWER_ON_POWER_ON_H
#define POWER_ON_POWER_ON_H

#include "console.h"
#include "module_library.h"

// Runs one whole dialogue; returns the exit status, which is 0 on every path.
int run_power_on(ModuleLibrary &library, Console &console);

#endif // POWER_ON_POWER_ON_H
