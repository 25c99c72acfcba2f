# Windows on x86-64, with MinGW-w64 (Debian: g++-mingw-w64-x86-64); programs run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The POSIX threads flavour: GoogleTest needs std::mutex, which the win32 one lacks.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
# Link the compiler's own run-time libraries in, so a program needs no DLL beside
# it but the module library: wine, like a controller, has none of MinGW's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Beside MinGW's import library of each DLL, one that MSVC's linker takes
# (NAME.lib), made by llvm-dlltool where CMake would run Visual Studio's lib.exe.
set(CMAKE_GNUtoMS ON CACHE BOOL "Make MSVC import libraries of DLLs")
set(CMAKE_GNUtoMS_LIB ${CMAKE_CURRENT_LIST_DIR}/lib-x64.sh)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
