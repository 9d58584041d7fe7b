// 64-bit Arm (Linux, macOS): NEON, the one fast path, in 16-byte vectors;
// a vector of wider lanes (the doubles of four floats) is held in two
// registers.
#pragma once

#include <stdint.h>

#include "../../parallel/cpu_path.h"
#include "../plain_arithmetic.h"

#define FAST_PATHS_AVAILABLE 1

// Every 64-bit Arm processor has NEON.
inline bool family_supports(CpuPath path) { return path == CpuPath::kBaseline; }
constexpr const char* kBaselinePathName = "neon";
// Every fast path of the family.
constexpr CpuPath kFamilyFastPaths[] = {CpuPath::kBaseline};

// yield takes a cycle on most Arm cores; an instruction barrier waits for
// the pipeline to drain, closer to what x86's pause does.
inline void spin_pause() { __asm__ __volatile__("isb" ::: "memory"); }

// The floating-point control register (rounding direction, flush-to-zero):
// a Linux thread starts with its creator's, a macOS thread with the
// default, so each worker loads its caller's.
typedef uint64_t FloatControl;
inline FloatControl callers_float_control() {
    uint64_t fpcr;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr));
    return fpcr;
}
inline void load_float_control(FloatControl fpcr) { __asm__ __volatile__("msr fpcr, %0" : : "r"(fpcr)); }

struct FullX87Precision {
    static double after_setting(double value) { return value; }
};

// Kernel::run<kVectorBytes>(context, phase, share) for the path: NEON only.
template <typename Kernel>
struct ShareRunners {
    typedef void (*Runner)(void* context, int32_t phase, int32_t share);
    static void baseline(void* context, int32_t phase, int32_t share) {
        Kernel::template run<16>(context, phase, share);
    }
    static Runner for_path(CpuPath) { return baseline; }
};
