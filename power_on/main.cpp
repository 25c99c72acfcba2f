#include "power_on.h"

int main() {
    LinkedModuleLibrary library;
    Console console = standard_console();
    return run_power_on(library, console);
}
