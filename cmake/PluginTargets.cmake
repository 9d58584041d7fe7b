# The plug-ins' targets, made the same way by every build project: the
# main project (Linux on x86-64, LinuxPlugins.cmake), cross/arm64,
# cross/windows and cross/macos. CompilerSettings.cmake comes first.
#
# add_plugin_cores(ROOT dir [OPTIONS flag...] [INCLUDES dir...]) defines
#   plugin_code        the compile options of code that goes into a plug-in
#                      (PLUGIN_CODE_FLAGS and OPTIONS; INCLUDES for system
#                      headers of a platform's own)
#   core_library       LIBRARY_SOURCES: the cores' contract, the
#                      instruction sets, the worker team, the platform files
#   TARV_c_core,       each numeric core, with core_library
#   bandscore_core
# as static libraries that see CORE_INCLUDE_DIRS only: a core that
# includes a host header (mex/) fails to compile, in every build.
#
# add_plugin(NAME SUFFIX suffix [SOURCES file...] [LIBRARIES lib...])
#   the module NAME<suffix> of NAME_ENTRY_SOURCES and SOURCES, which see
#   mex/ too, linked with NAME_core, then LIBRARIES; the project adds its
#   platform's link options and installs it.
#
# add_python_library([SOURCES file...] [LIBRARIES lib...])
#   the Python package's shared library, tarvbandscore, of
#   PYTHON_LIBRARY_SOURCES and SOURCES, linked with both cores, then
#   LIBRARIES; it exports the C interface of python/library/tarvbandscore.h
#   and nothing else. The project names its file and adds its platform's
#   link options.
function(add_plugin_cores)
  cmake_parse_arguments(CORES "" "ROOT" "OPTIONS;INCLUDES" ${ARGN})
  add_library(plugin_code INTERFACE)
  target_compile_options(plugin_code INTERFACE ${PLUGIN_CODE_FLAGS} ${CORES_OPTIONS})
  if(CORES_INCLUDES)
    target_include_directories(plugin_code SYSTEM INTERFACE ${CORES_INCLUDES})
  endif()
  target_link_libraries(plugin_code INTERFACE project_warnings)

  list(TRANSFORM CORE_INCLUDE_DIRS PREPEND "${CORES_ROOT}/" OUTPUT_VARIABLE core_includes)
  list(TRANSFORM LIBRARY_SOURCES PREPEND "${CORES_ROOT}/" OUTPUT_VARIABLE library_sources)
  add_library(core_library STATIC ${library_sources})
  foreach(plugin TARV_c bandscore)
    list(TRANSFORM ${plugin}_CORE_SOURCES PREPEND "${CORES_ROOT}/" OUTPUT_VARIABLE core_sources)
    add_library(${plugin}_core STATIC ${core_sources})
    target_link_libraries(${plugin}_core PUBLIC core_library)
  endforeach()
  foreach(library core_library TARV_c_core bandscore_core)
    target_include_directories(${library} PUBLIC ${core_includes})
    target_link_libraries(${library} PRIVATE plugin_code)
    set_target_properties(${library} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endforeach()
  set(PLUGIN_ROOT "${CORES_ROOT}" PARENT_SCOPE)
endfunction()

function(add_plugin name)
  cmake_parse_arguments(PLUGIN "" "SUFFIX" "SOURCES;LIBRARIES" ${ARGN})
  list(TRANSFORM ${name}_ENTRY_SOURCES PREPEND "${PLUGIN_ROOT}/" OUTPUT_VARIABLE entry_sources)
  add_library(${name} MODULE ${entry_sources} ${PLUGIN_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX "${PLUGIN_SUFFIX}")
  target_include_directories(${name} PRIVATE "${PLUGIN_ROOT}/mex")
  target_link_libraries(${name} PRIVATE plugin_code ${name}_core ${PLUGIN_LIBRARIES})
endfunction()

function(add_python_library)
  cmake_parse_arguments(LIBRARY "" "" "SOURCES;LIBRARIES" ${ARGN})
  list(TRANSFORM PYTHON_LIBRARY_SOURCES PREPEND "${PLUGIN_ROOT}/" OUTPUT_VARIABLE sources)
  add_library(tarvbandscore SHARED ${sources} ${LIBRARY_SOURCES})
  target_include_directories(tarvbandscore PRIVATE "${PLUGIN_ROOT}/python/library")
  target_link_libraries(tarvbandscore PRIVATE plugin_code TARV_c_core bandscore_core
    ${LIBRARY_LIBRARIES})
endfunction()
