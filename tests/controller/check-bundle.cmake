# Makes the controller bundle with cpack, checks that it holds exactly the
# expected files, and deploys it as on the controller: its files in one folder,
# beside the module library.
#
#   cmake -DCPACK=... -DCPACK_CONFIG=... -DWORK_DIR=... -DDEPLOY_DIR=...
#         -DEXPECTED_FILES=a;b -DMODULE_LIBRARY=... -P check-bundle.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK_DIR}" "${DEPLOY_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/unpacked")
execute_process(COMMAND "${CPACK}" -G ZIP --config "${CPACK_CONFIG}" -B "${WORK_DIR}"
                RESULT_VARIABLE packed OUTPUT_VARIABLE cpack_output ERROR_VARIABLE cpack_output)
file(GLOB bundles "${WORK_DIR}/*.zip")
list(LENGTH bundles bundle_count)
if(NOT packed EQUAL 0 OR NOT bundle_count EQUAL 1)
    message(FATAL_ERROR "cpack made no single ZIP:\n${cpack_output}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${bundles}"
                WORKING_DIRECTORY "${WORK_DIR}/unpacked" COMMAND_ERROR_IS_FATAL ANY)

# One folder named as the bundle, holding the programs and the note, nothing else.
get_filename_component(bundle_name "${bundles}" NAME_WLE)
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${WORK_DIR}/unpacked/${bundle_name}"
     "${WORK_DIR}/unpacked/*")
list(SORT files)
set(expected ${EXPECTED_FILES})
list(SORT expected)
if(NOT files STREQUAL expected)
    message(FATAL_ERROR "${bundles} holds [${files}], not [${expected}]")
endif()
message(STATUS "${bundles}: ${files}")

file(COPY "${WORK_DIR}/unpacked/${bundle_name}/" DESTINATION "${DEPLOY_DIR}")
file(COPY "${MODULE_LIBRARY}" DESTINATION "${DEPLOY_DIR}")
