# Running the test suite of a build for another machine on this one.
#
# Windows programs run under wine, in a wine prefix of the build's own. Wine's
# server and the prefix are started once, before the tests, with all their
# output in a log, and stopped after them: started by a test instead, wine's
# background processes would hold the test's output open.

# What run-under-wine.sh exits with when the programs cannot run here.
set(ZMOD4710_SKIPPED 77)

if(CMAKE_CROSSCOMPILING AND WIN32)
    # Wine's loader for the build's machine, started itself: Debian's wine
    # wrapper starts the 32-bit loader whenever it is installed, also for a
    # 64-bit program, and a kernel that runs no 32-bit program cannot start it.
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(loader wine64)
    else()
        set(loader wine)
    endif()
    # Looked for at each configure, not kept: a loader installed or removed
    # since is seen.
    unset(WINE_LOADER CACHE)
    find_program(WINE_LOADER ${loader} PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CACHE)
    set(loader_installed ${WINE_LOADER})
    find_program(WINE_LOADER ${loader} NO_CACHE REQUIRED)
    find_program(WINESERVER wineserver REQUIRED)

    # A 32-bit build's programs run only where the kernel runs 32-bit programs
    # and 32-bit wine is installed; elsewhere every test that runs one is
    # skipped, saying why, and the others (the build itself, the files it
    # makes) are all that is proved.
    set(ZMOD4710_PROGRAMS_CANNOT_RUN "")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        execute_process(COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/runs-32bit-programs.sh
                        RESULT_VARIABLE runs_32bit_programs)
        if(NOT runs_32bit_programs EQUAL 0)
            set(ZMOD4710_PROGRAMS_CANNOT_RUN "this machine's kernel runs no 32-bit programs")
        elseif(NOT loader_installed)
            set(ZMOD4710_PROGRAMS_CANNOT_RUN
                "32-bit wine is not installed on this machine (Debian's wine32:i386)")
        endif()
        if(ZMOD4710_PROGRAMS_CANNOT_RUN)
            message(NOTICE "The tests that run this build's programs are skipped: "
                           "${ZMOD4710_PROGRAMS_CANNOT_RUN}")
        endif()
    endif()

    set(ZMOD4710_WINE_PREFIX "${PROJECT_BINARY_DIR}/wine-prefix")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/run-under-wine.sh.in
                   ${PROJECT_BINARY_DIR}/run-under-wine.sh @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_BINARY_DIR}/run-under-wine.sh")
endif()

# Every test of such a build: wine running, and programs that a test starts
# itself started through the emulator too. A test that the emulator skips is
# shown as skipped, never as passed.
function(zmod4710_cross_test test)
    if(WIN32)
        set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine)
        set_tests_properties(${test} PROPERTIES SKIP_RETURN_CODE ${ZMOD4710_SKIPPED})
    else()
        string(REPLACE ";" "\\;" launcher "${CMAKE_CROSSCOMPILING_EMULATOR}")
        set_tests_properties(${test} PROPERTIES ENVIRONMENT "ZMOD4710_TEST_LAUNCHER=${launcher}")
    endif()
endfunction()

function(zmod4710_add_wine_fixture)
    if(NOT (CMAKE_CROSSCOMPILING AND WIN32))
        return()
    endif()
    set(log "${PROJECT_BINARY_DIR}/wine-start.log")
    add_test(NAME wine_start
             COMMAND sh -c "mkdir -p '${ZMOD4710_WINE_PREFIX}' && '${WINESERVER}' -p 60 >'${log}' 2>&1 && '${CMAKE_CROSSCOMPILING_EMULATOR}' wineboot -i >>'${log}' 2>&1")
    set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine
        SKIP_RETURN_CODE ${ZMOD4710_SKIPPED} ENVIRONMENT "WINEPREFIX=${ZMOD4710_WINE_PREFIX}")
    add_test(NAME wine_stop COMMAND sh -c "'${WINESERVER}' -k || true")
    set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine
        ENVIRONMENT "WINEPREFIX=${ZMOD4710_WINE_PREFIX}")
endfunction()
