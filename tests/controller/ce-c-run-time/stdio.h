#ifndef CE_STDIO_H
#define CE_STDIO_H
#include <stdarg.h>
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
typedef struct _iobuf FILE;
typedef long fpos_t;
#define EOF (-1)
#define BUFSIZ 512
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#define _IOFBF 0
#define _IOLBF 0x40
#define _IONBF 4
extern FILE *stdin;
extern FILE *stdout;
extern FILE *stderr;
FILE *fopen(const char *name, const char *mode);
int fclose(FILE *file);
int fflush(FILE *file);
int fgetc(FILE *file);
char *fgets(char *text, int size, FILE *file);
int fputc(int c, FILE *file);
int fputs(const char *text, FILE *file);
size_t fread(void *data, size_t size, size_t count, FILE *file);
size_t fwrite(const void *data, size_t size, size_t count, FILE *file);
int getc(FILE *file);
int getchar(void);
int putc(int c, FILE *file);
int putchar(int c);
int puts(const char *text);
int ungetc(int c, FILE *file);
int feof(FILE *file);
int ferror(FILE *file);
void clearerr(FILE *file);
int fseek(FILE *file, long offset, int origin);
long ftell(FILE *file);
void rewind(FILE *file);
int fgetpos(FILE *file, fpos_t *position);
int fsetpos(FILE *file, const fpos_t *position);
int setvbuf(FILE *file, char *buffer, int mode, size_t size);
int printf(const char *format, ...);
int fprintf(FILE *file, const char *format, ...);
int sprintf(char *text, const char *format, ...);
int _snprintf(char *text, size_t size, const char *format, ...);
int vprintf(const char *format, va_list arguments);
int vfprintf(FILE *file, const char *format, va_list arguments);
int vsprintf(char *text, const char *format, va_list arguments);
int _vsnprintf(char *text, size_t size, const char *format, va_list arguments);
int scanf(const char *format, ...);
int fscanf(FILE *file, const char *format, ...);
int sscanf(const char *text, const char *format, ...);
#ifdef __cplusplus
}
#endif
#endif
