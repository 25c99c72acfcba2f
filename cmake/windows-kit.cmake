# On Windows, the kit is a ZIP for Windows desktops, where the controller's
# programs are written with Visual Studio: `cpack -G ZIP` makes
# zmod4710-sim-VERSION-windows-x64.zip (or -x86), one folder of that name with
# bin/ (the DLL and the programs, stripped), include/, lib/ (zmod4710.lib for
# MSVC's linker, zmod4710.dll.a for MinGW's, and a CMake package that gives
# each its own), examples/, the Python module in python/, the manual pages as
# HTML in doc/, the state file's schema in share/zmod4710-sim/, and README.txt.
install(FILES $<TARGET_LINKER_FILE_DIR:zmod4710>/zmod4710.lib DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES examples/CMakeLists.txt examples/drive_channel.h examples/drive_channel.c
              examples/ao_power_on_test.c examples/drive_channel.py examples/test_drive_channel.py
              examples/main.c examples/drive_channel_cases.h examples/drive_channel_test.c
              examples/drive_channel_test.cpp examples/drive_channel_program_test.cmake
        DESTINATION examples)

find_program(MANDOC mandoc REQUIRED)
set(html_pages "")
foreach(page ao_power_on.1 ao_basic_info.1 ao_loop_check.1 zmod4710-sim.1 zmod4710.3 zmod4710_sim.3)
    set(html ${PROJECT_BINARY_DIR}/doc/${page}.html)
    add_custom_command(OUTPUT ${html}
                       COMMAND ${CMAKE_COMMAND} -DMANDOC=${MANDOC} -DPAGE=${PROJECT_SOURCE_DIR}/docs/${page}
                               -DHTML=${html} -P ${CMAKE_CURRENT_LIST_DIR}/windows/html-page.cmake
                       DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page} VERBATIM)
    list(APPEND html_pages ${html})
endforeach()
add_custom_target(manual_pages_as_html ALL DEPENDS ${html_pages})
install(FILES ${html_pages} DESTINATION doc)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(ZMOD4710_WINDOWS_ARCHITECTURE x64)
else()
    set(ZMOD4710_WINDOWS_ARCHITECTURE x86)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/README.txt.in ${PROJECT_BINARY_DIR}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)

set(CPACK_PACKAGE_NAME zmod4710-sim)
set(CPACK_PACKAGE_VENDOR "zmod4710 tools")
set(CPACK_PACKAGE_FILE_NAME zmod4710-sim-${PROJECT_VERSION}-windows-${ZMOD4710_WINDOWS_ARCHITECTURE})
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
