// Built when the build names the module library's own header
// (ZMOD4710_VENDOR_HEADER): the vendor's declarations come first, then the
// tools' own, and a function whose parameters, result or calling convention
// differ is a conflicting redeclaration, so the build stops here.
#ifdef ZMOD4710_VENDOR_HEADER
#include ZMOD4710_VENDOR_HEADER
#endif
#include "zmod4710.h"
