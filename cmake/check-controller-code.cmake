# Proves that the code that runs on the controller builds with the old compilers
# found there: each source compiles as C++03 with every warning an error, and
# its objects call no heap and none of the C library's later additions.
#
#   cmake -DCOMPILER=... -DNM=... -DSOURCE_DIR=... -DWORK_DIR=... -P check-controller-code.cmake
cmake_minimum_required(VERSION 3.25)

foreach(variable COMPILER NM SOURCE_DIR WORK_DIR)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "${variable} is not set")
    endif()
endforeach()

set(folders kit power_on basic_info)
set(flags -std=c++03 -pedantic-errors -Wall -Wextra -Werror -fno-exceptions -fno-rtti)
foreach(folder ${folders})
    list(APPEND flags "-I${SOURCE_DIR}/${folder}")
endforeach()

# Undefined symbols that the controller's toolchain and run time would not give:
# the heap (malloc, operator new and delete), exceptions, and C99's additions to
# the C library.
set(denied_symbols
    malloc calloc realloc free _Znwm _Znwj _Znam _Znaj _ZdlPv _ZdaPv __cxa_throw
    __cxa_allocate_exception snprintf vsnprintf __snprintf_chk __vsnprintf_chk vscanf vfscanf
    vsscanf strtof strtold strtoll strtoull llabs lldiv atoll lround llround isblank
    fmemopen open_memstream getline getdelim)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(failures "")
foreach(folder ${folders})
    file(GLOB sources "${SOURCE_DIR}/${folder}/*.cpp")
    foreach(source ${sources})
        get_filename_component(name "${source}" NAME_WE)
        set(object "${WORK_DIR}/${folder}_${name}.o")
        execute_process(COMMAND "${COMPILER}" ${flags} -c "${source}" -o "${object}"
                        RESULT_VARIABLE compiled ERROR_VARIABLE messages)
        if(NOT compiled EQUAL 0)
            string(APPEND failures "${source} does not compile as C++03:\n${messages}\n")
            continue()
        endif()
        execute_process(COMMAND "${NM}" -u "${object}" OUTPUT_VARIABLE undefined
                        RESULT_VARIABLE listed)
        if(NOT listed EQUAL 0)
            message(FATAL_ERROR "${NM} could not list ${object}")
        endif()
        string(REGEX MATCHALL "[^ \n\t]+\n" symbols "${undefined}")
        foreach(symbol ${symbols})
            string(STRIP "${symbol}" symbol)
            # Drop a leading underscore that some object formats add, and the mangled
            # tails of operator delete's overloads.
            string(REGEX REPLACE "^_(_Z)" "\\1" bare "${symbol}")
            string(REGEX REPLACE "^(_Zd[la]Pv).*" "\\1" bare "${bare}")
            if(bare IN_LIST denied_symbols)
                string(APPEND failures "${source} calls ${symbol}\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(failures)
    message(FATAL_ERROR "${failures}")
endif()
message(STATUS "controller code: C++03 clean, no heap, no C99 library calls")
