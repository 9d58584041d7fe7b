// The worker team both fast paths run on, and how large it is.
//
// One run_team call runs a body on `count` threads: member 0 is the
// calling thread, the others are started for the call and joined before
// run_team returns, so no worker outlives the call that started it. The
// callers keep every call into the host outside run_team: a host may leave
// the plug-in at any such call without returning (an error, an interrupt),
// and it must then leave no thread behind. The one exception, the question
// whether the user has interrupted the call (interrupt_check.h), only reads
// the host's state and always returns; member 0 asks it while the others
// wait at a barrier. Workers block every asynchronous signal, which belongs
// to the host's thread.
#pragma once

#include <stdint.h>

// More threads than this never pay for an image or a score volume here.
constexpr int32_t kMostThreads = 64;

// The automatic team size: one thread for work below `small_work` items,
// else one per processor the process may use, at most kMostThreads.
int32_t team_size(int32_t allowed_cpus, uint64_t work, uint64_t small_work);

// The processors this process may run on: the count of its affinity mask
// (taskset, cpusets, cluster schedulers narrow it), or on Linux the CPU time
// its control group's quota allows where that is fewer (cpu_quota.h); at
// least 1.
int32_t allowed_cpu_count();

// A caller's `requested` thread count (at most kMostThreads), or for 0 and
// below the automatic size for this process.
int32_t threads_for(int32_t requested, uint64_t work, uint64_t small_work);

struct TeamBarrier;

struct TeamMember {
    int32_t index;  // 0 .. count - 1; 0 is the calling thread
    int32_t count;
    TeamBarrier* barrier;
};

typedef void (*TeamBody)(void* context, const TeamMember& member);

// Runs body on up to `count` threads (at most kMostThreads). If the system
// refuses a thread, the team is smaller; the body learns the real size from
// member.count before it first waits, so it must split its work by that
// count.
void run_team(int32_t count, TeamBody body, void* context);

// Waits until every member of the team has arrived.
void team_wait(const TeamMember& member);
