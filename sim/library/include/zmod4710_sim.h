/*
 * zmod4710_sim.h - what the simulated module library answers.
 *
 * The simulated library offers the functions of zmod4710.h on a backplane that
 * it keeps in a state file (zmod4710(3)). Besides 0 for success, its functions
 * return the results below; the module's own library may return others, so a
 * program meant for the controller treats any result but 0 as a refusal.
 */
#ifndef ZMOD4710_SIM_H
#define ZMOD4710_SIM_H

/* The call did what it was asked. */
#define ZMOD4710_SIM_OK 0

/* A slot, channel, range code, power-on mode or value that the module would not
 * take, or a null pointer where the call writes a result. Nothing changed. */
#define ZMOD4710_SIM_BAD_ARGUMENT (-1)

/* No analog-output module in the slot, or none whose zmod4710_Init succeeded in
 * this process. Nothing changed. */
#define ZMOD4710_SIM_NO_MODULE (-2)

/* The state file could not be read, parsed or written, or is not the user's to
 * use; one line on standard error said why. Nothing changed. */
#define ZMOD4710_SIM_STATE_PROBLEM (-3)

/* Refused on request: a person asked for this call to be refused (zmod4710-sim
 * refuse), without another result. Nothing changed. */
#define ZMOD4710_SIM_REFUSED_ON_REQUEST (-4)

/* What zmod4710_GetLibVersion returns and zmod4710_GetLibDate writes. */
#define ZMOD4710_SIM_LIB_VERSION 0x0100
#define ZMOD4710_SIM_LIB_DATE "2026-12-08"

#endif /* ZMOD4710_SIM_H */
