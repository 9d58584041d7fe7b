# What goes into each plug-in, and the compiler flags that decide its
# result bits: the one list every build takes them from. Each build
# project (the main one for Linux on x86-64, cross/arm64, cross/windows,
# cross/macos) makes its targets from it through PluginTargets.cmake; the
# GNU Octave plug-ins and the Octave package's Makefile (octave/) take the
# same lists.
#
# Run as a script it prints the lists and the command that rebuilds each
# plug-in with a host's own mex or mkoctfile:
#
#   cmake -P cmake/PluginSources.cmake
#
# Paths are relative to the project's root.

# The host-free library both plug-ins (and the Python binding) are made
# of: the cores' contract with their callers, the instruction sets and the
# worker team, and each platform's side of them. Every platform file
# compiles everywhere; another platform's compiles to nothing.
set(LIBRARY_SOURCES
  core/core_call.cpp core/heap_memory.cpp parallel/instruction_sets.cpp parallel/worker_team.cpp
  platform/x86/instruction_sets.cpp platform/linux/processors.cpp platform/linux/cgroup_quota.cpp
  platform/macos/processors.cpp platform/windows/processors.cpp platform/posix/threads.cpp
  platform/windows/threads.cpp platform/serial/threads.cpp)

# Each plug-in: its numeric core, which never sees a host header, and its
# MATLAB/Octave entry point.
set(TARV_c_CORE_SOURCES diffusion/kernel.cpp diffusion/kernel_fast.cpp diffusion/filter_diagnosis.cpp)
set(TARV_c_ENTRY_SOURCES mex/TARV_c.cpp mex/progress_bar.cpp mex/host_interrupt.cpp)
set(bandscore_CORE_SOURCES bandscore/scorer.cpp bandscore/scorer_fast.cpp)
set(bandscore_ENTRY_SOURCES mex/bandscore.cpp mex/host_interrupt.cpp)
foreach(plugin TARV_c bandscore)
  set(${plugin}_SOURCES ${${plugin}_ENTRY_SOURCES} ${${plugin}_CORE_SOURCES} ${LIBRARY_SOURCES})
endforeach()

# The Python package's shared library (python/): the plain C interface
# over both cores, python/library/tarvbandscore.h.
set(PYTHON_LIBRARY_SOURCES python/library/c_api.cpp)

# The cores see only these; the entry points see mex/ besides.
set(CORE_INCLUDE_DIRS core diffusion bandscore parallel platform/linux)
set(PLUGIN_INCLUDE_DIRS mex ${CORE_INCLUDE_DIRS})
set(PLUGIN_HEADERS
  mex/host_api.h mex/mex_host.h mex/arguments.h mex/argument_slots.h mex/progress_bar.h
  core/core_call.h
  diffusion/tarv_filter.h diffusion/kernel.h diffusion/filter_diagnosis.h diffusion/exponential.h diffusion/exponential_table.h diffusion/logarithm.h
  bandscore/scorer.h
  parallel/cpu_path.h parallel/instruction_sets.h parallel/worker_team.h
  parallel/team_schedule.h parallel/vector_lanes.h
  platform/processor_family.h platform/plain_arithmetic.h platform/x87_control.h
  platform/x86/family.h platform/arm64/family.h platform/x87/family.h platform/generic/family.h
  platform/linux/cgroup_quota.h platform/linux/oldest_glibc.h)

# The flags that decide the bits: no contraction of a product and a sum
# into a fused multiply-add. Never add -ffast-math or -Ofast.
set(PLUGIN_EXACTNESS_FLAGS -ffp-contract=off)
set(PLUGIN_LANGUAGE_FLAGS -std=c++20 -O2)
# No C++ runtime in a plug-in, and nothing exported but the entry point.
set(PLUGIN_CODE_FLAGS -fno-exceptions -fno-rtti -fvisibility=hidden -fvisibility-inlines-hidden)
# Linux builds force in the oldest glibc symbol versions (the header says
# why), found on the include path; Windows builds do without.
set(PLUGIN_LINUX_FORCED_HEADER oldest_glibc.h)
# 64-bit Windows: MinGW-w64 GCC aligns the stack to 16 bytes only, and may
# spill an AVX or AVX-512 value to a 32- or 64-byte slot there with an
# aligned move, which faults; the assembler writes every aligned vector
# move as an unaligned one (binutils 2.38 and later).
set(PLUGIN_WIN64_FLAGS -Wa,-muse-unaligned-vector-move)

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  list(TRANSFORM PLUGIN_INCLUDE_DIRS PREPEND "-I" OUTPUT_VARIABLE includes)
  string(JOIN " " includes ${includes})
  string(JOIN " " exact ${PLUGIN_LANGUAGE_FLAGS} ${PLUGIN_EXACTNESS_FLAGS})
  string(JOIN " " code ${PLUGIN_CODE_FLAGS})
  string(JOIN " " win64 ${PLUGIN_WIN64_FLAGS})
  foreach(plugin TARV_c bandscore)
    string(JOIN " " sources ${${plugin}_SOURCES})
    message("${plugin} sources: ${sources}")
  endforeach()
  message("include directories: ${includes}")
  message("flags that decide the bits: ${exact} (never -ffast-math or -Ofast)")
  message("")
  foreach(plugin TARV_c bandscore)
    string(JOIN " " sources ${${plugin}_SOURCES})
    message("# ${plugin} for GNU Octave, from the project's root:")
    message("CXXFLAGS='${exact} -include ${PLUGIN_LINUX_FORCED_HEADER} ${code}' mkoctfile --mex -DMEX_HOST_OCTAVE ${includes} -o ${plugin}.mex ${sources}")
    message("# ${plugin} with MATLAB's mex on 64-bit Linux:")
    message("mex ${includes} CXXFLAGS='$CXXFLAGS ${exact} -include ${PLUGIN_LINUX_FORCED_HEADER}' ${sources}")
    message("# ${plugin} with MATLAB's mex on macOS (Xcode's command line tools):")
    message("mex ${includes} CXXFLAGS='$CXXFLAGS ${exact}' ${sources}")
    message("# ${plugin} with MATLAB's mex and MinGW-w64 on 64-bit Windows:")
    message("mex ${includes} CXXFLAGS='$CXXFLAGS ${exact} ${win64}' ${sources}")
    message("")
  endforeach()
endif()
