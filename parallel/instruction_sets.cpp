#include "instruction_sets.h"

bool cpu_path_supported(CpuPath path) {
    return path == CpuPath::kPlain || path == CpuPath::kAutomatic || family_supports(path);
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
