// The one place that tells which processor family a build is for; what
// differs between families is in that family's header:
//
//   x86/family.h      64-bit x86 (Linux, Windows, macOS): SSE2 arithmetic,
//                     the SSE2, AVX2 and AVX-512 fast paths
//   arm64/family.h    64-bit Arm (Linux, macOS): the NEON fast path
//   x87/family.h      32-bit x86 with x87 arithmetic (the 32-bit Windows
//                     filter): the plain loops only
//   generic/family.h  any other processor: the plain loops only
//
// Each defines FAST_PATHS_AVAILABLE, the arithmetic types of the filter's
// plain loops (single_expr, double_expr, to_single) and its library
// logarithm, the spin hint, the floating-point control register a worker
// takes from its caller, and, with fast paths, the instruction sets
// (family_supports, ShareRunners).
#pragma once

#if defined(__GNUC__) && defined(__x86_64__) && \
    (defined(__linux__) || defined(_WIN64) || defined(__APPLE__))
#include "x86/family.h"
#elif defined(__GNUC__) && defined(__aarch64__) && (defined(__linux__) || defined(__APPLE__))
#include "arm64/family.h"
#elif defined(__i386__) && !defined(__SSE2_MATH__)
#include "x87/family.h"
#else
#include "generic/family.h"
#endif
