# Proves that a tool deploys as a single program beside the module library: what
# it imports at load time is the module library and the C run time, never a C++
# run time (libstdc++, libgcc_s, libstdc++-6.dll, libgcc_s_seh-1.dll). An ELF
# program searches for libraries only relative to itself ($ORIGIN): an empty or
# relative entry in its RUNPATH would be the folder it is started from.
#
#   cmake -DPROGRAM=... -DLISTER=readelf|objdump -DFORMAT=elf|pe -P check-imports.cmake
cmake_minimum_required(VERSION 3.25)

foreach(variable PROGRAM LISTER FORMAT)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "${variable} is not set")
    endif()
endforeach()

if(FORMAT STREQUAL "elf")
    execute_process(COMMAND "${LISTER}" -d "${PROGRAM}" OUTPUT_VARIABLE listing
                    RESULT_VARIABLE listed)
    string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" entries "${listing}")
    set(pattern "Shared library: \\[([^]]+)\\]")
    set(allowed "^(libzmod4710\\.so|libc\\.so\\.[0-9]+|libm\\.so\\.[0-9]+|ld-linux[-a-z0-9_.]*\\.so\\.[0-9]+)$")
    set(module_library "^libzmod4710\\.so$")
else()
    execute_process(COMMAND "${LISTER}" -p "${PROGRAM}" OUTPUT_VARIABLE listing
                    RESULT_VARIABLE listed)
    string(REGEX MATCHALL "DLL Name: [^\n]+" entries "${listing}")
    set(pattern "DLL Name: ([^\n]+)")
    set(allowed "^(zmod4710\\.dll|kernel32\\.dll|msvcrt\\.dll|ucrtbase\\.dll|api-ms-win-crt-[a-z0-9-]+\\.dll)$")
    set(module_library "^zmod4710\\.dll$")
endif()
if(NOT listed EQUAL 0)
    message(FATAL_ERROR "${LISTER} could not read ${PROGRAM}")
endif()

set(imports "")
set(unexpected "")
set(has_module_library FALSE)
foreach(entry ${entries})
    string(REGEX REPLACE "${pattern}" "\\1" name "${entry}")
    string(STRIP "${name}" name)
    list(APPEND imports "${name}")
    string(TOLOWER "${name}" lower)
    if(NOT lower MATCHES "${allowed}")
        list(APPEND unexpected "${name}")
    endif()
    if(lower MATCHES "${module_library}")
        set(has_module_library TRUE)
    endif()
endforeach()

if(FORMAT STREQUAL "elf")
    string(REGEX MATCHALL "Library (runpath|rpath): \\[[^]]*\\]" search_paths "${listing}")
    foreach(search_path ${search_paths})
        string(REGEX REPLACE ".*\\[([^]]*)\\]" "\\1" folders "${search_path}")
        string(REPLACE ":" ";" folders "${folders}")
        foreach(folder IN LISTS folders) # empty entries included
            if(NOT folder MATCHES "^\\$ORIGIN(/|$)")
                message(FATAL_ERROR "${PROGRAM} searches \"${folder}\" for libraries: "
                                    "only folders relative to $ORIGIN are safe (${search_path})")
            endif()
        endforeach()
    endforeach()
endif()

if(unexpected)
    message(FATAL_ERROR "${PROGRAM} imports ${unexpected}; it may import only the module library "
                        "and the C run time (all imports: ${imports})")
endif()
if(NOT has_module_library)
    message(FATAL_ERROR "${PROGRAM} does not import the module library (imports: ${imports})")
endif()
message(STATUS "${PROGRAM} imports ${imports}")
