// Built when the build names the module library's own header
// (ZMOD4710_VENDOR_HEADER): the vendor's declarations come first, then the
// tools' own, and a function whose parameters, result or calling convention
// differ is a conflicting redeclaration, so the build stops here.
//
// The vendor's header is taken as vendors ship them, which makes no difference
// to how a function is called: plain C without extern "C" guards; Windows types
// (WORD, SHORT, INT) used without including <windows.h>, which Windows CE SDK
// headers expect their includer to have done; and functions declared without
// __declspec(dllimport), which the tools' declarations add, and which MSVC
// (C4273) and clang would otherwise warn of, an error where warnings are errors.
#ifdef ZMOD4710_VENDOR_HEADER
#ifdef _WIN32
#include <windows.h>
#endif
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wdll-attribute-on-redeclaration"
#elif defined(_MSC_VER)
#pragma warning(disable : 4273)
#endif
extern "C" {
#include ZMOD4710_VENDOR_HEADER
}
#endif
#include "zmod4710.h"
