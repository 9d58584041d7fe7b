// Any processor without a family of its own here: the plain loops on one
// thread, IEEE arithmetic as written.
#pragma once

#include "../../parallel/cpu_path.h"
#include "../plain_arithmetic.h"

#define FAST_PATHS_AVAILABLE 0

inline bool family_supports(CpuPath) { return false; }
constexpr const char* kBaselinePathName = "baseline";

inline void spin_pause() {}

struct FloatControl {};
inline FloatControl callers_float_control() { return {}; }
inline void load_float_control(FloatControl) {}

// No wider precision to set aside for formatting numbers.
struct FullX87Precision {
    static double after_setting(double value) { return value; }
};
