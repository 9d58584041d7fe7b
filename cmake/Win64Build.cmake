# Drives the 64-bit Windows build (win64/) as a project of its own,
# cross-compiled in build/win64 with the MinGW-w64 x86-64 toolchain file,
# and installs both plug-ins with their help files and the licence into
# dist/win64.
# WIN64_BUILD_DIR is where its files land.
include(ExternalProject)

set(WIN64_BUILD_DIR "${CMAKE_BINARY_DIR}/win64")
ExternalProject_Add(win64
  SOURCE_DIR "${PROJECT_SOURCE_DIR}/win64"
  BINARY_DIR "${WIN64_BUILD_DIR}"
  PREFIX "${CMAKE_BINARY_DIR}/win64-external"
  CMAKE_ARGS
    "-DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake"
    "-DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}"
    "-DWARNINGS_AS_ERRORS=${WARNINGS_AS_ERRORS}"
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  LOG_CONFIGURE ON
  LOG_OUTPUT_ON_FAILURE ON
  BUILD_BYPRODUCTS "${WIN64_BUILD_DIR}/TARV_c.mexw64" "${WIN64_BUILD_DIR}/bandscore.mexw64"
    "${WIN64_BUILD_DIR}/win64_runner.exe")

# Each folder of binaries carries the licence (binary redistributions must).
install(FILES "${WIN64_BUILD_DIR}/TARV_c.mexw64" "${WIN64_BUILD_DIR}/bandscore.mexw64"
  help/TARV_c.m help/bandscore.m COPYING DESTINATION win64)
