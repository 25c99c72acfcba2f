# The libraries the simulator and the tests use, all from Debian's packages:
# nlohmann-json3-dev and libcli11-dev (headers only) and googletest.
#
# A build for another machine cannot take the host's packages as they are: their
# targets point at /usr/include, where the host's C library would shadow the
# cross compiler's. It gets their headers through a folder of their own, and
# builds GoogleTest from its sources.
if(NOT CMAKE_CROSSCOMPILING)
    find_package(nlohmann_json 3.10 REQUIRED)
    find_package(CLI11 2.1 REQUIRED)
    if(ZMOD4710_BUILD_TESTS)
        find_package(GTest REQUIRED)
    endif()
    return()
endif()

set(host_headers "${PROJECT_BINARY_DIR}/host-headers")
foreach(folder nlohmann CLI)
    if(NOT EXISTS "/usr/include/${folder}")
        message(FATAL_ERROR "/usr/include/${folder} is missing: run scripts/install-build-deps.sh")
    endif()
    file(MAKE_DIRECTORY "${host_headers}")
    file(CREATE_LINK "/usr/include/${folder}" "${host_headers}/${folder}" SYMBOLIC)
endforeach()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${host_headers}")
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${host_headers}")

if(ZMOD4710_BUILD_TESTS)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest "${PROJECT_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
    foreach(library gtest gtest_main)
        set_target_properties(${library} PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
        if(NOT TARGET GTest::${library})
            add_library(GTest::${library} ALIAS ${library})
        endif()
    endforeach()
endif()
