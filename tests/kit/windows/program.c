/* A program of the controller developers' own, as MSVC 9 compiles it for a
 * desktop, with no C run time: it finds the module and drives channel CHANNEL
 * at 16 mA in the 4 ~ 20mA range. It returns 0 when every call succeeded; its
 * entry point is its own. */
#include <zmod4710.h>

/* What a compiler of MSVC's kind asks of a program that uses floating point,
 * which the C run time would define. */
int _fltused;

int __cdecl program(void) {
    int slot = 0;
    while (slot < 8 && zmod4710_Init(slot) != 0)
        ++slot;
    if (slot == 8)
        return 1;
    return zmod4710_WriteAO(slot, CHANNEL, 4, 16.0f) != 0 ? 2 : 0;
}
