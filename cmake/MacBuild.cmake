# Drives the macOS build (cross/macos) as a project of its own per processor,
# cross-compiled with clang and ld64.lld: build/maca64 with
# cmake/macos-arm64.cmake, build/maci64 with cmake/macos-x86_64.cmake. Both
# plug-ins of each are installed with their help files and the licence
# into dist/maca64 and dist/maci64; each also makes the Python package's
# library, libtarvbandscore.dylib. MACOS_BUILD_DIR_<folder> is where each
# one's files land.
include(${CMAKE_CURRENT_LIST_DIR}/CrossBuild.cmake)

foreach(mac maca64 maci64)
  if(mac STREQUAL maca64)
    set(toolchain macos-arm64.cmake)
  else()
    set(toolchain macos-x86_64.cmake)
  endif()
  set(dir "${CMAKE_BINARY_DIR}/${mac}")
  set(MACOS_BUILD_DIR_${mac} "${dir}")
  add_cross_build(${mac} SOURCE_DIR cross/macos TOOLCHAIN ${toolchain}
    BYPRODUCTS "${dir}/TARV_c.mex${mac}" "${dir}/bandscore.mex${mac}"
      "${dir}/libtarvbandscore.dylib")
  install(FILES "${dir}/TARV_c.mex${mac}" "${dir}/bandscore.mex${mac}"
    help/TARV_c.m help/bandscore.m COPYING DESTINATION ${mac})
endforeach()
