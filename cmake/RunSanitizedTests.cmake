# Runs the tests of another build directory, but those whose program is
# named in SKIP:
#
#   cmake -DBUILD_DIR=dir -DCTEST=ctest -DSKIP="program;..." -P RunSanitizedTests.cmake
#
# ctest lists every test with its command; the tests to run are picked by
# number, so it does not matter how they were registered or named.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${CTEST} --show-only=json-v1 WORKING_DIRECTORY ${BUILD_DIR}
  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot list the tests of ${BUILD_DIR}; was it built?")
endif()

string(JSON count LENGTH "${listing}" tests)
set(selected "")
set(skipped 0)
set(index 0)
while(index LESS count)
  string(JSON program ERROR_VARIABLE no_command GET "${listing}" tests ${index} command 0)
  get_filename_component(program "${program}" NAME)
  math(EXPR number "${index} + 1")
  if(program IN_LIST SKIP)
    math(EXPR skipped "${skipped} + 1")
  else()
    string(APPEND selected ",${number}")
  endif()
  math(EXPR index "${index} + 1")
endwhile()
if(selected STREQUAL "")
  message(FATAL_ERROR "no tests to run in ${BUILD_DIR}")
endif()

message(STATUS "running ${count} tests of ${BUILD_DIR} less ${skipped} of ${SKIP}")
# The JUnit file tells `make test` which of them were skipped, and why.
execute_process(COMMAND ${CTEST} --output-on-failure -j 2 -I "0,0,0${selected}"
    --output-junit Testing/junit.xml
  WORKING_DIRECTORY ${BUILD_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "tests of ${BUILD_DIR} failed")
endif()
