/* Finds the module, drives channel 0 at 12 mA and shows that channel's calibration.
 *
 * Written as a program for the controller is: it includes only the module
 * library's header, and takes any result but 0 as a refusal, whatever the
 * library that answers it. */
#include "drive_channel.h"

#include <zmod4710.h>

/* Says which call was refused, and with what result. */
static int refused(FILE *err, const char *call, int result) {
    fprintf(err, "%s refused with result %d\n", call, result);
    return 1;
}

int drive_channel(FILE *out, FILE *err) {
    const short range = 4; /* 4 ~ 20mA */
    unsigned short gain = 0;
    short offset = 0;
    int slot = 0, result;

    while (slot < 8 && zmod4710_Init(slot) != 0)
        ++slot;
    if (slot == 8) {
        fprintf(err, "no analog-output module on the backplane\n");
        return 1;
    }
    if ((result = zmod4710_WriteAO(slot, 0, range, 12.0f)) != 0)
        return refused(err, "zmod4710_WriteAO", result);
    if ((result = zmod4710_ReadAO_GainOffset(slot, 0, range, &gain, &offset)) != 0)
        return refused(err, "zmod4710_ReadAO_GainOffset", result);
    fprintf(out, "slot %d channel 0: 12 mA, gain %u, offset %d\n", slot, gain, offset);
    return 0;
}
