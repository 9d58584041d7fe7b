# Toolchain for the macOS plug-ins on Apple silicon (.mexmaca64): arm64,
# macOS 12 at least, what MATLAB R2024b builds for. ld64.lld signs arm64
# output ad hoc, which macOS requires of arm64 code.
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(MACOS_TARGET arm64-apple-macos12)
include(${CMAKE_CURRENT_LIST_DIR}/macos-clang.cmake)
