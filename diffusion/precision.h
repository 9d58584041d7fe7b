// Evaluation precision of the diffusion arithmetic.
//
// The kernel names the precision of every step: single-precision steps are
// written with `single_expr` operands and double-precision steps with
// `double_expr` operands, and every named quantity is stored to a float.
// On x86-64 these are plain float and double, so each operation rounds to
// its stated precision. On 32-bit x86 with x87 arithmetic both are long
// double: every expression is then evaluated in the x87 registers at the
// precision the host process has set, and values are rounded to single
// precision only where a named quantity is stored. That register precision
// is part of the 32-bit Windows build's defined behaviour.
#pragma once

#include <math.h>

#if defined(__i386__) && !defined(__SSE2_MATH__)
#define DIFFUSION_X87_ARITHMETIC 1
typedef long double single_expr;
typedef long double double_expr;
#else
#define DIFFUSION_X87_ARITHMETIC 0
typedef float single_expr;
typedef double double_expr;
#endif

// The final logarithm of a working value. The 32-bit Windows runtime has no
// single-precision logarithm of its own, so that build takes the double one.
inline float log_pixel(float value) {
#if DIFFUSION_X87_ARITHMETIC
    return static_cast<float>(log(static_cast<double>(value)));
#else
    return logf(value);
#endif
}
