# drive_channel tested as a program of its own, on a backplane that zmod4710-sim
# arranges in a state file of the test's own: a ZM-4710 in slot 3 and none in
# slot 0. Each step's exit status and output are checked, and then what the
# module holds.
#
#   cmake -DSIM=zmod4710-sim -DPROGRAM=drive_channel -DSTATE=FILE [-DEMULATOR=wine]
#         -P drive_channel_program_test.cmake
#
# EMULATOR, when given, runs each program (Windows programs under wine).

set(ENV{ZMOD4710_SIM_STATE} "${STATE}")
file(REMOVE "${STATE}")

# Runs the command in ARGN; it must exit with status and print what pattern
# matches, its lines ended as on any system.
function(expect status pattern)
    execute_process(COMMAND ${EMULATOR} ${ARGN} RESULT_VARIABLE got OUTPUT_VARIABLE output
                    ERROR_VARIABLE errors)
    string(REPLACE "\r\n" "\n" output "${output}")
    if(NOT got STREQUAL status OR NOT output MATCHES "${pattern}")
        message(FATAL_ERROR "${ARGN} exited with ${got} (not ${status}) and printed:\n"
                            "${output}${errors}\nwhich should match: ${pattern}")
    endif()
endfunction()

expect(0 "^Slot 3: ZM-4710 inserted, firmware 3\n$" "${SIM}" insert 3)
expect(0 "^Slot 0: ZM-4710 removed\n$" "${SIM}" remove 0)
expect(0 "^slot 3 channel 0: 12 mA, gain [0-9]+, offset -?[0-9]+\n$" "${PROGRAM}")
expect(0 "\nSlot 3: ZM-4710[^\n]*\n[^\n]*\n  0   4 ~ 20mA +12.0000 mA " "${SIM}" show)
expect(0 "^Slot 3: ZM-4710 removed\n$" "${SIM}" remove 3)
expect(1 "^$" "${PROGRAM}")
