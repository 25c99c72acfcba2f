# module_library: the module library that the tools import, the simulated one
# unless ZMOD4710_LIBRARY names another.
if(NOT ZMOD4710_LIBRARY)
    add_library(module_library ALIAS zmod4710)
    return()
endif()

if(NOT EXISTS "${ZMOD4710_LIBRARY}")
    message(FATAL_ERROR "ZMOD4710_LIBRARY: ${ZMOD4710_LIBRARY} does not exist")
endif()
add_library(module_library SHARED IMPORTED GLOBAL)
if(WIN32)
    # An import library names its DLL by file name; that is what the tools import.
    set_target_properties(module_library PROPERTIES IMPORTED_IMPLIB "${ZMOD4710_LIBRARY}")
else()
    # Linked by name from its folder (-L, -l), so that a library without a SONAME
    # is recorded by its file name rather than by the path it was found at.
    set_target_properties(module_library PROPERTIES IMPORTED_LOCATION "${ZMOD4710_LIBRARY}"
                                                    IMPORTED_NO_SONAME TRUE)
endif()
message(STATUS "Controller build: the tools use the module library ${ZMOD4710_LIBRARY}")
