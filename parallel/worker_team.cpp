// The team-size rule, and the team of one where the fast paths do not
// exist; the threaded teams are in worker_team_posix.cpp and
// worker_team_windows.cpp.
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

#if !FAST_PATHS_AVAILABLE

int32_t allowed_cpu_count() { return 1; }

void run_team(int32_t, TeamBody body, void* context) { body(context, TeamMember{0, 1, nullptr}); }

void team_wait(const TeamMember&) {}

#endif
