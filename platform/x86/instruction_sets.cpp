// Which x86 fast paths the processor and the system can run.
#include "../processor_family.h"

#if defined(__GNUC__) && defined(__x86_64__)

#include <cpuid.h>

#if defined(__APPLE__)
#include <sys/sysctl.h>
#endif

namespace {

// Whether the processor has the instructions (cpuid leaf 7, register ebx
// bit `feature`) and the operating system saves the register state that
// they use (XCR0 bits `state`).
bool processor_has(unsigned feature, uint32_t state) {
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & bit_OSXSAVE) || !(ecx & bit_AVX))
        return false;
    uint32_t xcr0_low, xcr0_high;
    __asm__("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    if ((xcr0_low & state) != state) return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return (ebx & feature) != 0;
}

// XCR0: SSE and AVX state.
constexpr uint32_t kAvxState = 0x6;

bool avx512_usable() {
#if defined(__APPLE__)
    // macOS gives a thread the AVX-512 register state only at its first
    // AVX-512 instruction, so XCR0 does not show it beforehand; the kernel
    // says whether it will.
    int enabled = 0;
    size_t size = sizeof enabled;
    return processor_has(bit_AVX512F, kAvxState) &&
           sysctlbyname("hw.optional.avx512f", &enabled, &size, nullptr, 0) == 0 && enabled != 0;
#else
    // XCR0: SSE and AVX state, and the three AVX-512 states besides.
    constexpr uint32_t kAvx512State = 0xe6;
    return processor_has(bit_AVX512F, kAvx512State);
#endif
}

}  // namespace

bool family_supports(CpuPath path) {
    switch (path) {
        case CpuPath::kBaseline: return true;
        case CpuPath::kAvx2: return processor_has(bit_AVX2, kAvxState);
        case CpuPath::kAvx512: return avx512_usable();
        default: return false;
    }
}

#endif
