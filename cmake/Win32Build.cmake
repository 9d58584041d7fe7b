# Drives the 32-bit Windows build (win32/) as a project of its own,
# cross-compiled in build/win32 with the MinGW toolchain file, and installs
# the filter into dist/win32. WIN32_BUILD_DIR is where its files land.
include(ExternalProject)

# The cross compiler is found here, so that a machine without it fails at
# configure time rather than halfway through the build.
find_program(MINGW_I686_CXX i686-w64-mingw32-g++-win32 REQUIRED)

set(WIN32_BUILD_DIR "${CMAKE_BINARY_DIR}/win32")
ExternalProject_Add(win32
  SOURCE_DIR "${PROJECT_SOURCE_DIR}/win32"
  BINARY_DIR "${WIN32_BUILD_DIR}"
  PREFIX "${CMAKE_BINARY_DIR}/win32-external"
  CMAKE_ARGS
    "-DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-i686.cmake"
    "-DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}"
    "-DWARNINGS_AS_ERRORS=${WARNINGS_AS_ERRORS}"
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  LOG_CONFIGURE ON
  LOG_OUTPUT_ON_FAILURE ON
  BUILD_BYPRODUCTS "${WIN32_BUILD_DIR}/TARV_c.dll" "${WIN32_BUILD_DIR}/win_runner.exe")

install(FILES "${WIN32_BUILD_DIR}/TARV_c.dll" help/TARV_c.m COPYING DESTINATION win32)
