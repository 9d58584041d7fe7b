# Toolchain for the 64-bit Arm Linux plug-ins: Debian's cross compiler for
# aarch64 (package g++-aarch64-linux-gnu) and its C library
# (libc6-dev-arm64-cross) in /usr/aarch64-linux-gnu. Programs built here
# run on this machine under qemu-aarch64 (package qemu-user), which takes
# the aarch64 loader and libraries from that directory.
#
# Every float and double operation on AArch64 rounds to its own precision,
# as SSE2 does on x86-64, so each kernel step gives the x86-64 bits. GCC
# fuses a product and a sum into one instruction by default here; the
# exactness flags (-ffp-contract=off, CompilerSettings.cmake) forbid it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(AARCH64_PREFIX aarch64-linux-gnu)
set(AARCH64_SYSROOT /usr/${AARCH64_PREFIX})
set(CMAKE_C_COMPILER ${AARCH64_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${AARCH64_PREFIX}-g++)
set(CMAKE_OBJDUMP ${AARCH64_PREFIX}-objdump)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${AARCH64_SYSROOT})

set(CMAKE_FIND_ROOT_PATH ${AARCH64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
