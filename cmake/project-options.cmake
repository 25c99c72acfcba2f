set(ZMOD4710_LIBRARY "" CACHE FILEPATH
    "Module library to build the tools against (an import library on Windows): the controller build. Empty builds everything against the simulated module")
if(ZMOD4710_LIBRARY)
    set(tests_by_default OFF)
else()
    set(tests_by_default ON)
endif()
option(ZMOD4710_BUILD_TESTS
       "Build the tests; in the controller build, only those that run the tools on the named library"
       ${tests_by_default})
option(ZMOD4710_STATIC_ANALYSIS "Run clang-tidy and cppcheck over the project's code as tests" OFF)
option(ZMOD4710_BUILD_BENCHMARKS "Build zmod4710_bench, which measures what the simulated module's calls cost" OFF)
option(ZMOD4710_BUILD_FUZZERS "Build the libFuzzer targets (needs clang and -fsanitize=fuzzer-no-link)" OFF)
option(ZMOD4710_STATIC_CXX_RUNTIME
       "Link the C++ runtime into the tools, so they import only the module library and the C runtime" ON)
set(ZMOD4710_CALLING_CONVENTION "" CACHE STRING
    "Calling convention of the module library's functions when it is not the compiler's default (for example __stdcall)")
set(ZMOD4710_VENDOR_HEADER "" CACHE FILEPATH
    "The module library's own header: when set, the build checks kit/zmod4710.h against it")

# The controller's compiler (Visual Studio 2008 for a Windows CE SDK) builds the
# tools without exception handling, which CMake's default flags turn on, and with
# the C run time linked in, so that a tool is one file beside the module library.
# (Run-time type information is turned off below: CMake's flags no longer hold /GR.)
if(ZMOD4710_LIBRARY AND MSVC)
    string(REGEX REPLACE "(^| )/(EHsc|EHs|EHa)( |$)" " " CMAKE_CXX_FLAGS "${CMAKE_CXX_FLAGS}")
    set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()

# Warnings for all of the project's own code; CI makes them errors with
# CMAKE_COMPILE_WARNING_AS_ERROR.
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion>
    $<$<CXX_COMPILER_ID:MSVC>:/W3>)

# Code that runs on the controller builds with the old compilers found there:
# C++03, no exceptions, no run-time type information (without it, the vtable of
# ModuleLibrary needs no type_info from a library a CE SDK may not link). MSVC's
# C run time calls fprintf and the like deprecated; that is not an error here.
function(zmod4710_controller_code target)
    set_target_properties(${target} PROPERTIES CXX_STANDARD 98 CXX_STANDARD_REQUIRED ON
                                               CXX_EXTENSIONS OFF)
    target_compile_options(${target} PRIVATE
        $<$<CXX_COMPILER_ID:GNU,Clang>:-pedantic-errors -fno-exceptions -fno-rtti>
        $<$<CXX_COMPILER_ID:MSVC>:/GR->)
    target_compile_definitions(${target} PRIVATE $<$<CXX_COMPILER_ID:MSVC>:_CRT_SECURE_NO_WARNINGS>)
    if(ZMOD4710_CALLING_CONVENTION)
        target_compile_definitions(${target} PUBLIC ZMOD4710_CALL=${ZMOD4710_CALLING_CONVENTION})
    endif()
    target_link_libraries(${target} PRIVATE project_warnings)
endfunction()

# A tool: a controller program that imports the module library and, beyond it,
# only the C runtime.
function(zmod4710_tool target)
    zmod4710_controller_code(${target})
    if(ZMOD4710_STATIC_CXX_RUNTIME AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
    endif()
    # On Windows CE, main is entered through mainACRTStartup, which CMake gives
    # console programs of the Makefile and Ninja generators. A Visual Studio
    # project chooses its own entry point, which could be the wide-character
    # mainWCRTStartup when UNICODE is defined: there it is said on the program.
    if(CMAKE_GENERATOR MATCHES "^Visual Studio")
        target_link_options(${target} PRIVATE
            $<$<AND:$<CXX_COMPILER_ID:MSVC>,$<PLATFORM_ID:WindowsCE>>:/ENTRY:mainACRTStartup>)
    endif()
    if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
        # RUNPATH rather than RPATH, so LD_LIBRARY_PATH can put another module library in place.
        target_link_options(${target} PRIVATE
            $<$<CXX_COMPILER_ID:GNU,Clang>:-Wl,--as-needed -Wl,--enable-new-dtags>)
        # A tool finds the module library where the install puts it: in lib/ beside
        # bin/, or in the controller bundle beside the tool itself. The build tree
        # has the same layout, so built tools search there too, and nowhere else:
        # a build RUNPATH would name this machine's folders, and CMake pads it with
        # an empty entry, which is the current folder.
        if(ZMOD4710_LIBRARY)
            set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
        else()
            set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
        endif()
        set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
    endif()
endfunction()

# A test that program imports the module library and the C run time, and
# nothing else, read from the program file as this platform's linker wrote it.
function(zmod4710_add_imports_test test program)
    if(WIN32)
        set(arguments -DLISTER=${CMAKE_OBJDUMP} -DFORMAT=pe)
    else()
        set(arguments -DLISTER=${CMAKE_READELF} -DFORMAT=elf)
    endif()
    add_test(NAME ${test}
             COMMAND ${CMAKE_COMMAND} -DPROGRAM=${program} ${arguments}
                     -P ${PROJECT_SOURCE_DIR}/cmake/check-imports.cmake)
endfunction()

# The module library's file is libzmod4710.so, and on Windows zmod4710.dll, not
# MinGW's libzmod4710.dll: the name the tools import it by. Its import libraries
# are zmod4710.dll.a for MinGW and zmod4710.lib for MSVC.
function(zmod4710_library_file_name target)
    if(WIN32)
        set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "")
    endif()
endfunction()
