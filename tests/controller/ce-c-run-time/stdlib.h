#ifndef CE_STDLIB_H
#define CE_STDLIB_H
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
typedef struct {
    int quot;
    int rem;
} div_t;
typedef struct {
    long quot;
    long rem;
} ldiv_t;
#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1
#define RAND_MAX 0x7fff
int abs(int value);
long labs(long value);
div_t div(int numerator, int denominator);
ldiv_t ldiv(long numerator, long denominator);
int atoi(const char *text);
long atol(const char *text);
double atof(const char *text);
double strtod(const char *text, char **end);
long strtol(const char *text, char **end, int base);
unsigned long strtoul(const char *text, char **end, int base);
void qsort(void *items, size_t count, size_t size, int (*compare)(const void *, const void *));
void *bsearch(const void *key, const void *items, size_t count, size_t size,
              int (*compare)(const void *, const void *));
int rand(void);
void srand(unsigned int seed);
void exit(int status);
void abort(void);
void *malloc(size_t size);
void *calloc(size_t count, size_t size);
void *realloc(void *data, size_t size);
void free(void *data);
#ifdef __cplusplus
}
#endif
#endif
