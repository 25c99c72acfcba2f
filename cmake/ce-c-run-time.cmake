# What the code that runs on the controller may call: the C run time of Windows
# Embedded Compact 7 as its documentation gives it, less the heap (the tools
# keep no dynamic memory), and the module library. The headers in
# tests/controller/ce-c-run-time declare the same. Absent on the controller and
# so not here: errno, getenv, setenv and system (there is no environment),
# signal and raise, setlocale, the time functions, POSIX calls; and what Visual
# Studio 2008 lacks: <stdint.h>, snprintf and the rest of C99's additions.
set(ZMOD4710_CE_C_RUN_TIME
    # <stdio.h>
    stdin stdout stderr fopen fclose fflush fgetc fgets fputc fputs fread fwrite getc getchar
    putc putchar puts ungetc feof ferror clearerr fseek ftell rewind fgetpos fsetpos setvbuf
    printf fprintf sprintf _snprintf vprintf vfprintf vsprintf _vsnprintf scanf fscanf sscanf
    # <ctype.h>
    isalnum isalpha iscntrl isdigit isgraph islower isprint ispunct isspace isupper isxdigit
    tolower toupper
    # <string.h>
    memchr memcmp memcpy memmove memset strcat strchr strcmp strcpy strcspn strlen strncat
    strncmp strncpy strpbrk strrchr strspn strstr strtok _stricmp _strnicmp
    # <stdlib.h>, without malloc, calloc, realloc and free
    abs labs div ldiv atoi atol atof strtod strtol strtoul qsort bsearch rand srand exit abort
    # <math.h>
    acos asin atan atan2 ceil cos cosh exp fabs floor fmod frexp ldexp log log10 modf pow sin
    sinh sqrt tan tanh)

# What compilers call on the code's behalf: a pure virtual function's slot
# (MSVC's C run time, and GCC's), and MSVC's helpers for division on ARM and for
# large stack frames.
set(ZMOD4710_CE_COMPILER_SUPPORT _purecall __rt_sdiv __rt_udiv __rt_sdiv64 __rt_udiv64 __chkstk)
set(ZMOD4710_GCC_SUPPORT __cxa_pure_virtual)

# The module library's functions, called directly or, declared dllimport, through
# the import table.
set(ZMOD4710_MODULE_LIBRARY_PATTERN "^(__imp_)?zmod4710_[A-Za-z_]+$")
