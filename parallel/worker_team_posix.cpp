// The worker team on POSIX threads (64-bit x86 Linux); worker_team_windows.cpp
// has the one for 64-bit Windows.
#include "instruction_sets.h"
#include "worker_team.h"

#if FAST_PATHS_AVAILABLE && !defined(_WIN32)

#include <pthread.h>
#include <sched.h>
#include <signal.h>
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

// About 50 microseconds of spinning at a barrier before sleeping.
constexpr int kSpinsBeforeSleep = 2000;

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
    TeamBarrier barrier;
    pthread_mutex_init(&barrier.mutex, nullptr);
    pthread_cond_init(&barrier.cond, nullptr);
    barrier.count = 1;
    barrier.arrived = 0;
    barrier.generation = 0;
    barrier.open = false;
    barrier.body = body;
    barrier.context = context;

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

#endif
