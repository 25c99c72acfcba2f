# Configures the controller build as CMake configures it for MSVC 9 and Windows
# CE 7 on ARM, with Ninja and stand-ins for cl, link, lib, mt and rc that only
# record, and checks the command lines it would run: each compile without
# run-time type information or exception handling and with the static C run
# time; each program linked with the entry point main needs, and with no
# library but the module library, coredll.lib and corelibc.lib (besides the
# project's own static ones), as an SDK for a headless system image may have
# no other.
#
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -P check-ce-command-lines.cmake
cmake_minimum_required(VERSION 3.25)

foreach(variable SOURCE_DIR WORK_DIR)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "${variable} is not set")
    endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/tools")
foreach(tool cl link lib mt rc)
    file(WRITE "${WORK_DIR}/tools/${tool}" "#!/bin/sh\necho \"${tool} $*\" >> \"$0.log\"\n")
    file(CHMOD "${WORK_DIR}/tools/${tool}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endforeach()
file(WRITE "${WORK_DIR}/sdk/zmod4710.lib" "")

execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/build" -G Ninja
            -DCMAKE_SYSTEM_NAME=WindowsCE -DCMAKE_SYSTEM_VERSION=7.0
            -DCMAKE_SYSTEM_PROCESSOR=ARMV4I -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_CXX_COMPILER=${WORK_DIR}/tools/cl -DCMAKE_CXX_COMPILER_ID=MSVC
            -DCMAKE_CXX_COMPILER_VERSION=15.0.30729 -DCMAKE_CXX_COMPILER_FORCED=ON
            -DMSVC_CXX_ARCHITECTURE_ID=ARMV4I -DCMAKE_CXX_COMPILER_ARCHITECTURE_ID=ARMV4I
            -DCMAKE_LINKER=${WORK_DIR}/tools/link -DCMAKE_AR=${WORK_DIR}/tools/lib
            -DCMAKE_MT=${WORK_DIR}/tools/mt -DCMAKE_RC_COMPILER=${WORK_DIR}/tools/rc
            -DZMOD4710_LIBRARY=${WORK_DIR}/sdk/zmod4710.lib
    RESULT_VARIABLE configured OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT configured EQUAL 0)
    message(FATAL_ERROR "the controller build does not configure for Windows CE:\n${output}")
endif()
execute_process(COMMAND ninja -C "${WORK_DIR}/build" -t commands
                OUTPUT_VARIABLE commands RESULT_VARIABLE listed)
if(NOT listed EQUAL 0)
    message(FATAL_ERROR "ninja cannot list the build's commands")
endif()
string(REPLACE ";" "\\;" commands "${commands}")
string(REPLACE "\n" ";" commands "${commands}")

set(failures "")
set(compiles 0)
set(links 0)
foreach(command ${commands})
    if(command MATCHES "/tools/cl .* -c ")
        math(EXPR compiles "${compiles} + 1")
        if(NOT command MATCHES " /GR- " OR command MATCHES " [-/]EH"
           OR NOT command MATCHES " [-/]MT ")
            string(APPEND failures "a compile without /GR- and /MT, or with /EH:\n  ${command}\n")
        endif()
    elseif(command MATCHES "/tools/link .*/out:[^ ]*(ao_power_on|ao_basic_info|ao_loop_check)\\.exe")
        math(EXPR links "${links} + 1")
        string(TOLOWER "${command}" lowered)
        string(REGEX MATCHALL "/entry:[a-z]+" entries "${lowered}")
        if(NOT entries STREQUAL "/entry:mainacrtstartup")
            string(APPEND failures "a link without exactly /entry:mainACRTStartup:\n  ${command}\n")
        endif()
        # The libraries linked are the words that name a .lib and are no option.
        separate_arguments(libraries UNIX_COMMAND "${lowered}")
        list(FILTER libraries INCLUDE REGEX "\\.lib$")
        list(FILTER libraries EXCLUDE REGEX "^/[a-z]+:")
        list(TRANSFORM libraries REPLACE ".*/" "")
        list(REMOVE_ITEM libraries ao_kit.lib ao_kit_linked.lib power_on_logic.lib
                                   basic_info_logic.lib loop_check_logic.lib)
        list(SORT libraries)
        if(NOT libraries STREQUAL "coredll.lib;corelibc.lib;zmod4710.lib")
            string(APPEND failures "a link with libraries ${libraries}, not the module library, "
                                   "coredll.lib and corelibc.lib alone:\n  ${command}\n")
        endif()
    endif()
endforeach()
if(compiles EQUAL 0 OR NOT links EQUAL 3)
    string(APPEND failures "found ${compiles} compiles and ${links} links of the tools in:\n"
                           "${commands}\n")
endif()

# CMake's own check that the compiler links a program uses the same libraries.
file(STRINGS "${WORK_DIR}/build/CMakeCache.txt" standard_libraries
     REGEX "^CMAKE_CXX_STANDARD_LIBRARIES:")
if(NOT standard_libraries MATCHES "=coredll.lib corelibc.lib$")
    string(APPEND failures "CMAKE_CXX_STANDARD_LIBRARIES is ${standard_libraries}\n")
endif()

if(failures)
    message(FATAL_ERROR "${failures}")
endif()
message(STATUS "Windows CE build: ${compiles} compiles with /GR- /MT and no /EH; both tools linked "
               "with /entry:mainACRTStartup, the module library, coredll.lib and corelibc.lib")
