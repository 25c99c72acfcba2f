# module_library: the module library that the tools import, the simulated one
# unless ZMOD4710_LIBRARY names another.
if(ZMOD4710_LIBRARY)
    add_library(module_library SHARED IMPORTED GLOBAL)
    set_target_properties(module_library PROPERTIES IMPORTED_LOCATION "${ZMOD4710_LIBRARY}")
    if(WIN32)
        set_target_properties(module_library PROPERTIES IMPORTED_IMPLIB "${ZMOD4710_LIBRARY}")
    endif()
    message(STATUS "Tools use the module library ${ZMOD4710_LIBRARY}")
else()
    add_library(module_library ALIAS zmod4710)
endif()
