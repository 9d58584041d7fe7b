# The Linux plug-ins and what they are built from, the same for every
# processor: the main project includes this file for x86-64, the aarch64
# build (cross/arm64) for 64-bit Arm. It defines the targets of
# PluginTargets.cmake (plugin_code, core_library, TARV_c_core,
# bandscore_core), and
#   host_api          our declarations of the host operations (mex/)
#   mx, mex, testhost, mexrun
#                     the stand-in host (standin/)
#   TARV_c, bandscore the plug-ins, NAME.mexa64 in linux/ of the build
# CompilerSettings.cmake comes first.
get_filename_component(MEX_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
include(${CMAKE_CURRENT_LIST_DIR}/PluginTargets.cmake)

# The oldest glibc symbol versions (platform/linux/oldest_glibc.h says why).
add_plugin_cores(ROOT "${MEX_ROOT}"
  OPTIONS -include ${MEX_ROOT}/platform/linux/${PLUGIN_LINUX_FORCED_HEADER})

add_library(host_api INTERFACE)
# host_api.h hands the cores their options (core/core_call.h).
target_include_directories(host_api INTERFACE ${MEX_ROOT}/mex ${MEX_ROOT}/core ${MEX_ROOT}/parallel
  ${MEX_ROOT}/platform)

add_subdirectory(${MEX_ROOT}/standin ${CMAKE_BINARY_DIR}/standin)

include(${CMAKE_CURRENT_LIST_DIR}/MexPlugin.cmake)
add_mex_plugin(TARV_c)
add_mex_plugin(bandscore)
