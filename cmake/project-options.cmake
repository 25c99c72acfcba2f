option(ZMOD4710_BUILD_TESTS "Build the tests" ON)
set(ZMOD4710_LIBRARY "" CACHE FILEPATH
    "Module library to build the tools against; empty builds them against the simulated module")
option(ZMOD4710_STATIC_ANALYSIS "Run clang-tidy and cppcheck over the project's code as tests" OFF)
option(ZMOD4710_BUILD_FUZZERS "Build the libFuzzer targets (needs clang and -fsanitize=fuzzer-no-link)" OFF)
option(ZMOD4710_STATIC_CXX_RUNTIME
       "Link the C++ runtime into the tools, so they import only the module library and the C runtime" ON)

# Warnings for all of the project's own code; CI makes them errors with
# CMAKE_COMPILE_WARNING_AS_ERROR.
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion>)

# Code that runs on the controller builds with the old compilers found there:
# C++03, no exceptions, no run-time type information.
function(zmod4710_controller_code target)
    set_target_properties(${target} PROPERTIES CXX_STANDARD 98 CXX_STANDARD_REQUIRED ON
                                               CXX_EXTENSIONS OFF)
    target_compile_options(${target} PRIVATE
        $<$<CXX_COMPILER_ID:GNU,Clang>:-pedantic-errors -fno-exceptions -fno-rtti>)
    target_link_libraries(${target} PRIVATE project_warnings)
endfunction()

# A tool: a controller program that imports the module library and, beyond it,
# only the C runtime.
function(zmod4710_tool target)
    zmod4710_controller_code(${target})
    if(ZMOD4710_STATIC_CXX_RUNTIME AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
    endif()
    if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
        # RUNPATH rather than RPATH, so LD_LIBRARY_PATH can put another module library in place.
        target_link_options(${target} PRIVATE -Wl,--as-needed -Wl,--enable-new-dtags)
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    endif()
endfunction()

# The module library's file is libzmod4710.so, and on Windows zmod4710.dll, not
# MinGW's libzmod4710.dll: the name the tools import it by.
function(zmod4710_library_file_name target)
    if(WIN32)
        set_target_properties(${target} PROPERTIES PREFIX "")
    endif()
endfunction()
