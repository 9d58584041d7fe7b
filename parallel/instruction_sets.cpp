#include "instruction_sets.h"

namespace {

// What the processor said of each path, asked once: 0 not yet asked, 1
// supported, 2 not. A virtual machine may take tens of microseconds to
// answer cpuid, which a call would otherwise pay every time.
uint8_t answers[static_cast<int>(CpuPath::kAutomatic)] = {};

}  // namespace

bool cpu_path_supported(CpuPath path) {
    if (path == CpuPath::kPlain || path == CpuPath::kAutomatic) return true;
    const int index = static_cast<int>(path);
    if (index < 0 || index >= static_cast<int>(CpuPath::kAutomatic)) return false;
    uint8_t answer = __atomic_load_n(&answers[index], __ATOMIC_RELAXED);
    if (answer == 0) {
        answer = family_supports(path) ? 1 : 2;
        __atomic_store_n(&answers[index], answer, __ATOMIC_RELAXED);
    }
    return answer == 1;
}

CpuPath resolve_cpu_path(CpuPath path) {
    if (path != CpuPath::kAutomatic) return path;
    const CpuPath widest_first[] = {CpuPath::kAvx512, CpuPath::kAvx2, CpuPath::kBaseline};
    for (CpuPath widest : widest_first)
        if (cpu_path_supported(widest)) return widest;
    return CpuPath::kPlain;
}

const char* cpu_path_name(CpuPath path) {
    switch (path) {
        case CpuPath::kPlain: return "plain";
        case CpuPath::kBaseline: return kBaselinePathName;
        case CpuPath::kAvx2: return "avx2";
        case CpuPath::kAvx512: return "avx512";
        case CpuPath::kAutomatic: return "automatic";
    }
    return "unknown";
}
