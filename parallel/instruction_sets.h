// The processor's instruction-set choice for the fast paths.
//
// Both numeric cores keep their plain loops as the reference and add fast
// paths that give the same result bits: the same operations in the same
// precision and order, only vectorised and split across threads. A
// PathChoice names one path and a thread count so that tests and
// benchmarks can force every path this machine supports; the entry points
// take the automatic choice.
//
// The fast paths exist on 64-bit x86 (Linux, Windows, macOS) and on 64-bit
// Arm (Linux, macOS), built with GCC or a compiler that speaks its dialect
// (clang): FAST_PATHS_X86 and FAST_PATHS_ARM64. Everywhere else, the
// 32-bit Windows build with its x87 arithmetic above all, every choice
// runs the plain loops.
#pragma once

#include <stdint.h>

#if defined(__GNUC__) && defined(__x86_64__) && \
    (defined(__linux__) || defined(_WIN64) || defined(__APPLE__))
#define FAST_PATHS_X86 1
#else
#define FAST_PATHS_X86 0
#endif
#if defined(__GNUC__) && defined(__aarch64__) && (defined(__linux__) || defined(__APPLE__))
#define FAST_PATHS_ARM64 1
#else
#define FAST_PATHS_ARM64 0
#endif
#define FAST_PATHS_AVAILABLE (FAST_PATHS_X86 || FAST_PATHS_ARM64)

enum class CpuPath : int32_t {
    kPlain,     // the reference loops
    kBaseline,  // 128-bit vectors every such processor has: SSE2 on x86-64, NEON on Arm
    kAvx2,      // 256-bit vectors (x86-64)
    kAvx512,    // 512-bit vectors (x86-64)
    kAutomatic  // the widest path this processor supports
};

struct PathChoice {
    CpuPath path;
    int32_t threads;  // 0: one per processor the process may use, fewer for small work
};

constexpr PathChoice kAutomaticPath{CpuPath::kAutomatic, 0};

// Whether this build and this processor can run `path`.
bool cpu_path_supported(CpuPath path);
// kAutomatic resolved; any other path as given.
CpuPath resolve_cpu_path(CpuPath path);
const char* cpu_path_name(CpuPath path);
