#ifndef CE_STRING_H
#define CE_STRING_H
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
void *memchr(const void *data, int c, size_t size);
int memcmp(const void *a, const void *b, size_t size);
void *memcpy(void *to, const void *from, size_t size);
void *memmove(void *to, const void *from, size_t size);
void *memset(void *data, int c, size_t size);
char *strcat(char *to, const char *from);
char *strchr(const char *text, int c);
int strcmp(const char *a, const char *b);
char *strcpy(char *to, const char *from);
size_t strcspn(const char *text, const char *reject);
size_t strlen(const char *text);
char *strncat(char *to, const char *from, size_t size);
int strncmp(const char *a, const char *b, size_t size);
char *strncpy(char *to, const char *from, size_t size);
char *strpbrk(const char *text, const char *accept);
char *strrchr(const char *text, int c);
size_t strspn(const char *text, const char *accept);
char *strstr(const char *text, const char *part);
char *strtok(char *text, const char *separators);
int _stricmp(const char *a, const char *b);
int _strnicmp(const char *a, const char *b, size_t size);
#ifdef __cplusplus
}
#endif
#endif
