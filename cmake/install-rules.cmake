# What `cmake --install` puts in place in a build of everything: the tools,
# zmod4710-sim, and the simulated module as a kit for one's own programs (the
# library, its headers, a CMake package, a Python module, manual pages, and a
# pkg-config file except on Windows). `cpack -G DEB` packs the same as a Debian package, and on
# Windows `cpack -G ZIP` as a ZIP for Windows desktops.
include(CMakePackageConfigHelpers)

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/zmod4710)
set(pkgconfig_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS ao_power_on ao_basic_info ao_loop_check zmod4710-sim EXPORT zmod4710-targets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS zmod4710 EXPORT zmod4710-targets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES kit/zmod4710.h sim/library/include/zmod4710_sim.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# find_package(zmod4710 CONFIG) gives zmod4710::zmod4710, and the programs
# zmod4710::zmod4710-sim, zmod4710::ao_power_on, zmod4710::ao_basic_info and
# zmod4710::ao_loop_check for tests that run them as processes. Every path in these
# files is relative to where they lie, so the installed folder can be moved.
install(EXPORT zmod4710-targets NAMESPACE zmod4710:: DESTINATION ${package_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zmod4710Config.cmake.in
                              ${PROJECT_BINARY_DIR}/zmod4710Config.cmake
                              INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zmod4710ConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zmod4710Config.cmake
              ${PROJECT_BINARY_DIR}/zmod4710ConfigVersion.cmake
        DESTINATION ${package_dir})

# The state file's format, for programs that read or check a backplane.
install(FILES docs/backplane.schema.json docs/timeline.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/zmod4710-sim)

# The Python module: in PREFIX/lib/python3/dist-packages, where Debian's python3
# finds it when the prefix is /usr, and in the Windows ZIP's python folder; it
# finds the library from there.
if(WIN32)
    set(python_dir python)
else()
    set(python_dir lib/python3/dist-packages)
endif()
install(FILES sim/python/zmod4710_sim.py DESTINATION ${python_dir})

if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/windows-kit.cmake)
    return()
endif()

# pkg-config finds the prefix from where the file lies (${pcfiledir}), for the
# same reason.
file(RELATIVE_PATH pkgconfig_to_prefix /prefix/${pkgconfig_dir} /prefix)
string(REGEX REPLACE "/$" "" pkgconfig_to_prefix "${pkgconfig_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/zmod4710.pc.in ${PROJECT_BINARY_DIR}/zmod4710.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zmod4710.pc DESTINATION ${pkgconfig_dir})

install(FILES docs/ao_power_on.1 docs/ao_basic_info.1 docs/ao_loop_check.1 docs/zmod4710-sim.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/zmod4710.3 docs/zmod4710_sim.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)

# One package, zmod4710-sim, installed under /usr, as Debian's checker (lintian)
# accepts it: the library and its pkg-config file in the folder of the machine's
# architecture, manual pages compressed, a copyright file and a changelog, and
# ldconfig run by a trigger rather than by maintainer scripts. The tools find
# the library in the lib folder beside bin/, where their RUNPATH looks.
set(CPACK_PACKAGE_NAME zmod4710-sim)
set(CPACK_PACKAGE_VENDOR "zmod4710 tools")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Simulated ZM-4710 analog-output module, its library and console tools")
set(CPACK_PACKAGE_DESCRIPTION
    "The ZM-4710 and ZM-4704 analog-output modules' library (libzmod4710.so) as
a simulation whose backplane lives in a state file; zmod4710-sim to see and
change it, to make the library refuse calls on request and to read a meter
on a channel; the console tools ao_power_on, ao_basic_info and ao_loop_check;
and what programs of one's own need to build against the library: headers,
a CMake package, a pkg-config file and manual pages.")
set(CPACK_PACKAGE_CONTACT "zmod4710 tools <maintainers@zmod4710-tools.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the programs load is added to it; the Python module needs Debian's python3.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3:any")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_LDCONFIG OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${PROJECT_BINARY_DIR}/debian/copyright
               @ONLY)
set(CPACK_ZMOD4710_DEBIAN_FILES ${CMAKE_CURRENT_LIST_DIR}/debian)
set(CPACK_ZMOD4710_DEBIAN_COPYRIGHT ${PROJECT_BINARY_DIR}/debian/copyright)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/finish-package.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/drop-maintainer-scripts.cmake)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
