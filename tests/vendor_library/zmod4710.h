/*
 * zmod4710.h - the stand-in vendor's header for its module library.
 *
 * Written as a vendor's SDK would ship it, apart from the tools' own header in
 * kit/, so that a build can check the two against each other.
 */
#ifndef STANDIN_VENDOR_ZMOD4710_H
#define STANDIN_VENDOR_ZMOD4710_H

#if defined(_WIN32)
#if defined(STANDIN_BUILDING_DLL)
#define STANDIN_EXPORT __declspec(dllexport)
#else
#define STANDIN_EXPORT __declspec(dllimport)
#endif
#else
#define STANDIN_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

STANDIN_EXPORT int zmod4710_Init(int slot);
STANDIN_EXPORT int zmod4710_WriteAO(int slot, int channel, short range, float value);
STANDIN_EXPORT int zmod4710_SetPowerOnEnStatus(int slot, short mode);
STANDIN_EXPORT int zmod4710_WritePowerOn_AO(int slot, int channel, short range, float value);
STANDIN_EXPORT int zmod4710_ReadAO_GainOffset(int slot, int channel, short range,
                                              unsigned short *gain, short *offset);
STANDIN_EXPORT int zmod4710_GetLibVersion(void);
STANDIN_EXPORT int zmod4710_GetLibDate(char *date);
STANDIN_EXPORT int zmod4710_GetFirmwareVersion(int slot, short *version);

#ifdef __cplusplus
}
#endif

#endif
