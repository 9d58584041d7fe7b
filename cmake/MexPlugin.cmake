# add_mex_plugin(NAME)
#
# Builds NAME.mexa64 for 64-bit Linux hosts (PluginTargets.cmake's
# add_plugin): mexFunction is its only export (version node MEX), and its
# needed libraries are exactly the host's libmx and libmex, then libm,
# libpthread and libc, in that order. Nothing of the C++ runtime is linked:
# -z defs fails the link if the code needs any of it. libgcc is linked
# statically, and only if used; the core libraries come before it on the
# link line, since on aarch64 their atomic operations call its helpers.
#
# In the sanitizer build (MEX_SANITIZE) the plug-in leaves the sanitizer
# runtimes to the executable that loads it, so it is linked without
# -nodefaultlibs and -z defs; such a plug-in is for testing only.
function(add_mex_plugin name)
  # Order matters: it is the order of the needed-library entries. The host
  # libraries go in as plain -l flags, which CMake keeps in place (as
  # targets it would reorder them by their own dependencies).
  add_plugin(${name} SUFFIX .mexa64 LIBRARIES core_library host_api
    "-L$<TARGET_FILE_DIR:mx>" -lmx -lmex -lm -l:libpthread.so.0 -lc -Wl,--as-needed -lgcc)
  set_target_properties(${name} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/linux"
    SKIP_BUILD_RPATH ON
    LINK_DEPENDS "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/mex.version")
  if(NOT MEX_SANITIZE)
    target_link_options(${name} PRIVATE -nodefaultlibs -Wl,-z,defs)
  endif()
  target_link_options(${name} PRIVATE -Wl,--no-as-needed
    "-Wl,--version-script=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/mex.version")
  add_dependencies(${name} mx mex)
  install(TARGETS ${name} LIBRARY DESTINATION linux)
endfunction()
