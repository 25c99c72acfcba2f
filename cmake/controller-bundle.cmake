# The controller bundle: `cpack` makes a ZIP of the three programs and a note on
# deploying them. The module library is the vendor's and is not in it.
install(TARGETS ao_power_on ao_basic_info ao_loop_check RUNTIME DESTINATION .)

if(WIN32)
    set(ZMOD4710_LIBRARY_FILE_NAME zmod4710.dll)
    set(note_line_end CRLF)
else()
    get_filename_component(ZMOD4710_LIBRARY_FILE_NAME "${ZMOD4710_LIBRARY}" NAME)
    set(note_line_end UNIX)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/DEPLOY.txt.in ${PROJECT_BINARY_DIR}/DEPLOY.txt @ONLY
               NEWLINE_STYLE ${note_line_end})
install(FILES ${PROJECT_BINARY_DIR}/DEPLOY.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME "zmod4710-tools-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}")
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
