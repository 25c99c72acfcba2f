/*
 * A stand-in for the vendor's module library: it answers from fixed values and
 * appends each call it gets, one line a call, to the file that ZMOD4710_CALL_LOG
 * names, so a test sees which calls a built tool makes, in which order, by their
 * C names.
 *
 * Init answers 0 for the slot in ZMOD4710_RECORDING_SLOT (0 when unset) and 1
 * for every other; the library is version 0x0ABC of "Jan 02 2025", the module
 * has firmware 7, and every channel's calibration is gain 500, offset -12.
 */
#include "zmod4710.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void record(const char *format, ...) {
    const char *log = getenv("ZMOD4710_CALL_LOG");
    FILE *file;
    va_list arguments;
    if (log == NULL || (file = fopen(log, "ab")) == NULL) {
        return;
    }
    va_start(arguments, format);
    vfprintf(file, format, arguments);
    va_end(arguments);
    fputc('\n', file);
    fclose(file);
}

static int answering_slot(void) {
    const char *slot = getenv("ZMOD4710_RECORDING_SLOT");
    return slot != NULL ? (int)strtol(slot, NULL, 10) : 0;
}

int zmod4710_Init(int slot) {
    record("zmod4710_Init(%d)", slot);
    return slot == answering_slot() ? 0 : 1;
}

int zmod4710_WriteAO(int slot, int channel, short range, float value) {
    record("zmod4710_WriteAO(%d, %d, %d, %g)", slot, channel, range, (double)value);
    return 0;
}

int zmod4710_SetPowerOnEnStatus(int slot, short mode) {
    record("zmod4710_SetPowerOnEnStatus(%d, %d)", slot, mode);
    return 0;
}

int zmod4710_WritePowerOn_AO(int slot, int channel, short range, float value) {
    record("zmod4710_WritePowerOn_AO(%d, %d, %d, %g)", slot, channel, range, (double)value);
    return 0;
}

int zmod4710_ReadAO_GainOffset(int slot, int channel, short range, unsigned short *gain,
                               short *offset) {
    record("zmod4710_ReadAO_GainOffset(%d, %d, %d)", slot, channel, range);
    *gain = 500;
    *offset = -12;
    return 0;
}

int zmod4710_GetLibVersion(void) {
    record("zmod4710_GetLibVersion()");
    return 0x0ABC;
}

int zmod4710_GetLibDate(char *date) {
    static const char kDate[] = "Jan 02 2025";
    record("zmod4710_GetLibDate()");
    memcpy(date, kDate, sizeof kDate);
    return 0;
}

int zmod4710_GetFirmwareVersion(int slot, short *version) {
    record("zmod4710_GetFirmwareVersion(%d)", slot);
    *version = 7;
    return 0;
}
