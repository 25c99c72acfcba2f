#include "basic_info.h"

int main() {
    LinkedModuleLibrary library;
    Console console = {stdin, stdout};
    return run_basic_info(library, console);
}
