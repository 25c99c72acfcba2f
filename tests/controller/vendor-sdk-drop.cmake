# Included before the project by the controller presets
# (CMAKE_PROJECT_TOP_LEVEL_INCLUDES): builds the stand-in vendor library with the
# same toolchain and generator, and installs it into ZMOD4710_VENDOR_SDK_DIR as a
# vendor's SDK drop (include/, lib/, bin/), which the preset names as the module
# library. The controller build itself knows nothing of it.
if(NOT ZMOD4710_VENDOR_SDK_DIR)
    message(FATAL_ERROR "ZMOD4710_VENDOR_SDK_DIR is not set")
endif()
set(standin_build "${ZMOD4710_VENDOR_SDK_DIR}-build")
set(standin_arguments -S "${CMAKE_CURRENT_LIST_DIR}/../vendor_library" -B "${standin_build}"
                      -G "${CMAKE_GENERATOR}" -DCMAKE_BUILD_TYPE=Release
                      "-DCMAKE_INSTALL_PREFIX=${ZMOD4710_VENDOR_SDK_DIR}")
if(CMAKE_TOOLCHAIN_FILE)
    list(APPEND standin_arguments "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}")
endif()
message(STATUS "Building the stand-in vendor library into ${ZMOD4710_VENDOR_SDK_DIR}")
execute_process(COMMAND "${CMAKE_COMMAND}" ${standin_arguments} OUTPUT_QUIET
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${standin_build}" --target install
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
