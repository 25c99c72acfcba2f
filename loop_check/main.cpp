#include "loop_check.h"

int main() {
    LinkedModuleLibrary library;
    Console console = standard_console();
    return run_loop_check(library, console);
}
