/*
 * zmod4710.h - C interface of the analog-output module library.
 *
 * The module library is a shared library (libzmod4710.so, zmod4710.dll) that the
 * tools import at load time and call by these C names, so any library that offers
 * them serves without rebuilding the tools.
 *
 * Every function but zmod4710_GetLibVersion returns 0 for success.
 */
#ifndef KIT_ZMOD4710_H
#define KIT_ZMOD4710_H

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(ZMOD4710_BUILDING_LIBRARY)
#define ZMOD4710_API __declspec(dllexport)
#else
#define ZMOD4710_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define ZMOD4710_API __attribute__((visibility("default")))
#else
#define ZMOD4710_API
#endif

/*
 * The functions' calling convention, which must be the module library's own. On
 * ARM there is only one; on 32-bit x86, a library whose functions are __stdcall
 * needs ZMOD4710_CALL defined as __stdcall (the build's ZMOD4710_CALLING_CONVENTION).
 */
#ifndef ZMOD4710_CALL
#if defined(_MSC_VER)
#define ZMOD4710_CALL __cdecl
#else
#define ZMOD4710_CALL
#endif
#endif

/* Size of the buffer that zmod4710_GetLibDate fills, terminating zero included. */
#define ZMOD4710_LIB_DATE_SIZE 20

#ifdef __cplusplus
extern "C" {
#endif

ZMOD4710_API int ZMOD4710_CALL zmod4710_Init(int slot);
ZMOD4710_API int ZMOD4710_CALL zmod4710_WriteAO(int slot, int channel, short range, float value);
ZMOD4710_API int ZMOD4710_CALL zmod4710_SetPowerOnEnStatus(int slot, short mode);
ZMOD4710_API int ZMOD4710_CALL zmod4710_WritePowerOn_AO(int slot, int channel, short range,
                                                        float value);
ZMOD4710_API int ZMOD4710_CALL zmod4710_ReadAO_GainOffset(int slot, int channel, short range,
                                                          unsigned short *gain, short *offset);
ZMOD4710_API int ZMOD4710_CALL zmod4710_GetLibVersion(void);
ZMOD4710_API int ZMOD4710_CALL zmod4710_GetLibDate(char *date); /* caller's buffer of 20 bytes */
ZMOD4710_API int ZMOD4710_CALL zmod4710_GetFirmwareVersion(int slot, short *version);

#ifdef __cplusplus
}
#endif

#endif /* KIT_ZMOD4710_H */
