// The worker team on Win32 threads (64-bit Windows): CreateThread for the
// members, an SRW lock and a condition variable for the barrier, every
// member joined before run_team returns. All of it comes from KERNEL32.
#include "instruction_sets.h"
#include "team_gate.h"
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

namespace {

struct WindowsSync {
    SRWLOCK srw;
    CONDITION_VARIABLE cond;
    WindowsSync() {
        InitializeSRWLock(&srw);
        InitializeConditionVariable(&cond);
    }
    WindowsSync(const WindowsSync&) = delete;
    WindowsSync& operator=(const WindowsSync&) = delete;
    void lock() { AcquireSRWLockExclusive(&srw); }
    void unlock() { ReleaseSRWLockExclusive(&srw); }
    void sleep() { SleepConditionVariableSRW(&cond, &srw, INFINITE, 0); }
    void wake_all() { WakeAllConditionVariable(&cond); }
};

}  // namespace

struct TeamBarrier {
    TeamGate<WindowsSync> gate;
    unsigned mxcsr;  // the caller's SSE control and status register
    TeamBody body;
    void* context;
};

namespace {

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
    const int32_t count = barrier->gate.wait_open();
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
    // A new thread starts with the default floating-point state, not its
    // creator's as on Linux: each member loads the caller's SSE control
    // register (rounding direction, flush-to-zero, denormals-are-zero), so
    // every member computes as the host has set. The fast paths do no x87
    // arithmetic.
    TeamBarrier barrier{{}, __builtin_ia32_stmxcsr(), body, context};

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

    barrier.gate.open(started + 1, allowed_cpu_count());
    body(context, TeamMember{0, started + 1, &barrier});
    // A thread's handle is signalled once the thread has ended: none is
    // left running when run_team returns.
    for (int32_t index = 1; index <= started; ++index) {
        WaitForSingleObject(threads[index], INFINITE);
        CloseHandle(threads[index]);
    }
}

void team_wait(const TeamMember& member) {
    if (member.count > 1) member.barrier->gate.wait();
}

#endif
