# The Linux plug-ins and what they are built from, the same for every
# processor: the main project includes this file for x86-64, the aarch64
# build (arm64/) for 64-bit Arm. It defines
#   plugin_code       the compile options of code that goes into a plug-in
#   parallel, diffusion_kernel, bandscore_core
#                     the numeric cores and what their fast paths share
#   host_api          our declarations of the host operations
#   mx, mex, testhost, mexrun
#                     the stand-in host (standin/)
#   TARV_c, bandscore the plug-ins, NAME.mexa64 in linux/ of the build
# CompilerSettings.cmake comes first.
get_filename_component(MEX_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
foreach(list_name PARALLEL_SOURCES TARV_c_CORE_SOURCES TARV_c_ENTRY_SOURCES
    bandscore_CORE_SOURCES bandscore_ENTRY_SOURCES)
  list(TRANSFORM ${list_name} PREPEND "${MEX_ROOT}/" OUTPUT_VARIABLE linux_${list_name})
endforeach()

# Code that goes into a plug-in needs no C++ runtime library and exports
# nothing but the entry point.
add_library(plugin_code INTERFACE)
target_compile_options(plugin_code INTERFACE ${PLUGIN_CODE_FLAGS})
target_link_libraries(plugin_code INTERFACE project_warnings)
# The oldest glibc symbol versions (host/oldest_glibc.h says why).
target_compile_options(plugin_code INTERFACE
  -include ${MEX_ROOT}/host/${PLUGIN_LINUX_FORCED_HEADER})

# The numeric cores see no host header: a stray include fails to compile.
# Each keeps its plain loops (kernel.cpp, scorer.cpp) as the reference and
# adds fast paths (*_fast.cpp) that pick their instruction set at run time
# through GCC target attributes (parallel/instruction_sets) and run on a
# team of threads (parallel/worker_team).
add_library(parallel STATIC ${linux_PARALLEL_SOURCES})
target_include_directories(parallel PUBLIC ${MEX_ROOT}/parallel)
target_link_libraries(parallel PRIVATE plugin_code)

add_library(diffusion_kernel STATIC ${linux_TARV_c_CORE_SOURCES})
target_include_directories(diffusion_kernel PUBLIC ${MEX_ROOT}/diffusion)
target_link_libraries(diffusion_kernel PUBLIC parallel PRIVATE plugin_code)

add_library(bandscore_core STATIC ${linux_bandscore_CORE_SOURCES})
target_include_directories(bandscore_core PUBLIC ${MEX_ROOT}/bandscore)
target_link_libraries(bandscore_core PUBLIC parallel PRIVATE plugin_code)
set_target_properties(parallel diffusion_kernel bandscore_core PROPERTIES
  POSITION_INDEPENDENT_CODE ON)

add_library(host_api INTERFACE)
# host_api.h hands the cores an interrupt check (parallel/interrupt_check.h).
target_include_directories(host_api INTERFACE ${MEX_ROOT}/host ${MEX_ROOT}/parallel)

add_subdirectory(${MEX_ROOT}/standin ${CMAKE_BINARY_DIR}/standin)

# parallel is named so that it comes before libgcc on the link line: on
# aarch64 its atomic operations call libgcc's helpers.
include(${CMAKE_CURRENT_LIST_DIR}/MexPlugin.cmake)
add_mex_plugin(TARV_c
  SOURCES ${linux_TARV_c_ENTRY_SOURCES}
  LIBRARIES diffusion_kernel parallel)
add_mex_plugin(bandscore
  SOURCES ${linux_bandscore_ENTRY_SOURCES}
  LIBRARIES bandscore_core parallel)
