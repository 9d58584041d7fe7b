# Toolchain for the 64-bit Windows plug-ins: Debian's MinGW-w64 cross
# compiler for x86-64 (package g++-mingw-w64-x86-64).
#
# x86-64 arithmetic is SSE2 (GCC's default here), as in the Linux build, so
# every kernel step gives the Linux bits; the fast paths (AVX2, AVX-512)
# are chosen at run time as on Linux. The x87 rules of the 32-bit Windows
# build do not apply.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(MINGW_PREFIX x86_64-w64-mingw32)
# The win32 threading variant needs no winpthread DLL at run time.
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
