// The worker team on Win32 threads (64-bit Windows): CreateThread for the
// members, an SRW lock and two condition variables for the schedule, every
// member joined before run_team returns. All of it comes from KERNEL32.
#include "instruction_sets.h"
#include "team_schedule.h"
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
    CONDITION_VARIABLE members;
    CONDITION_VARIABLE caller;
    WindowsSync() {
        InitializeSRWLock(&srw);
        InitializeConditionVariable(&members);
        InitializeConditionVariable(&caller);
    }
    WindowsSync(const WindowsSync&) = delete;
    WindowsSync& operator=(const WindowsSync&) = delete;
    CONDITION_VARIABLE* of(Waiters waiters) {
        return waiters == Waiters::kCaller ? &caller : &members;
    }
    void lock() { AcquireSRWLockExclusive(&srw); }
    void unlock() { ReleaseSRWLockExclusive(&srw); }
    void sleep(Waiters waiters) { SleepConditionVariableSRW(of(waiters), &srw, INFINITE, 0); }
    void wake_one(Waiters waiters) { WakeConditionVariable(of(waiters)); }
    void wake_all(Waiters waiters) { WakeAllConditionVariable(of(waiters)); }
};

// The members need little stack: the sweeps keep a few kilobytes of
// columns there.
constexpr SIZE_T kMemberStack = 256 * 1024;

struct WindowsTeam {
    typedef WindowsSync Sync;
    typedef HANDLE Thread;

    // A new thread starts with the default floating-point state, not its
    // creator's as on Linux: each member loads the caller's SSE control
    // register (rounding direction, flush-to-zero, denormals-are-zero), so
    // every member computes as the host has set. The fast paths do no x87
    // arithmetic.
    typedef unsigned FloatControl;
    static FloatControl callers_float_control() { return __builtin_ia32_stmxcsr(); }
    static void load_float_control(FloatControl mxcsr) { __builtin_ia32_ldmxcsr(mxcsr); }

    static bool start(Thread& thread, void* launch, bool from_caller);
    // A thread's handle is signalled once the thread has ended.
    static void join(Thread& thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
};

DWORD WINAPI member_thread(void* launch) {
    TeamSchedule<WindowsTeam>::member_entry(launch);
    return 0;
}

bool WindowsTeam::start(Thread& thread, void* launch, bool) {
    thread = CreateThread(nullptr, kMemberStack, member_thread, launch,
                          STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    return thread != nullptr;
}

}  // namespace

void run_team(int32_t threads, const TeamWork& work) {
    run_scheduled<WindowsTeam>(threads, work, allowed_cpu_count());
}

#endif
