# Run by cpack once it has made the packages (CPACK_POST_BUILD_SCRIPTS). CPack
# gives a package with a library in /usr/lib maintainer scripts that run
# ldconfig, which the package's trigger does already; they would also leave the
# package half there after a removal. The package is made again without them.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
find_program(DPKG_DEB dpkg-deb REQUIRED)
foreach(package ${CPACK_PACKAGE_FILES})
    set(tree "${CPACK_TOPLEVEL_DIRECTORY}/without-maintainer-scripts")
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND ${DPKG_DEB} --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
    execute_process(COMMAND ${DPKG_DEB} --root-owner-group --build ${tree} ${package}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${tree})
endforeach()
