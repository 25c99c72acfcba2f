# Run by cpack once it has installed what it packs, before it packs it
# (CPACK_PRE_BUILD_SCRIPTS): what a Debian package holds besides the project's
# files, and its manual pages as Debian keeps them, compressed.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
find_program(GZIP gzip REQUIRED)
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")

file(GLOB pages "${root}/share/man/man*/*.[1-9]")
foreach(page ${pages})
    execute_process(COMMAND ${GZIP} -9nf ${page} COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# Copied, not installed: the files are in place already, and installing would
# put them under DESTDIR a second time.
set(readable FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
configure_file(${CPACK_ZMOD4710_DEBIAN_COPYRIGHT} ${doc}/copyright COPYONLY ${readable})
configure_file(${CPACK_ZMOD4710_DEBIAN_FILES}/changelog ${doc}/changelog COPYONLY ${readable})
execute_process(COMMAND ${GZIP} -9nf ${doc}/changelog COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CPACK_ZMOD4710_DEBIAN_FILES}/lintian-overrides
               ${root}/share/lintian/overrides/${CPACK_PACKAGE_NAME} COPYONLY ${readable})
