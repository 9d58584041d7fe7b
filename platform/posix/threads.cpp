// The worker team's threads on POSIX systems (Linux, macOS): pthreads, one
// mutex and two condition variables for the schedule (team_schedule.h).
#include "team_schedule.h"

#if FAST_PATHS_AVAILABLE && (defined(__linux__) || defined(__APPLE__))

#include <pthread.h>
#include <signal.h>

namespace {

struct PosixSync {
    pthread_mutex_t mutex;
    pthread_cond_t members;
    pthread_cond_t caller;
    PosixSync() {
        pthread_mutex_init(&mutex, nullptr);
        pthread_cond_init(&members, nullptr);
        pthread_cond_init(&caller, nullptr);
    }
    ~PosixSync() {
        pthread_cond_destroy(&caller);
        pthread_cond_destroy(&members);
        pthread_mutex_destroy(&mutex);
    }
    PosixSync(const PosixSync&) = delete;
    PosixSync& operator=(const PosixSync&) = delete;
    pthread_cond_t* of(Waiters waiters) { return waiters == Waiters::kCaller ? &caller : &members; }
    void lock() { pthread_mutex_lock(&mutex); }
    void unlock() { pthread_mutex_unlock(&mutex); }
    void sleep(Waiters waiters) { pthread_cond_wait(of(waiters), &mutex); }
    void wake_one(Waiters waiters) { pthread_cond_signal(of(waiters)); }
    void wake_all(Waiters waiters) { pthread_cond_broadcast(of(waiters)); }
};

// Every signal but those a fault raises on the faulting thread itself.
sigset_t asynchronous_signals() {
    sigset_t signals;
    sigfillset(&signals);
    static const int kFaults[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};
    for (int fault : kFaults) sigdelset(&signals, fault);
    return signals;
}

struct PosixTeam {
    typedef PosixSync Sync;
    typedef pthread_t Thread;
    static bool start(Thread& thread, void* launch, bool from_caller);
    static void join(Thread& thread) { pthread_join(thread, nullptr); }
};

void* member_thread(void* launch) {
    TeamSchedule<PosixTeam>::member_entry(launch);
    return nullptr;
}

bool PosixTeam::start(Thread& thread, void* launch, bool from_caller) {
    // Threads start with their creator's signal mask: members block the
    // host's signals, and the calling thread gets its own mask back.
    if (!from_caller) return pthread_create(&thread, nullptr, member_thread, launch) == 0;
    const sigset_t blocked = asynchronous_signals();
    sigset_t callers_mask;
    pthread_sigmask(SIG_SETMASK, &blocked, &callers_mask);
    const bool started = pthread_create(&thread, nullptr, member_thread, launch) == 0;
    pthread_sigmask(SIG_SETMASK, &callers_mask, nullptr);
    return started;
}

}  // namespace

void open_schedule(void* storage, int32_t threads, const TeamWork& work) {
    ScheduleIn<PosixTeam>::open(storage, threads, work);
}
void run_schedule_phase(void* storage, int32_t phase) {
    ScheduleIn<PosixTeam>::run_phase(storage, phase);
}
void close_schedule(void* storage) { ScheduleIn<PosixTeam>::close(storage); }

#endif
