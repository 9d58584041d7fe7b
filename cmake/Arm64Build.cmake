# Drives the 64-bit Arm Linux build (cross/arm64) as a project of its own,
# cross-compiled in build/arm64 with the aarch64 toolchain file, and installs
# both plug-ins with their help files into dist/linux-arm64; it also makes
# the Python package's aarch64 library (python/CMakeLists.txt makes its
# wheel). ARM64_BUILD_DIR is where its files land; its tests, which run
# under qemu-aarch64, are built with it when this build has tests.
include(${CMAKE_CURRENT_LIST_DIR}/CrossBuild.cmake)

# The cross compiler, and for the tests the emulator, are found here, so
# that a machine without them fails at configure time rather than halfway
# through the build.
find_program(AARCH64_CXX aarch64-linux-gnu-g++ REQUIRED)
find_program(AARCH64_OBJDUMP aarch64-linux-gnu-objdump REQUIRED)
if(BUILD_TESTING)
  find_program(QEMU_AARCH64 qemu-aarch64 REQUIRED)
endif()
set(AARCH64_SYSROOT /usr/aarch64-linux-gnu)

set(ARM64_BUILD_DIR "${CMAKE_BINARY_DIR}/arm64")
add_cross_build(arm64 SOURCE_DIR cross/arm64 TOOLCHAIN aarch64-linux-gnu.cmake
  ARGS "-DBUILD_TESTING=${BUILD_TESTING}"
  BYPRODUCTS "${ARM64_BUILD_DIR}/linux/TARV_c.mexa64" "${ARM64_BUILD_DIR}/linux/bandscore.mexa64"
    "${ARM64_BUILD_DIR}/standin/mexrun" "${ARM64_BUILD_DIR}/python/libtarvbandscore.so")

install(FILES "${ARM64_BUILD_DIR}/linux/TARV_c.mexa64" "${ARM64_BUILD_DIR}/linux/bandscore.mexa64"
  help/TARV_c.m help/bandscore.m COPYING DESTINATION linux-arm64)
