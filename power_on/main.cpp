#include "power_on.h"

int main() {
    LinkedModuleLibrary library;
    Console console = {stdin, stdout};
    return run_power_on(library, console);
}
