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

void report_no_module(Console &console) {
    std::fputs("There is no ZM-4710 on the backplane\n", console.out);
}

void report_module_slot(Console &console, int slot) {
    std::fprintf(console.out, "ZM-4710 on slot %d \n", slot);
}

bool find_and_report_module(ModuleLibrary &library, Console &console, int &slot) {
    if (!find_module_slot(library, slot)) {
        report_no_module(console);
        wait_for_key(console);
        return false;
    }
    report_module_slot(console, slot);
    return true;
}
