// The plain loops' arithmetic where float and double operations round at
// every step (SSE2, NEON, any IEEE processor without wider registers):
// single_expr and double_expr are plain float and double, and storing a
// named quantity is a plain conversion. Included by the family headers.
#pragma once

#include <math.h>

typedef float single_expr;
typedef double double_expr;

inline float to_single(float value) { return value; }
inline float to_single(double value) { return static_cast<float>(value); }

// The C library's logarithm of a working value, the plain loops' last step.
inline float library_log(float value) { return logf(value); }
