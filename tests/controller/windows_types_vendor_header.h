/* A vendor header as Windows CE SDKs ship them: Windows types, <windows.h> taken
 * as included already, no extern "C" guards and no __declspec(dllimport). The
 * calling convention, ZMOD4710_VENDOR_CALL, is the compiler's default unless the
 * test names another. */
#ifndef ZMOD4710_VENDOR_CALL
#define ZMOD4710_VENDOR_CALL
#endif
INT ZMOD4710_VENDOR_CALL zmod4710_Init(INT slot);
INT ZMOD4710_VENDOR_CALL zmod4710_WriteAO(INT slot, INT channel, SHORT range, FLOAT value);
INT ZMOD4710_VENDOR_CALL zmod4710_SetPowerOnEnStatus(INT slot, SHORT mode);
INT ZMOD4710_VENDOR_CALL zmod4710_WritePowerOn_AO(INT slot, INT channel, SHORT range, FLOAT value);
INT ZMOD4710_VENDOR_CALL zmod4710_ReadAO_GainOffset(INT slot, INT channel, SHORT range, WORD *gain,
                                                    SHORT *offset);
INT ZMOD4710_VENDOR_CALL zmod4710_GetLibVersion(void);
INT ZMOD4710_VENDOR_CALL zmod4710_GetLibDate(CHAR *date);
INT ZMOD4710_VENDOR_CALL zmod4710_GetFirmwareVersion(INT slot, SHORT *version);
