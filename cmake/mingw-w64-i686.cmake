# Toolchain for the 32-bit Windows plug-in: Debian's MinGW-w64 cross
# compiler for i686 (packages g++-mingw-w64-i686, mingw-w64-tools).
#
# This build deliberately keeps x87 arithmetic: no -msse2, no -mfpmath=sse.
# The 32-bit Windows filter's results are defined by the x87 registers at
# the precision control the host process has set, rounded to single
# precision where the kernel stores a named quantity (diffusion/precision.h
# picks that arithmetic when it sees x87 floating point). -mfpmath=387 says
# so explicitly.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(MINGW_PREFIX i686-w64-mingw32)
# The win32 threading variant needs no winpthread DLL at run time.
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${MINGW_PREFIX}-objdump)

set(CMAKE_C_FLAGS_INIT "-mfpmath=387")
set(CMAKE_CXX_FLAGS_INIT "-mfpmath=387")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
