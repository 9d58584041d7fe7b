# The Linux plug-ins and what they are built from, the same for every
# processor: the main project includes this file for x86-64, the aarch64
# build (cross/arm64) for 64-bit Arm. It defines the targets of
# PluginTargets.cmake (plugin_code, core_library, TARV_c_core,
# bandscore_core), and
#   host_api          our declarations of the host operations (mex/)
#   mx, mex, testhost, mexrun
#                     the stand-in host (standin/)
#   TARV_c, bandscore the plug-ins, NAME.mexa64 in linux/ of the build
#   tarvbandscore     the Python package's library, libtarvbandscore.so in
#                     python/ of the build (not in the sanitizer build)
# CompilerSettings.cmake comes first.
get_filename_component(MEX_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
include(${CMAKE_CURRENT_LIST_DIR}/PluginTargets.cmake)

# The oldest glibc symbol versions (platform/linux/oldest_glibc.h says why).
add_plugin_cores(ROOT "${MEX_ROOT}"
  OPTIONS -include ${MEX_ROOT}/platform/linux/${PLUGIN_LINUX_FORCED_HEADER})

add_library(host_api INTERFACE)
# host_api.h hands the cores their options (core/core_call.h).
target_include_directories(host_api INTERFACE ${MEX_ROOT}/mex ${MEX_ROOT}/core ${MEX_ROOT}/parallel)

add_subdirectory(${MEX_ROOT}/standin ${CMAKE_BINARY_DIR}/standin)

include(${CMAKE_CURRENT_LIST_DIR}/MexPlugin.cmake)
add_mex_plugin(TARV_c)
add_mex_plugin(bandscore)

# Made as the plug-ins are (MexPlugin.cmake): the C interface its only
# export (version node TARVBANDSCORE_1), its needed libraries exactly libm,
# libpthread and libc, in that order, no C++ runtime (-z defs), libgcc
# statically and only if used. The sanitizer build has none: its runtimes
# would have to be loaded into Python first.
if(NOT MEX_SANITIZE)
  set(version_script "${MEX_ROOT}/python/library/tarvbandscore.version")
  add_python_library(LIBRARIES core_library -lm -l:libpthread.so.0 -lc -Wl,--as-needed -lgcc)
  set_target_properties(tarvbandscore PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/python"
    SKIP_BUILD_RPATH ON
    LINK_DEPENDS "${version_script}")
  target_link_options(tarvbandscore PRIVATE -nodefaultlibs -Wl,-z,defs -Wl,--no-as-needed
    "-Wl,--version-script=${version_script}")
endif()
