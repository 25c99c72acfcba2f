// Finding the module on the backplane.
#ifndef KIT_SLOT_SCAN_H
#define KIT_SLOT_SCAN_H

#include "console.h"
#include "module_library.h"

const int kSlotCount = 8;

// Tries slots 0 to 7 in turn and stops at the first whose Init answers 0.
// Returns false, leaving slot alone, when no slot answers.
bool find_module_slot(ModuleLibrary &library, int &slot);

// The scan prints nothing; the tools tell the outcome with these.
void report_no_module(Console &console);
void report_module_slot(Console &console, int slot);

// How a tool that goes straight to its dialogue begins: the scan, and the slot
// told; with no module, that is told and a key waited for, so that the message
// stays on the console. False when there is no module.
bool find_and_report_module(ModuleLibrary &library, Console &console, int &slot);

#endif // KIT_SLOT_SCAN_H
