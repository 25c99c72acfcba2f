# Windows on x86-64, with MinGW-w64 (Debian: g++-mingw-w64-x86-64); programs run under wine.
set(mingw_triplet x86_64-w64-mingw32)
set(mingw_processor x86_64)
set(mingw_architecture x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
