// A module library that only records: every call it gets is appended, one line
// a call, to the file that ZMOD4710_CALL_LOG names. Loaded in place of the
// simulated library, it shows which calls a built tool makes, in which order,
// by their C names. Init answers 0 for the slot in ZMOD4710_RECORDING_SLOT (0
// when unset); reads answer gain 500, offset -12 and firmware 7.
#include "zmod4710.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void record(const std::string &call) {
    const char *log = std::getenv("ZMOD4710_CALL_LOG");
    if (log == nullptr) {
        return;
    }
    if (std::FILE *file = std::fopen(log, "a")) {
        std::fprintf(file, "%s\n", call.c_str());
        std::fclose(file);
    }
}

template <class... Arguments> std::string call(const char *format, Arguments... arguments) {
    char text[128];
    std::snprintf(text, sizeof text, format, arguments...);
    return text;
}

int answering_slot() {
    const char *slot = std::getenv("ZMOD4710_RECORDING_SLOT");
    return slot != nullptr ? static_cast<int>(std::strtol(slot, nullptr, 10)) : 0;
}

} // namespace

extern "C" {

int zmod4710_Init(int slot) {
    record(call("zmod4710_Init(%d)", slot));
    return slot == answering_slot() ? 0 : 1;
}

int zmod4710_WriteAO(int slot, int channel, short range, float value) {
    record(
        call("zmod4710_WriteAO(%d, %d, %d, %g)", slot, channel, range, static_cast<double>(value)));
    return 0;
}

int zmod4710_SetPowerOnEnStatus(int slot, short mode) {
    record(call("zmod4710_SetPowerOnEnStatus(%d, %d)", slot, mode));
    return 0;
}

int zmod4710_WritePowerOn_AO(int slot, int channel, short range, float value) {
    record(call("zmod4710_WritePowerOn_AO(%d, %d, %d, %g)", slot, channel, range,
                static_cast<double>(value)));
    return 0;
}

int zmod4710_ReadAO_GainOffset(int slot, int channel, short range, unsigned short *gain,
                               short *offset) {
    record(call("zmod4710_ReadAO_GainOffset(%d, %d, %d)", slot, channel, range));
    *gain = 500;
    *offset = -12;
    return 0;
}

int zmod4710_GetLibVersion(void) {
    record("zmod4710_GetLibVersion()");
    return 0x0ABC;
}

int zmod4710_GetLibDate(char *date) {
    record("zmod4710_GetLibDate()");
    static const char kDate[] = "Jan 02 2025";
    std::memcpy(date, kDate, sizeof kDate);
    return 0;
}

int zmod4710_GetFirmwareVersion(int slot, short *version) {
    record(call("zmod4710_GetFirmwareVersion(%d)", slot));
    *version = 7;
    return 0;
}

} // extern "C"
