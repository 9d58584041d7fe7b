# Compiler settings shared by the main build and the cross builds
# (cross/), and the warning flags every target of ours takes through
# project_warnings. The source lists and the flags that decide the bits are
# in PluginSources.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/PluginSources.cmake)
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()
set(CMAKE_CXX_FLAGS_RELEASE "-O2")

# The results are defined bit for bit: every target of ours, test hosts and
# reference loops included, compiles with the plug-ins' exactness flags.
add_compile_options(${PLUGIN_EXACTNESS_FLAGS})

option(WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE -Wall -Wextra
  $<$<BOOL:${WARNINGS_AS_ERRORS}>:-Werror>)
