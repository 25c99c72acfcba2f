# Windows on 32-bit x86, with MinGW-w64 (Debian: g++-mingw-w64-i686-posix); programs run
# under wine, 32-bit (Debian: wine32:i386).
set(mingw_triplet i686-w64-mingw32)
set(mingw_processor x86)
set(mingw_architecture x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# Floats computed as floats, in SSE registers, rather than in the x87's wider
# ones: a value is then the same wherever it is computed and stored.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
