# Toolchain for the macOS plug-ins on Intel Macs (.mexmaci64): x86_64,
# macOS 11 at least. The fast paths are the Linux build's (baseline, AVX2,
# AVX-512, chosen at run time).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MACOS_TARGET x86_64-apple-macos11)
include(${CMAKE_CURRENT_LIST_DIR}/macos-clang.cmake)
