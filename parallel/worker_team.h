// The worker team both fast paths run on, and how large it is.
//
// Work for a team comes in phases, each split into the same number of
// shares; every share of a phase is done before the next phase begins, and
// between phases the calling thread alone decides what comes next. Which
// thread runs a share is not fixed: a member takes the next share nobody
// has taken, so results must not depend on it, and a member that gets no
// processor holds nobody up. Members are started while there are shares
// left over for them (each started member may start two more), so a team
// asked for more threads than the processors that are free in fact starts
// few of them.
//
// One run_team call starts its members and joins them before it returns,
// so no worker outlives the call that started it. The callers keep every
// call into the host outside run_team: a host may leave the plug-in at any
// such call without returning (an error, an interrupt), and it must then
// leave no thread behind. The one exception, the question whether the user
// has interrupted the call (interrupt_check.h), only reads the host's
// state and always returns; the calling thread asks it between phases.
// Workers block every asynchronous signal, which belongs to the host's
// thread.
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

// What next_phase is told before the first phase, and returns to end.
constexpr int32_t kTeamStart = -1;
constexpr int32_t kTeamDone = -2;

// Runs share 0 .. shares - 1 of `phase`.
typedef void (*ShareRunner)(void* context, int32_t phase, int32_t share);

struct TeamWork {
    int32_t shares;  // of every phase, at least 1
    ShareRunner run_share;
    // Runs on the calling thread with no share running, first with
    // kTeamStart and then after each phase with that phase: the next phase
    // (0 or more), or kTeamDone.
    int32_t (*next_phase)(void* context, int32_t finished);
    void* context;
};

// The first of `total` items that share `part` of `parts` takes.
inline uint64_t share_start(uint64_t total, int32_t part, int32_t parts) {
    return total * static_cast<uint64_t>(part) / static_cast<uint64_t>(parts);
}

// next_phase for work of a single phase, phase 0.
int32_t one_phase(void* context, int32_t finished);

// Runs `work` on up to `threads` threads, the calling thread one of them:
// at most kMostThreads, one per share and one per processor in the
// process's affinity mask (a quota is left to the caller's team size).
// Fewer are started where the system refuses a thread or where members
// wait for a processor.
void run_team(int32_t threads, const TeamWork& work);

// The same on the calling thread alone.
void run_shares_in_turn(const TeamWork& work);
