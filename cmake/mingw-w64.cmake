# Toolchain for the Windows builds: Debian's MinGW-w64 cross compilers, for
# the width WINDOWS_BITS names (-DWINDOWS_BITS=32 or 64):
#   32  i686 (packages g++-mingw-w64-i686, mingw-w64-tools);
#   64  x86-64 (package g++-mingw-w64-x86-64).
#
# The 32-bit build deliberately keeps x87 arithmetic: no -msse2, no
# -mfpmath=sse. Its results are defined by the x87 registers at the
# precision control the host process has set, rounded to single precision
# where the kernel stores a named quantity (diffusion/precision.h picks that
# arithmetic when it sees x87 floating point). -mfpmath=387 says so
# explicitly.
#
# x86-64 arithmetic is SSE2 (GCC's default there), as in the Linux build, so
# every kernel step gives the Linux bits; the fast paths (AVX2, AVX-512)
# are chosen at run time as on Linux.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WINDOWS_BITS)
set(CMAKE_SYSTEM_NAME Windows)
if(WINDOWS_BITS EQUAL 32)
  set(CMAKE_SYSTEM_PROCESSOR x86)
  set(MINGW_PREFIX i686-w64-mingw32)
  set(CMAKE_C_FLAGS_INIT "-mfpmath=387")
  set(CMAKE_CXX_FLAGS_INIT "-mfpmath=387")
elseif(WINDOWS_BITS EQUAL 64)
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
  set(MINGW_PREFIX x86_64-w64-mingw32)
else()
  message(FATAL_ERROR "mingw-w64.cmake: set WINDOWS_BITS to 32 or 64")
endif()

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
