// The team-size rule, and the team of one; the threaded teams are in
// worker_team_posix.cpp and worker_team_windows.cpp (team_schedule.h).
#include "worker_team.h"

#include "instruction_sets.h"

int32_t team_size(int32_t allowed_cpus, uint64_t work, uint64_t small_work) {
    if (work < small_work || allowed_cpus < 1) return 1;
    return allowed_cpus < kMostThreads ? allowed_cpus : kMostThreads;
}

int32_t threads_for(int32_t requested, uint64_t work, uint64_t small_work) {
    if (requested > 0) return requested < kMostThreads ? requested : kMostThreads;
    return team_size(allowed_cpu_count(), work, small_work);
}

int32_t one_phase(void*, int32_t finished) { return finished == kTeamStart ? 0 : kTeamDone; }

void run_shares_in_turn(const TeamWork& work) {
    for (int32_t phase = work.next_phase(work.context, kTeamStart); phase != kTeamDone;
         phase = work.next_phase(work.context, phase))
        for (int32_t share = 0; share < work.shares; ++share)
            work.run_share(work.context, phase, share);
}

#if !FAST_PATHS_AVAILABLE

int32_t allowed_cpu_count() { return 1; }

void run_team(int32_t, const TeamWork& work) { run_shares_in_turn(work); }

#endif
