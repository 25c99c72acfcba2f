# Windows on 32-bit x86, with MinGW-w64 (Debian: g++-mingw-w64-i686-posix); programs run
# under wine, 32-bit (Debian: wine32:i386).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

# The POSIX threads flavour: GoogleTest needs std::mutex, which the win32 one lacks.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
# Link the compiler's own run-time libraries in, so a program needs no DLL beside
# it but the module library: wine, like a controller, has none of MinGW's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# Floats computed as floats, in SSE registers, rather than in the x87's wider
# ones: a value is then the same wherever it is computed and stored.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# Beside MinGW's import library of each DLL, one that MSVC's linker takes
# (NAME.lib), made by llvm-dlltool where CMake would run Visual Studio's lib.exe.
set(CMAKE_GNUtoMS ON CACHE BOOL "Make MSVC import libraries of DLLs")
set(CMAKE_GNUtoMS_LIB ${CMAKE_CURRENT_LIST_DIR}/lib-x86.sh)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
