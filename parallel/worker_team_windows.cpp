// The worker team on Win32 threads (64-bit Windows): CreateThread for the
// members, an SRW lock and a condition variable for the barrier, every
// member joined before run_team returns. All of it comes from KERNEL32.
#include "instruction_sets.h"
#include "worker_team.h"

#if FAST_PATHS_AVAILABLE && defined(_WIN32)

#include <windows.h>

int32_t allowed_cpu_count() {
    // The processors of the process's group that its affinity mask allows.
    DWORD_PTR process_mask = 0, system_mask = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask)) return 1;
    int32_t count = 0;
    for (unsigned long long word = process_mask; word != 0; word &= word - 1) ++count;
    return count > 0 ? count : 1;
}

struct TeamBarrier {
    SRWLOCK lock;
    CONDITION_VARIABLE cond;
    int32_t count;
    int32_t arrived;
    uint32_t generation;
    bool open;  // the team's size is final and the members may start
    unsigned mxcsr;  // the caller's SSE control and status register
    TeamBody body;
    void* context;
};

namespace {

// About 50 microseconds of spinning at a barrier before sleeping.
constexpr int kSpinsBeforeSleep = 2000;

// The members need little stack: the sweeps keep a few kilobytes of
// columns there.
constexpr SIZE_T kMemberStack = 256 * 1024;

struct Launch {
    TeamBarrier* barrier;
    int32_t index;
};

DWORD WINAPI member_main(void* argument) {
    const Launch* launch = static_cast<const Launch*>(argument);
    TeamBarrier* barrier = launch->barrier;
    __builtin_ia32_ldmxcsr(barrier->mxcsr);
    AcquireSRWLockExclusive(&barrier->lock);
    while (!barrier->open) SleepConditionVariableSRW(&barrier->cond, &barrier->lock, INFINITE, 0);
    const int32_t count = barrier->count;
    ReleaseSRWLockExclusive(&barrier->lock);
    barrier->body(barrier->context, TeamMember{launch->index, count, barrier});
    return 0;
}

}  // namespace

void run_team(int32_t count, TeamBody body, void* context) {
    if (count > kMostThreads) count = kMostThreads;
    if (count <= 1) {
        body(context, TeamMember{0, 1, nullptr});
        return;
    }
    TeamBarrier barrier;
    InitializeSRWLock(&barrier.lock);
    InitializeConditionVariable(&barrier.cond);
    barrier.count = 1;
    barrier.arrived = 0;
    barrier.generation = 0;
    barrier.open = false;
    // A new thread starts with the default floating-point state, not its
    // creator's as on Linux: each member loads the caller's SSE control
    // register (rounding direction, flush-to-zero, denormals-are-zero), so
    // every member computes as the host has set. The fast paths do no x87
    // arithmetic.
    barrier.mxcsr = __builtin_ia32_stmxcsr();
    barrier.body = body;
    barrier.context = context;

    HANDLE threads[kMostThreads];
    Launch launches[kMostThreads];
    int32_t started = 0;
    for (int32_t index = 1; index < count; ++index) {
        launches[index] = Launch{&barrier, index};
        threads[index] = CreateThread(nullptr, kMemberStack, member_main, &launches[index],
                                      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (threads[index] == nullptr) break;
        started = index;
    }

    AcquireSRWLockExclusive(&barrier.lock);
    barrier.count = started + 1;
    barrier.open = true;
    ReleaseSRWLockExclusive(&barrier.lock);
    WakeAllConditionVariable(&barrier.cond);

    body(context, TeamMember{0, started + 1, &barrier});
    // A thread's handle is signalled once the thread has ended: none is
    // left running when run_team returns.
    for (int32_t index = 1; index <= started; ++index) {
        WaitForSingleObject(threads[index], INFINITE);
        CloseHandle(threads[index]);
    }
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
        AcquireSRWLockExclusive(&barrier->lock);
        __atomic_store_n(&barrier->generation, generation + 1, __ATOMIC_RELEASE);
        ReleaseSRWLockExclusive(&barrier->lock);
        WakeAllConditionVariable(&barrier->cond);
        return;
    }
    for (int spin = 0; spin < kSpinsBeforeSleep; ++spin) {
        if (__atomic_load_n(&barrier->generation, __ATOMIC_ACQUIRE) != generation) return;
        __builtin_ia32_pause();
    }
    AcquireSRWLockExclusive(&barrier->lock);
    while (__atomic_load_n(&barrier->generation, __ATOMIC_ACQUIRE) == generation)
        SleepConditionVariableSRW(&barrier->cond, &barrier->lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&barrier->lock);
}

#endif
