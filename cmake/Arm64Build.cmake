# Drives the 64-bit Arm Linux build (arm64/) as a project of its own,
# cross-compiled in build/arm64 with the aarch64 toolchain file, and installs
# both plug-ins with their help files into dist/linux-arm64. ARM64_BUILD_DIR
# is where its files land; its tests, which run under qemu-aarch64, are
# built with it when this build has tests.
include(ExternalProject)

# The cross compiler and the emulator are found here, so that a machine
# without them fails at configure time rather than halfway through the build.
find_program(AARCH64_CXX aarch64-linux-gnu-g++ REQUIRED)
find_program(AARCH64_OBJDUMP aarch64-linux-gnu-objdump REQUIRED)
find_program(QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(AARCH64_SYSROOT /usr/aarch64-linux-gnu)

set(ARM64_BUILD_DIR "${CMAKE_BINARY_DIR}/arm64")
ExternalProject_Add(arm64
  SOURCE_DIR "${PROJECT_SOURCE_DIR}/arm64"
  BINARY_DIR "${ARM64_BUILD_DIR}"
  PREFIX "${CMAKE_BINARY_DIR}/arm64-external"
  CMAKE_ARGS
    "-DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/aarch64-linux-gnu.cmake"
    "-DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}"
    "-DWARNINGS_AS_ERRORS=${WARNINGS_AS_ERRORS}"
    "-DBUILD_TESTING=${BUILD_TESTING}"
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  LOG_CONFIGURE ON
  LOG_OUTPUT_ON_FAILURE ON
  BUILD_BYPRODUCTS "${ARM64_BUILD_DIR}/linux/TARV_c.mexa64"
    "${ARM64_BUILD_DIR}/linux/bandscore.mexa64" "${ARM64_BUILD_DIR}/standin/mexrun")

install(FILES "${ARM64_BUILD_DIR}/linux/TARV_c.mexa64" "${ARM64_BUILD_DIR}/linux/bandscore.mexa64"
  help/TARV_c.m help/bandscore.m COPYING DESTINATION linux-arm64)
