#include "call_result.h"

bool call_succeeded(Console &console, const char *call_name, int result) {
    if (result == 0) {
        return true;
    }
    std::fprintf(console.out, "%s refused with result %d \n", call_name, result);
    return false;
}
