# Every source file of the project is named in docs/layout.md, which gives each
# a line: a file added without one fails.
#
#   cmake -DSOURCE_DIR=<the project's root> -P check-source-tree-page.cmake

file(READ "${SOURCE_DIR}/docs/layout.md" page)
set(folders kit power_on basic_info sim bench examples tests scripts)
set(patterns "")
foreach(folder ${folders})
    foreach(extension c cpp h hpp py sh)
        list(APPEND patterns "${SOURCE_DIR}/${folder}/*.${extension}")
    endforeach()
endforeach()
file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" ${patterns})
# The headers that stand in for CE's C run time are named by their folder.
list(FILTER sources EXCLUDE REGEX "^tests/controller/ce-c-run-time/")
set(unnamed "")
foreach(source ${sources})
    get_filename_component(name "${source}" NAME)
    string(FIND "${page}" "${name}" at)
    if(at EQUAL -1)
        list(APPEND unnamed "${source}")
    endif()
endforeach()
list(LENGTH sources count)
if(unnamed)
    list(JOIN unnamed ", " shown)
    message(FATAL_ERROR "docs/layout.md names no line for: ${shown}")
endif()
message(STATUS "docs/layout.md names each of the ${count} source files")
