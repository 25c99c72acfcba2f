# Proves that the code that runs on the controller builds with the old compilers
# found there: each source compiles with every warning an error, and its objects
# call nothing but the module library and the C run time that the controller has
# (ce-c-run-time.cmake). Two ways:
#
#   FLAVOUR=native  the machine's g++ as C++03, -pedantic-errors;
#   FLAVOUR=ce      clang playing MSVC 9 for ARM Windows CE (_MSC_VER 1500, _WIN32,
#                   _WIN32_WCE 0x700, UNDER_CE), C++98 without run-time type
#                   information or exceptions, against CE_HEADERS alone, so that
#                   the code's Windows and CE branches compile as the controller's
#                   compiler would see them.
#
#   cmake -DFLAVOUR=native|ce -DCOMPILER=... -DNM=... -DSOURCE_DIR=... -DWORK_DIR=...
#         [-DCE_HEADERS=...] -P check-controller-code.cmake
cmake_minimum_required(VERSION 3.25)

foreach(variable FLAVOUR COMPILER NM SOURCE_DIR WORK_DIR)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "${variable} is not set")
    endif()
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/ce-c-run-time.cmake)

set(folders kit power_on basic_info loop_check)
set(allowed ${ZMOD4710_CE_C_RUN_TIME})
if(FLAVOUR STREQUAL "native")
    set(flags -std=c++03 -pedantic-errors -Wall -Wextra -Werror -fno-exceptions -fno-rtti)
    # The console ignores SIGPIPE where there is one, which Windows has not.
    list(APPEND allowed ${ZMOD4710_GCC_SUPPORT} signal)
elseif(FLAVOUR STREQUAL "ce")
    set(flags --target=thumbv7-pc-windows-msvc -fms-compatibility-version=15.00
              -D_WIN32_WCE=0x700 -DUNDER_CE -std=c++98 -fno-rtti -fno-exceptions
              -Wall -Wextra -Werror -nostdinc -isystem ${CE_HEADERS})
    list(APPEND allowed ${ZMOD4710_CE_COMPILER_SUPPORT})
else()
    message(FATAL_ERROR "FLAVOUR is native or ce, not ${FLAVOUR}")
endif()
foreach(folder ${folders})
    list(APPEND flags "-I${SOURCE_DIR}/${folder}")
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(failures "")
set(objects "")
foreach(folder ${folders})
    file(GLOB sources "${SOURCE_DIR}/${folder}/*.cpp")
    foreach(source ${sources})
        get_filename_component(name "${source}" NAME_WE)
        set(object "${WORK_DIR}/${folder}_${name}.o")
        execute_process(COMMAND "${COMPILER}" ${flags} -c "${source}" -o "${object}"
                        RESULT_VARIABLE compiled ERROR_VARIABLE messages)
        if(compiled EQUAL 0)
            list(APPEND objects "${object}")
            set(source_of_${folder}_${name} "${source}")
        else()
            string(APPEND failures "${source} does not compile (${FLAVOUR}):\n${messages}\n")
        endif()
    endforeach()
endforeach()

# A source that does not compile leaves the others' calls to it undefined.
if(failures)
    message(FATAL_ERROR "${failures}")
endif()

# The symbols of an object, each on a line of its own.
function(symbols_of object option result)
    execute_process(COMMAND "${NM}" ${option} "${object}" OUTPUT_VARIABLE listing
                    RESULT_VARIABLE listed)
    if(NOT listed EQUAL 0)
        message(FATAL_ERROR "${NM} could not list ${object}")
    endif()
    string(REGEX MATCHALL "[^ \n\t]+\n" symbols "${listing}")
    list(TRANSFORM symbols STRIP)
    set(${result} ${symbols} PARENT_SCOPE)
endfunction()

# What the controller code defines itself may be called from any of its objects.
set(defined "")
foreach(object ${objects})
    symbols_of("${object}" --defined-only symbols)
    list(APPEND defined ${symbols})
endforeach()

foreach(object ${objects})
    get_filename_component(name "${object}" NAME_WE)
    symbols_of("${object}" -u symbols)
    foreach(symbol ${symbols})
        if(NOT symbol IN_LIST allowed AND NOT symbol IN_LIST defined
           AND NOT symbol MATCHES "${ZMOD4710_MODULE_LIBRARY_PATTERN}")
            string(APPEND failures "${source_of_${name}} needs ${symbol}, which is neither the "
                   "module library nor in the controller's C run time (ce-c-run-time.cmake)\n")
        endif()
    endforeach()
endforeach()

if(failures)
    message(FATAL_ERROR "${failures}")
endif()
message(STATUS "controller code (${FLAVOUR}): compiles, and calls only the module library and "
               "the controller's C run time")
