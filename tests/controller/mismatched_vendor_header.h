/* A vendor header that differs from kit/zmod4710.h in one parameter's type. */
#ifdef __cplusplus
extern "C" {
#endif
int zmod4710_WriteAO(int slot, int channel, short range, double value);
#ifdef __cplusplus
}
#endif
