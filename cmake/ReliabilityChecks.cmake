# Checks of the plug-ins beyond their tests, run by this build's ctest:
#
#   sanitize.tests      every test of the sanitizer build (MEX_SANITIZE_DIR,
#                       which `make test` builds first) but the binary
#                       interface checks, which are about this build's files,
#                       and the exponential's check over every float, which
#                       is about arithmetic and would take minutes there
#   fuzz.<plugin>.<n>   each fuzz target for MEX_FUZZ_SECONDS in runs of
#                       at most 20 seconds, starting from the committed
#                       seeds; what it finds is kept in fuzz/corpus/<plugin>
#                       of this build directory, where the next run starts
#   valgrind.<program>  memcheck over the plug-in tests and the replay of the
#                       fuzz inputs, with this build's plug-ins
#   reproducible.<step> the release built again in another folder, whose
#                       downloads must be the same bytes as this build's
set(MEX_SANITIZE_DIR "${CMAKE_BINARY_DIR}/sanitize" CACHE PATH
  "Sanitizer build whose tests and fuzz targets this build's ctest runs")
set(MEX_FUZZ_SECONDS 60 CACHE STRING "Seconds each fuzz target runs in ctest")
find_program(VALGRIND valgrind REQUIRED)

# Any report ends the program with an error: AddressSanitizer (leaks
# included) and UndefinedBehaviorSanitizer alike.
set(sanitizer_environment
  "ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1:strict_string_checks=1"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

add_test(NAME sanitize.tests
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${MEX_SANITIZE_DIR} -DCTEST=${CMAKE_CTEST_COMMAND}
          -DSKIP=binary_interface_test$<SEMICOLON>exponential_test
          -P ${PROJECT_SOURCE_DIR}/cmake/RunSanitizedTests.cmake)
set_tests_properties(sanitize.tests PROPERTIES ENVIRONMENT "${sanitizer_environment}" COST 900)

# ctest reports a test only when it ends, so a long fuzz run would leave
# `make test` silent; runs of 20 seconds, one after the other, each report.
set(fuzz_run_seconds 20)
foreach(plugin TARV_c bandscore)
  set(found ${CMAKE_BINARY_DIR}/fuzz/corpus/${plugin})
  set(artifacts ${CMAKE_BINARY_DIR}/fuzz/artifacts)
  file(MAKE_DIRECTORY ${found} ${artifacts})
  set(left ${MEX_FUZZ_SECONDS})
  set(run 0)
  set(previous)
  while(left GREATER 0)
    math(EXPR run "${run} + 1")
    set(seconds ${fuzz_run_seconds})
    if(left LESS seconds)
      set(seconds ${left})
    endif()
    math(EXPR left "${left} - ${seconds}")
    add_test(NAME fuzz.${plugin}.${run}
      COMMAND ${MEX_SANITIZE_DIR}/fuzz/fuzz_${plugin} -max_total_time=${seconds}
              -timeout=10 -max_len=2048 -print_final_stats=1
              -artifact_prefix=${artifacts}/${plugin}- ${found}
              ${PROJECT_SOURCE_DIR}/fuzz/corpus/${plugin} ${PROJECT_SOURCE_DIR}/fuzz/regressions/${plugin})
    set_tests_properties(fuzz.${plugin}.${run} PROPERTIES ENVIRONMENT "${sanitizer_environment}"
      COST 1000 TIMEOUT 300 RESOURCE_LOCK fuzz_${plugin} DEPENDS "${previous}")
    set(previous fuzz.${plugin}.${run})
  endwhile()
endforeach()

# Errors, and definitely or indirectly lost blocks, fail the run; blocks
# still reachable at exit (the stand-in host's registries) do not.
set(memcheck ${VALGRIND} --error-exitcode=1 --leak-check=full --show-leak-kinds=definite,indirect
  --errors-for-leak-kinds=definite,indirect --track-origins=yes
  --suppressions=${PROJECT_SOURCE_DIR}/cmake/valgrind.supp)
foreach(program tarv_c_plugin_test bandscore_plugin_test)
  if(TARGET ${program})
    add_test(NAME valgrind.${program} COMMAND ${memcheck} $<TARGET_FILE:${program}>)
    # As ctest runs these tests one by one (tests/CMakeLists.txt).
    set_tests_properties(valgrind.${program} PROPERTIES COST 800
      ENVIRONMENT "GLIBC_TUNABLES=glibc.malloc.tcache_count=0")
  endif()
endforeach()
foreach(plugin TARV_c bandscore)
  add_test(NAME valgrind.replay_${plugin}
    COMMAND ${memcheck} $<TARGET_FILE:replay_${plugin}> ${PROJECT_SOURCE_DIR}/fuzz/corpus/${plugin}
            ${PROJECT_SOURCE_DIR}/fuzz/regressions/${plugin})
  set_tests_properties(valgrind.replay_${plugin} PROPERTIES COST 700)
endforeach()

# The release built again, as `make release` builds it, in a folder of
# another name (build/reproducible/...) at another time: its downloads must
# be the same bytes as those `make` installed into MEX_DIST_DIR. A step of
# its own per part of the build, each well under a minute, one after the
# other in that one build tree.
set(reproducible_dir "${CMAKE_BINARY_DIR}/reproducible/the-release-in-another-folder")
add_test(NAME reproducible.configure
  COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${reproducible_dir}
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
    -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER} -DWARNINGS_AS_ERRORS=${WARNINGS_AS_ERRORS}
    -DBUILD_TESTING=OFF -DMEX_ARM64=${MEX_ARM64} -DMEX_WIN32=${MEX_WIN32}
    -DMEX_WIN64=${MEX_WIN64} -DMEX_MACOS=${MEX_MACOS} -DMEX_PYTHON=${MEX_PYTHON})
set(reproducible_steps reproducible.configure)
# add_reproducible_build(NAME TARGET...): the step that builds those
# targets there.
macro(add_reproducible_build name)
  add_test(NAME reproducible.${name}
    COMMAND ${CMAKE_COMMAND} --build ${reproducible_dir} --target ${ARGN})
  list(APPEND reproducible_steps reproducible.${name})
endmacro()
add_reproducible_build(linux TARV_c bandscore octave_plugins octave_package)
foreach(bits 32 64)
  if(MEX_WIN${bits})
    add_reproducible_build(win${bits} win${bits})
  endif()
endforeach()
if(MEX_MACOS)
  add_reproducible_build(macos maca64 maci64)
endif()
if(MEX_ARM64)
  add_reproducible_build(arm64 arm64)
endif()
# The rest of the build (the Python package's wheels among it), the
# downloads as `make release` installs them, and the comparison.
set(zip)
if(MEX_WIN32 AND MEX_WIN64 AND MEX_MACOS)
  set(zip zip)
endif()
add_test(NAME reproducible.downloads
  COMMAND ${PROJECT_SOURCE_DIR}/tools/reproducible_downloads.sh ${reproducible_dir} ${MEX_DIST_DIR}
    ${zip})
list(APPEND reproducible_steps reproducible.downloads)
# In this order, after the configure step, which every other one needs.
set_tests_properties(${reproducible_steps} PROPERTIES RESOURCE_LOCK reproducible)
set_tests_properties(reproducible.configure PROPERTIES FIXTURES_SETUP reproducible)
list(REMOVE_AT reproducible_steps 0)
set(previous)
foreach(step IN LISTS reproducible_steps)
  set_tests_properties(${step} PROPERTIES FIXTURES_REQUIRED reproducible DEPENDS "${previous}")
  set(previous ${step})
endforeach()
