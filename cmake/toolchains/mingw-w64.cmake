# Windows with MinGW-w64, for the machine that the including toolchain file
# names (mingw_triplet, mingw_processor, and mingw_architecture, x64 or x86);
# programs run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${mingw_processor})

# The POSIX threads flavour: GoogleTest needs std::mutex, which the win32 one lacks.
set(CMAKE_C_COMPILER ${mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triplet}-g++-posix)
# Link the compiler's own run-time libraries in, so a program needs no DLL beside
# it but the module library: wine, like a controller, has none of MinGW's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_RC_COMPILER ${mingw_triplet}-windres)

# Beside MinGW's import library of each DLL, one that MSVC's linker takes
# (NAME.lib), made by llvm-dlltool where CMake would run Visual Studio's lib.exe.
set(CMAKE_GNUtoMS ON CACHE BOOL "Make MSVC import libraries of DLLs")
set(CMAKE_GNUtoMS_LIB ${CMAKE_CURRENT_LIST_DIR}/lib-${mingw_architecture}.sh)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
