// Binds ModuleLibrary to the module library imported at load time.
#include "module_library.h"

#include "zmod4710.h"

int LinkedModuleLibrary::Init(int slot) {
    return zmod4710_Init(slot);
}

int LinkedModuleLibrary::WriteAO(int slot, int channel, short range, float value) {
    return zmod4710_WriteAO(slot, channel, range, value);
}

int LinkedModuleLibrary::SetPowerOnEnStatus(int slot, short mode) {
    return zmod4710_SetPowerOnEnStatus(slot, mode);
}

int LinkedModuleLibrary::WritePowerOn_AO(int slot, int channel, short range, float value) {
    return zmod4710_WritePowerOn_AO(slot, channel, range, value);
}

int LinkedModuleLibrary::ReadAO_GainOffset(int slot, int channel, short range, unsigned short *gain,
                                           short *offset) {
    return zmod4710_ReadAO_GainOffset(slot, channel, range, gain, offset);
}

int LinkedModuleLibrary::GetLibVersion() {
    return zmod4710_GetLibVersion();
}

int LinkedModuleLibrary::GetLibDate(char *date) {
    return zmod4710_GetLibDate(date);
}

int LinkedModuleLibrary::GetFirmwareVersion(int slot, short *version) {
    return zmod4710_GetFirmwareVersion(slot, version);
}
