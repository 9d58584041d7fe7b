// The worker team's threads on 64-bit Windows: CreateThread for the
// members, an SRW lock and two condition variables for the schedule
// (team_schedule.h). All of it comes from KERNEL32.
#include "team_schedule.h"

#if FAST_PATHS_AVAILABLE && defined(_WIN32)

#include <windows.h>

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

void open_schedule(void* storage, int32_t threads, const TeamWork& work) {
    ScheduleIn<WindowsTeam>::open(storage, threads, work);
}
void run_schedule_phase(void* storage, int32_t phase) {
    ScheduleIn<WindowsTeam>::run_phase(storage, phase);
}
void close_schedule(void* storage) { ScheduleIn<WindowsTeam>::close(storage); }

#endif
