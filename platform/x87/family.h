// 32-bit x86 with x87 arithmetic, the 32-bit Windows filter: the plain
// loops only, on one thread.
//
// Its arithmetic is part of that build's defined behaviour: single_expr and
// double_expr are both long double, so every expression is evaluated in the
// x87 registers at the precision the host process has set, and values are
// rounded to single precision only where a named quantity is stored.
#pragma once

#include <math.h>

#include "../../parallel/cpu_path.h"
#include "../x87_control.h"

#define FAST_PATHS_AVAILABLE 0

inline bool family_supports(CpuPath) { return false; }
constexpr const char* kBaselinePathName = "baseline";

typedef long double single_expr;
typedef long double double_expr;

// Rounds to single precision for certain: the value goes through a 4-byte
// memory slot, which the compiler cannot keep in a register. A plain
// conversion is not enough on x87: the compiler may narrow (float)(a + b)
// of two floats into a float addition and then keep that "float" in an
// 80-bit register without ever rounding it.
inline float to_single(long double value) {
    float stored = static_cast<float>(value);
    __asm__("" : "+m"(stored));
    return stored;
}

// The 32-bit Windows runtime has no single-precision logarithm of its own:
// the double one, rounded.
inline float library_log(float value) { return to_single(log(static_cast<double>(value))); }

inline void spin_pause() { __builtin_ia32_pause(); }

struct FloatControl {};
inline FloatControl callers_float_control() { return {}; }
inline void load_float_control(FloatControl) {}
