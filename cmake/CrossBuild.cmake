# add_cross_build(NAME SOURCE_DIR dir TOOLCHAIN file [ARGS -D...] BYPRODUCTS files...)
#
# A build of the plug-ins for another platform, driven as a project of its
# own (SOURCE_DIR, relative to the project's root) in build/NAME with its
# toolchain file (in cmake/), and built whenever the main build is: its own
# dependency checks decide what to rebuild. BYPRODUCTS are the files of it
# that the main build installs or tests.
include(ExternalProject)

function(add_cross_build name)
  cmake_parse_arguments(CROSS "" "SOURCE_DIR;TOOLCHAIN" "ARGS;BYPRODUCTS" ${ARGN})
  ExternalProject_Add(${name}
    SOURCE_DIR "${PROJECT_SOURCE_DIR}/${CROSS_SOURCE_DIR}"
    BINARY_DIR "${CMAKE_BINARY_DIR}/${name}"
    PREFIX "${CMAKE_BINARY_DIR}/${name}-external"
    CMAKE_ARGS
      "-DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${CROSS_TOOLCHAIN}"
      "-DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}"
      "-DWARNINGS_AS_ERRORS=${WARNINGS_AS_ERRORS}"
      ${CROSS_ARGS}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    LOG_CONFIGURE ON
    LOG_OUTPUT_ON_FAILURE ON
    BUILD_BYPRODUCTS ${CROSS_BYPRODUCTS})
endfunction()
