# Compiler settings shared by the main build and the 32-bit Windows build
# (win32/), and the warning flags every target of ours takes through
# project_warnings.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()
set(CMAKE_CXX_FLAGS_RELEASE "-O2")

# The filter's results are defined bit for bit: no contraction into fused
# multiply-adds, and never -ffast-math or -Ofast.
add_compile_options(-ffp-contract=off)

option(WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE -Wall -Wextra
  $<$<BOOL:${WARNINGS_AS_ERRORS}>:-Werror>)
