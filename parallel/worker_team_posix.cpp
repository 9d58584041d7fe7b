// The worker team on POSIX threads (Linux and macOS); worker_team_windows.cpp
// has the one for 64-bit Windows.
#include "instruction_sets.h"
#include "team_gate.h"
#include "worker_team.h"

#if FAST_PATHS_AVAILABLE && !defined(_WIN32)

#include <pthread.h>
#include <signal.h>

#if defined(__APPLE__)
#include <sys/sysctl.h>

int32_t allowed_cpu_count() {
    // macOS has no affinity mask: the processors the system keeps active.
    int count = 0;
    size_t size = sizeof count;
    if (sysctlbyname("hw.activecpu", &count, &size, nullptr, 0) == 0 && count > 0) return count;
    return 1;
}
#else
#include <sched.h>
#include <unistd.h>

int32_t allowed_cpu_count() {
    // Room for 8192 processors; a larger machine falls back to the count
    // of processors online.
    uint64_t mask[128] = {};
    if (sched_getaffinity(0, sizeof mask, reinterpret_cast<cpu_set_t*>(mask)) == 0) {
        int64_t count = 0;
        for (uint64_t word : mask)
            for (; word != 0; word &= word - 1) ++count;
        if (count > 0) return count < INT32_MAX ? static_cast<int32_t>(count) : INT32_MAX;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 && online < INT32_MAX ? static_cast<int32_t>(online) : 1;
}
#endif

namespace {

struct PosixSync {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    PosixSync() {
        pthread_mutex_init(&mutex, nullptr);
        pthread_cond_init(&cond, nullptr);
    }
    ~PosixSync() {
        pthread_cond_destroy(&cond);
        pthread_mutex_destroy(&mutex);
    }
    PosixSync(const PosixSync&) = delete;
    PosixSync& operator=(const PosixSync&) = delete;
    void lock() { pthread_mutex_lock(&mutex); }
    void unlock() { pthread_mutex_unlock(&mutex); }
    void sleep() { pthread_cond_wait(&cond, &mutex); }
    void wake_all() { pthread_cond_broadcast(&cond); }
};

// A Linux thread starts with its creator's floating-point state; a macOS
// thread with the default one (xnu: the arm64 FPCR is 0, the x86_64 MXCSR
// 0x1f80), so there each member loads the caller's control register
// (rounding direction, flush-to-zero) and computes as the host has set.
#if defined(__APPLE__) && defined(__aarch64__)
typedef uint64_t FloatControl;
FloatControl callers_float_control() {
    uint64_t fpcr;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr));
    return fpcr;
}
void load_float_control(FloatControl fpcr) {
    __asm__ __volatile__("msr fpcr, %0" : : "r"(fpcr));
}
#elif defined(__APPLE__)
typedef unsigned FloatControl;
FloatControl callers_float_control() { return __builtin_ia32_stmxcsr(); }
void load_float_control(FloatControl mxcsr) { __builtin_ia32_ldmxcsr(mxcsr); }
#else
struct FloatControl {};
FloatControl callers_float_control() { return {}; }
void load_float_control(FloatControl) {}
#endif

}  // namespace

struct TeamBarrier {
    TeamGate<PosixSync> gate;
    FloatControl float_control;
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
    load_float_control(barrier->float_control);
    const int32_t count = barrier->gate.wait_open();
    barrier->body(barrier->context, TeamMember{launch->index, count, barrier});
    return nullptr;
}

// Every signal but those a fault raises on the faulting thread itself.
sigset_t asynchronous_signals() {
    sigset_t signals;
    sigfillset(&signals);
    static const int kFaults[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};
    for (int fault : kFaults) sigdelset(&signals, fault);
    return signals;
}

}  // namespace

void run_team(int32_t count, TeamBody body, void* context) {
    if (count > kMostThreads) count = kMostThreads;
    if (count <= 1) {
        body(context, TeamMember{0, 1, nullptr});
        return;
    }
    TeamBarrier barrier{{}, callers_float_control(), body, context};

    // Threads start with their creator's signal mask: the workers block
    // the host's signals, and the calling thread gets its own mask back.
    const sigset_t blocked = asynchronous_signals();
    sigset_t callers_mask;
    pthread_sigmask(SIG_SETMASK, &blocked, &callers_mask);
    pthread_t threads[kMostThreads];
    Launch launches[kMostThreads];
    int32_t started = 0;
    for (int32_t index = 1; index < count; ++index) {
        launches[index] = Launch{&barrier, index};
        if (pthread_create(&threads[index], nullptr, member_main, &launches[index]) != 0) break;
        started = index;
    }
    pthread_sigmask(SIG_SETMASK, &callers_mask, nullptr);

    barrier.gate.open(started + 1);
    body(context, TeamMember{0, started + 1, &barrier});
    for (int32_t index = 1; index <= started; ++index) pthread_join(threads[index], nullptr);
}

void team_wait(const TeamMember& member) {
    if (member.count > 1) member.barrier->gate.wait();
}

#endif
