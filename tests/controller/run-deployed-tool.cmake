# Runs a deployed tool with a transcript's input and checks its exit status 0,
# its whole output and the calls that the stand-in vendor library logged.
#
#   cmake -DPROGRAM=... [-DLAUNCHER=...] -DWINDOWS=ON|OFF -DINPUT=...
#         -DEXPECTED_OUTPUT=... -DEXPECTED_CALLS=... -DWORK_DIR=... -P run-deployed-tool.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(log "${WORK_DIR}/calls.log")
# A Windows program under wine reaches this machine's files through drive Z:.
if(WINDOWS)
    set(log_for_program "Z:${log}")
else()
    set(log_for_program "${log}")
endif()

# The program finds the module library beside itself, as on the controller,
# never through a search path of this machine.
execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH "ZMOD4710_CALL_LOG=${log_for_program}"
            ${LAUNCHER} "${PROGRAM}"
    INPUT_FILE "${INPUT}" OUTPUT_FILE "${WORK_DIR}/output" ERROR_VARIABLE errors
    RESULT_VARIABLE status TIMEOUT 60)

set(failures "")
if(NOT status STREQUAL "0")
    string(APPEND failures "exit status ${status}, not 0 (standard error: ${errors})\n")
endif()

# Compared as files, byte for byte: reading a file into a string drops its "\r".
file(READ "${EXPECTED_OUTPUT}" expected_output)
# The Windows C run time writes each line end as "\r\n".
if(WINDOWS)
    string(REPLACE "\n" "\r\n" expected_output "${expected_output}")
endif()
file(WRITE "${WORK_DIR}/expected_output" "${expected_output}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK_DIR}/output"
                        "${WORK_DIR}/expected_output" RESULT_VARIABLE output_differs)
if(NOT output_differs EQUAL 0)
    file(READ "${WORK_DIR}/output" output)
    string(APPEND failures "output (in ${WORK_DIR}/output):\n${output}\nexpected:\n${expected_output}\n")
endif()

set(calls "")
if(EXISTS "${log}")
    file(READ "${log}" calls)
endif()
file(READ "${EXPECTED_CALLS}" expected_calls)
if(NOT calls STREQUAL expected_calls)
    string(APPEND failures "calls:\n${calls}\nexpected:\n${expected_calls}\n")
endif()

if(failures)
    message(FATAL_ERROR "${PROGRAM} < ${INPUT}:\n${failures}")
endif()
