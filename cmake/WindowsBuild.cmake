# Drives the Windows builds (cross/windows), one project of its own per width,
# cross-compiled with cmake/mingw-w64.cmake in build/win32 and build/win64,
# and installs their plug-ins with the help files into dist/win32 and
# dist/win64. WIN32_BUILD_DIR and WIN64_BUILD_DIR are where their files
# land, WIN32_MINGW_PREFIX and WIN64_MINGW_PREFIX name their tools.
include(${CMAKE_CURRENT_LIST_DIR}/CrossBuild.cmake)

# add_windows_build(BITS MINGW_PREFIX PLUGIN_FILE...): the build of one
# width, which writes those plug-ins and the Windows test host,
# win_runner.exe, and on 64 bits the Python package's library,
# tarvbandscore.dll.
function(add_windows_build bits mingw_prefix)
  # The cross compiler is found here, so that a machine without it fails at
  # configure time rather than halfway through the build.
  find_program(MINGW${bits}_CXX ${mingw_prefix}-g++-win32 REQUIRED)

  set(dir "${CMAKE_BINARY_DIR}/win${bits}")
  set(WIN${bits}_BUILD_DIR "${dir}" PARENT_SCOPE)
  set(WIN${bits}_MINGW_PREFIX ${mingw_prefix} PARENT_SCOPE)
  list(TRANSFORM ARGN PREPEND "${dir}/" OUTPUT_VARIABLE plugins)
  # The 64-bit build makes the Python package's library too.
  set(python_library)
  if(bits EQUAL 64)
    set(python_library "${dir}/tarvbandscore.dll")
  endif()
  add_cross_build(win${bits} SOURCE_DIR cross/windows TOOLCHAIN mingw-w64.cmake
    ARGS "-DWINDOWS_BITS=${bits}"
    BYPRODUCTS ${plugins} "${dir}/win_runner.exe" ${python_library})
  set(help)
  foreach(file ${ARGN})
    string(REGEX REPLACE "\\..*" ".m" help_file "${file}")
    list(APPEND help "help/${help_file}")
  endforeach()
  install(FILES ${plugins} ${help} COPYING DESTINATION win${bits})
endfunction()

if(MEX_WIN32)
  add_windows_build(32 i686-w64-mingw32 TARV_c.dll)
endif()
if(MEX_WIN64)
  add_windows_build(64 x86_64-w64-mingw32 TARV_c.mexw64 bandscore.mexw64)
endif()
