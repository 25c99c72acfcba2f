/* The logic of drive_channel, apart from its main, so that tests can run it. */
#ifndef DRIVE_CHANNEL_H
#define DRIVE_CHANNEL_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Finds the first analog-output module, drives its channel 0 at 12 mA and
 * shows that channel's calibration on out. A refusal is told on err, and
 * nothing more is done. Returns 0, or 1 after a refusal. */
int drive_channel(FILE *out, FILE *err);

#ifdef __cplusplus
}
#endif

#endif /* DRIVE_CHANNEL_H */
