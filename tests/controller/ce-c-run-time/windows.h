/* Only the basic types that module vendors' headers use. */
#ifndef CE_WINDOWS_H
#define CE_WINDOWS_H
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned long DWORD;
typedef char CHAR;
typedef short SHORT;
typedef int INT;
typedef unsigned int UINT;
typedef long LONG;
typedef int BOOL;
typedef float FLOAT;
#endif
