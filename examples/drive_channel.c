/* Finds the module, drives channel 0 at 12 mA and shows that channel's calibration. */
#include <stdio.h>

#include <zmod4710.h>
#include <zmod4710_sim.h>

/* Says why a call was refused; a real module's library may give other results. */
static int refused(const char *call, int result) {
    const char *why = result == ZMOD4710_SIM_BAD_ARGUMENT    ? "the module does not take that"
                      : result == ZMOD4710_SIM_NO_MODULE     ? "no module answers there"
                      : result == ZMOD4710_SIM_STATE_PROBLEM ? "the module's state is unusable"
                                                             : "refused";
    fprintf(stderr, "%s: %s (result %d)\n", call, why, result);
    return 1;
}

int main(void) {
    const short range = 4; /* 4 ~ 20mA */
    unsigned short gain = 0;
    short offset = 0;
    int slot = 0, result;

    while (slot < 8 && zmod4710_Init(slot) != ZMOD4710_SIM_OK)
        ++slot;
    if (slot == 8) {
        fprintf(stderr, "no analog-output module on the backplane\n");
        return 1;
    }
    if ((result = zmod4710_WriteAO(slot, 0, range, 12.0f)) != ZMOD4710_SIM_OK)
        return refused("zmod4710_WriteAO", result);
    if ((result = zmod4710_ReadAO_GainOffset(slot, 0, range, &gain, &offset)) != ZMOD4710_SIM_OK)
        return refused("zmod4710_ReadAO_GainOffset", result);
    printf("slot %d channel 0: 12 mA, gain %u, offset %d\n", slot, gain, offset);
    return 0;
}
