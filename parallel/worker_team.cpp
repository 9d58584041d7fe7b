// The team-size rules and the team's one-thread case; the threaded
// schedule is the platform's (team_schedule.h).
#include "worker_team.h"

#include <stdlib.h>

namespace {

uint64_t threads_started = 0;

// The first number of OMP_NUM_THREADS ("4", or "4,2" for nested levels),
// where it is a positive integer; 0 otherwise.
int32_t thread_cap_from_environment() {
    const char* text = getenv("OMP_NUM_THREADS");
    if (text == nullptr) return 0;
    while (*text == ' ') ++text;
    int64_t cap = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        cap = cap * 10 + (*text - '0');
        if (cap > kMostThreads) cap = kMostThreads;
    }
    while (*text == ' ') ++text;
    return *text == '\0' || *text == ',' ? static_cast<int32_t>(cap) : 0;
}

}  // namespace

int32_t processors_allowed() {
    const int32_t system = system_processors();
    const int32_t cap = thread_cap_from_environment();
    return cap > 0 && cap < system ? cap : system;
}

uint64_t worker_threads_started() { return __atomic_load_n(&threads_started, __ATOMIC_RELAXED); }

void count_worker_thread_started() { __atomic_add_fetch(&threads_started, 1, __ATOMIC_RELAXED); }

int32_t team_size(int32_t processors, uint64_t work, uint64_t small_work) {
    if (work < small_work || processors < 1) return 1;
    return processors < kMostThreads ? processors : kMostThreads;
}

TeamPlan plan_team(int32_t requested, uint64_t work, uint64_t small_work) {
    const int32_t processors = processors_allowed();
    const int32_t shares = requested > 0 ? (requested < kMostThreads ? requested : kMostThreads)
                                         : team_size(processors, work, small_work);
    return {shares, shares < processors ? shares : processors};
}

namespace {

int32_t members_for(int32_t threads, int32_t shares) {
    if (threads > kMostThreads) threads = kMostThreads;
    return threads < shares ? threads : shares;
}

}  // namespace

WorkerTeam::WorkerTeam(int32_t threads, const TeamWork& work)
    : work(work), threads(members_for(threads, work.shares)) {}

void WorkerTeam::run(int32_t phase) {
    if (threads <= 1) {
        for (int32_t share = 0; share < work.shares; ++share) work.run_share(work.context, phase, share);
        return;
    }
    if (!schedule_open) {
        open_schedule(schedule, threads, work);
        schedule_open = true;
    }
    run_schedule_phase(schedule, phase);
}

void WorkerTeam::stop() {
    if (!schedule_open) return;
    close_schedule(schedule);
    schedule_open = false;
}
