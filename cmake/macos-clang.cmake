# What both macOS toolchain files share (macos-arm64.cmake and
# macos-x86_64.cmake set MACOS_TARGET first): Debian's clang, which emits
# Mach-O for an Apple target, and LLVM's Mach-O linker ld64.lld (Debian's
# lld), which the driver picks with -fuse-ld=lld. There is no Apple SDK:
# the build supplies its own declarations of the few C library functions
# the plug-ins call and a text stub of libSystem (platform/macos/).
set(CMAKE_SYSTEM_NAME Darwin)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MACOS_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${MACOS_TARGET})
set(CMAKE_SHARED_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)

# The target triple carries the minimum macOS version; no SDK, so no
# sysroot and no deployment-target flag of CMake's own.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "" FORCE)
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "" FORCE)
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "" FORCE)

# Without libSystem's start-up code nothing links into a program, so
# CMake's compiler checks stop at a static library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# LLVM's archiver writes the symbol index of Mach-O objects, which the
# core libraries need; GNU ar would not.
set(CMAKE_AR llvm-ar)
set(CMAKE_RANLIB llvm-ranlib)
