# Runs the compiler command given after this script's name, which must fail
# (any status but 0) with an error that PATTERN matches: a pattern met by a
# compile that succeeded proves nothing.
#
#   cmake -DPATTERN=REGEX -P expect-compile-error.cmake COMPILER ARGUMENTS...

set(command "")
set(after_script OFF)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(index RANGE ${last})
    if(after_script)
        list(APPEND command "${CMAKE_ARGV${index}}")
    elseif(CMAKE_ARGV${index} MATCHES "expect-compile-error\\.cmake$")
        set(after_script ON)
    endif()
endforeach()
execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE output
                ERROR_VARIABLE errors)
if(status EQUAL 0)
    message(FATAL_ERROR "the compile succeeded, where it should stop with: ${PATTERN}")
endif()
if(NOT "${output}${errors}" MATCHES "${PATTERN}")
    message(FATAL_ERROR "the compile failed otherwise than with ${PATTERN}:\n${output}${errors}")
endif()
