/* A vendor header in plain C, as some ship it: no extern "C" guards. */
int zmod4710_Init(int slot);
int zmod4710_WriteAO(int slot, int channel, short range, float value);
int zmod4710_SetPowerOnEnStatus(int slot, short mode);
int zmod4710_WritePowerOn_AO(int slot, int channel, short range, float value);
int zmod4710_ReadAO_GainOffset(int slot, int channel, short range, unsigned short *gain,
                               short *offset);
int zmod4710_GetLibVersion();
int zmod4710_GetLibDate(char *date);
int zmod4710_GetFirmwareVersion(int slot, short *version);
