#ifndef RECORDING_FAKE_H
#define RECORDING_FAKE_H

#ifdef __cplusplus
extern "C" {
#endif

int recording_fake_write(int slot, int channel, short range, float value);

#ifdef __cplusplus
}
#endif

#endif
