#include "fast_paths.h"

#if FAST_PATHS_AVAILABLE
#include <cpuid.h>
#include <pthread.h>
#include <unistd.h>
#endif

namespace {

// More threads than this never pay for an image or a score volume here.
constexpr int32_t kMostThreads = 64;

// About 50 microseconds of spinning at a barrier before sleeping.
constexpr int kSpinsBeforeSleep = 2000;

#if FAST_PATHS_AVAILABLE
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

// XCR0: SSE and AVX state; with the three AVX-512 states besides.
constexpr uint32_t kAvxState = 0x6;
constexpr uint32_t kAvx512State = 0xe6;
#endif

}  // namespace

bool cpu_path_supported(CpuPath path) {
    switch (path) {
        case CpuPath::kPlain:
        case CpuPath::kAutomatic: return true;
#if FAST_PATHS_AVAILABLE
        case CpuPath::kBaseline: return true;
        case CpuPath::kAvx2: return processor_has(bit_AVX2, kAvxState);
        case CpuPath::kAvx512: return processor_has(bit_AVX512F, kAvx512State);
#else
        default: return false;
#endif
    }
    return false;
}

CpuPath resolve_cpu_path(CpuPath path) {
    if (path != CpuPath::kAutomatic) return path;
    if (cpu_path_supported(CpuPath::kAvx512)) return CpuPath::kAvx512;
    if (cpu_path_supported(CpuPath::kAvx2)) return CpuPath::kAvx2;
    if (cpu_path_supported(CpuPath::kBaseline)) return CpuPath::kBaseline;
    return CpuPath::kPlain;
}

const char* cpu_path_name(CpuPath path) {
    switch (path) {
        case CpuPath::kPlain: return "plain";
        case CpuPath::kBaseline: return "baseline";
        case CpuPath::kAvx2: return "avx2";
        case CpuPath::kAvx512: return "avx512";
        case CpuPath::kAutomatic: return "automatic";
    }
    return "unknown";
}

int32_t requested_threads(const PathChoice& choice) {
    int32_t threads = choice.threads;
#if FAST_PATHS_AVAILABLE
    if (threads <= 0) {
        const long online = sysconf(_SC_NPROCESSORS_ONLN);
        threads = online > 0 && online < kMostThreads ? static_cast<int32_t>(online) : 1;
    }
#endif
    if (threads < 1) threads = 1;
    return threads < kMostThreads ? threads : kMostThreads;
}

#if FAST_PATHS_AVAILABLE

struct TeamBarrier {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    int32_t count;
    int32_t arrived;
    uint32_t generation;
    bool open;  // the team's size is final and the members may start
    TeamBody body;
    void* context;
};

namespace {

struct Launch {
    TeamBarrier* barrier;
    int32_t index;
};

void* member_main(void* argument) {
    const Launch* launch = static_cast<const Launch*>(argument);
    TeamBarrier* barrier = launch->barrier;
    pthread_mutex_lock(&barrier->mutex);
    while (!barrier->open) pthread_cond_wait(&barrier->cond, &barrier->mutex);
    const int32_t count = barrier->count;
    pthread_mutex_unlock(&barrier->mutex);
    barrier->body(barrier->context, TeamMember{launch->index, count, barrier});
    return nullptr;
}

}  // namespace

void run_team(int32_t count, TeamBody body, void* context) {
    if (count > kMostThreads) count = kMostThreads;
    if (count <= 1) {
        body(context, TeamMember{0, 1, nullptr});
        return;
    }
    TeamBarrier barrier;
    pthread_mutex_init(&barrier.mutex, nullptr);
    pthread_cond_init(&barrier.cond, nullptr);
    barrier.count = 1;
    barrier.arrived = 0;
    barrier.generation = 0;
    barrier.open = false;
    barrier.body = body;
    barrier.context = context;

    pthread_t threads[kMostThreads];
    Launch launches[kMostThreads];
    int32_t started = 0;
    for (int32_t index = 1; index < count; ++index) {
        launches[index] = Launch{&barrier, index};
        if (pthread_create(&threads[index], nullptr, member_main, &launches[index]) != 0) break;
        started = index;
    }
    pthread_mutex_lock(&barrier.mutex);
    barrier.count = started + 1;
    barrier.open = true;
    pthread_cond_broadcast(&barrier.cond);
    pthread_mutex_unlock(&barrier.mutex);

    body(context, TeamMember{0, started + 1, &barrier});
    for (int32_t index = 1; index <= started; ++index) pthread_join(threads[index], nullptr);
    pthread_cond_destroy(&barrier.cond);
    pthread_mutex_destroy(&barrier.mutex);
}

// A member that arrives early spins a little before it sleeps: the others
// usually follow within microseconds, and waking a sleeping thread takes
// longer than that.
void team_wait(const TeamMember& member) {
    if (member.count <= 1) return;
    TeamBarrier* barrier = member.barrier;
    const uint32_t generation = __atomic_load_n(&barrier->generation, __ATOMIC_ACQUIRE);
    if (__atomic_add_fetch(&barrier->arrived, 1, __ATOMIC_ACQ_REL) == barrier->count) {
        // The others cannot leave before the generation moves on, so none
        // of them arrives at the next barrier before this reset.
        __atomic_store_n(&barrier->arrived, 0, __ATOMIC_RELAXED);
        pthread_mutex_lock(&barrier->mutex);
        __atomic_store_n(&barrier->generation, generation + 1, __ATOMIC_RELEASE);
        pthread_cond_broadcast(&barrier->cond);
        pthread_mutex_unlock(&barrier->mutex);
        return;
    }
    for (int spin = 0; spin < kSpinsBeforeSleep; ++spin) {
        if (__atomic_load_n(&barrier->generation, __ATOMIC_ACQUIRE) != generation) return;
        __builtin_ia32_pause();
    }
    pthread_mutex_lock(&barrier->mutex);
    while (__atomic_load_n(&barrier->generation, __ATOMIC_ACQUIRE) == generation)
        pthread_cond_wait(&barrier->cond, &barrier->mutex);
    pthread_mutex_unlock(&barrier->mutex);
}

#else

void run_team(int32_t, TeamBody body, void* context) { body(context, TeamMember{0, 1, nullptr}); }

void team_wait(const TeamMember&) {}

#endif
