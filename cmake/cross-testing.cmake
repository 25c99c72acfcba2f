# Running the test suite of a build for another machine on this one.
#
# Windows programs run under wine, in a wine prefix of the build's own. Wine's
# server and the prefix are started once, before the tests, with all their
# output in a log, and stopped after them: started by a test instead, wine's
# background processes would hold the test's output open.
if(CMAKE_CROSSCOMPILING AND WIN32)
    find_program(WINE wine REQUIRED)
    find_program(WINESERVER wineserver REQUIRED)
    find_program(WINEBOOT wineboot REQUIRED)
    set(ZMOD4710_WINE_PREFIX "${PROJECT_BINARY_DIR}/wine-prefix")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/run-under-wine.sh.in
                   ${PROJECT_BINARY_DIR}/run-under-wine.sh @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_BINARY_DIR}/run-under-wine.sh")
endif()

# Every test of such a build: wine running, and programs that a test starts
# itself started through the emulator too.
function(zmod4710_cross_test test)
    if(WIN32)
        set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine)
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
             COMMAND sh -c "mkdir -p '${ZMOD4710_WINE_PREFIX}' && '${WINESERVER}' -p 60 >'${log}' 2>&1 && '${WINEBOOT}' -i >>'${log}' 2>&1")
    set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine
        ENVIRONMENT "WINEPREFIX=${ZMOD4710_WINE_PREFIX};WINEDEBUG=-all")
    add_test(NAME wine_stop COMMAND sh -c "'${WINESERVER}' -k || true")
    set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine
        ENVIRONMENT "WINEPREFIX=${ZMOD4710_WINE_PREFIX}")
endfunction()
