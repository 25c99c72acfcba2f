// Finding the module on the backplane.
#ifndef KIT_SLOT_SCAN_H
#define KIT_SLOT_SCAN_H

#include "module_library.h"

const int kSlotCount = 8;

// Tries slots 0 to 7 in turn and stops at the first whose Init answers 0.
// Returns false, leaving slot alone, when no slot answers.
bool find_module_slot(ModuleLibrary &library, int &slot);

#endif // KIT_SLOT_SCAN_H
