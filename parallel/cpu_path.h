// The instruction sets the numeric cores can run on.
#pragma once

#include <stdint.h>

enum class CpuPath : int32_t {
    kPlain,     // the reference loops
    kBaseline,  // 128-bit vectors every such processor has: SSE2 on x86-64, NEON on Arm
    kAvx2,      // 256-bit vectors (x86-64)
    kAvx512,    // 512-bit vectors (x86-64)
    kAutomatic  // the widest path this processor supports
};
