// 64-bit x86 (Linux, Windows, macOS): SSE2 arithmetic as the plain loops
// take it, and three fast paths chosen at run time, SSE2 (every such
// processor), AVX2 and AVX-512, each built from the same kernel templates
// with GCC target attributes, so that one binary carries every width.
#pragma once

#include <stdint.h>

#include "../../parallel/cpu_path.h"
#include "../plain_arithmetic.h"
#include "../x87_control.h"

#define FAST_PATHS_AVAILABLE 1

// Whether the processor has the path's instructions and the system saves
// their registers (x86/instruction_sets.cpp).
bool family_supports(CpuPath path);
constexpr const char* kBaselinePathName = "baseline";
// Every fast path of the family, whether or not this processor has it.
constexpr CpuPath kFamilyFastPaths[] = {CpuPath::kBaseline, CpuPath::kAvx2, CpuPath::kAvx512};

inline void spin_pause() { __builtin_ia32_pause(); }

// The SSE control register (rounding direction, flush-to-zero,
// denormals-are-zero): a Linux thread starts with its creator's, a Windows
// or macOS thread with the default, so each worker loads its caller's. The
// fast paths do no x87 arithmetic.
typedef unsigned FloatControl;
inline FloatControl callers_float_control() { return __builtin_ia32_stmxcsr(); }
inline void load_float_control(FloatControl mxcsr) { __builtin_ia32_ldmxcsr(mxcsr); }

// Kernel::run<kVectorBytes>(context, phase, share) built for each
// instruction set; for_path(path) is the share runner of a path.
template <typename Kernel>
struct ShareRunners {
    typedef void (*Runner)(void* context, int32_t phase, int32_t share);
    static void baseline(void* context, int32_t phase, int32_t share) {
        Kernel::template run<16>(context, phase, share);
    }
    __attribute__((target("avx2"))) static void avx2(void* context, int32_t phase,
                                                     int32_t share) {
        Kernel::template run<32>(context, phase, share);
    }
    __attribute__((target("avx512f"))) static void avx512(void* context, int32_t phase,
                                                          int32_t share) {
        Kernel::template run<64>(context, phase, share);
    }
    static Runner for_path(CpuPath path) {
        return path == CpuPath::kAvx512 ? avx512 : path == CpuPath::kAvx2 ? avx2 : baseline;
    }
};
