#include "slot_scan.h"

bool find_module_slot(ModuleLibrary &library, int &slot) {
    for (int candidate = 0; candidate < kSlotCount; ++candidate) {
        if (library.Init(candidate) == 0) {
            slot = candidate;
            return true;
        }
    }
    return false;
}
