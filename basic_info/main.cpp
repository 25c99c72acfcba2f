#include "basic_info.h"

int main() {
    LinkedModuleLibrary library;
    Console console = standard_console();
    return run_basic_info(library, console);
}
