#ifndef CE_STDDEF_H
#define CE_STDDEF_H
typedef unsigned int size_t;
typedef int ptrdiff_t;
#define NULL 0
#define offsetof(type, member) __builtin_offsetof(type, member)
#endif
