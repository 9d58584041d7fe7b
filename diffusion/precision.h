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
//
// Every named quantity is stored through to_single. A plain conversion to
// float is not enough on x87: the compiler may narrow (float)(a + b) of two
// floats into a float addition and then keep that "float" in an 80-bit
// register without ever rounding it.
#pragma once

#include <math.h>

#if defined(__i386__) && !defined(__SSE2_MATH__)
#define DIFFUSION_X87_ARITHMETIC 1
typedef long double single_expr;
typedef long double double_expr;

// Rounds to single precision for certain: the value goes through a 4-byte
// memory slot, which the compiler cannot keep in a register.
inline float to_single(long double value) {
    float stored = static_cast<float>(value);
    __asm__("" : "+m"(stored));
    return stored;
}
#else
#define DIFFUSION_X87_ARITHMETIC 0
typedef float single_expr;
typedef double double_expr;

// float and double arithmetic round at every operation here; storing is a
// plain conversion.
inline float to_single(float value) { return value; }
inline float to_single(double value) { return static_cast<float>(value); }
#endif

// The final logarithm of a working value. The 32-bit Windows runtime has no
// single-precision logarithm of its own, so that build takes the double one.
inline float log_pixel(float value) {
#if DIFFUSION_X87_ARITHMETIC
    return to_single(log(static_cast<double>(value)));
#else
    return logf(value);
#endif
}
