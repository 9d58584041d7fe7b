// The worker team both fast paths run on, driven by its caller.
//
// A core opens a team for one call and runs its work phase by phase, the
// serial steps between phases as plain code on the calling thread:
//
//     WorkerTeam team(plan.threads, {plan.shares, run_share, &call});
//     team.run(kExponentiate);           // every share of the phase, then back
//     for (...) {
//         if (poll.after(work)) return;  // the interrupt check, a plain if
//         call.q0 = reference_q0(...);    // a serial step
//         team.run(kSweep);
//         team.stop();                    // no worker alive: the host may be called
//         progress.advance(...);
//     }
//
// Every phase is split into the same number of shares, each run once, and
// a phase is over when all its shares are. Which thread runs a share is not
// fixed: a member takes the next share nobody has taken, so results must
// not depend on it, and a member that gets no processor holds nobody up.
// Members are started while there are shares left over for them (each
// started member may start two more), so a team asked for more threads
// than the processors that are free in fact starts few of them.
//
// No worker outlives its team: stop() and the team's end join them all.
// The callers keep every call into the host outside a running team: a host
// may leave the plug-in at any such call without returning (an error, an
// interrupt), and it must then leave no thread behind. The one exception,
// the question whether the user has interrupted the call (core_call.h),
// only reads the host's state and always returns; the calling thread asks
// it between phases. Workers block every asynchronous signal, which belongs
// to the host's thread, and compute in their caller's floating-point
// control (rounding direction, flush-to-zero).
#pragma once

#include <stddef.h>
#include <stdint.h>

// More threads than this never pay for an image or a score volume here.
constexpr int32_t kMostThreads = 64;

// Runs share `share` (0 .. shares - 1) of `phase`.
typedef void (*ShareRunner)(void* context, int32_t phase, int32_t share);

struct TeamWork {
    int32_t shares;  // of every phase, at least 1
    ShareRunner run_share;
    void* context;
};

// The first of `total` items that share `part` of `parts` takes.
inline uint64_t share_start(uint64_t total, int32_t part, int32_t parts) {
    return total * static_cast<uint64_t>(part) / static_cast<uint64_t>(parts);
}

// The processors this process may run a team on, at least 1: what the
// system allows it (system_processors), or fewer where OMP_NUM_THREADS is
// set to a positive integer, as process pools and dask's workers set it.
int32_t processors_allowed();

// The processors the system lets this process run on, at least 1: its
// affinity mask, or on Linux the CPU time its control group's quota allows
// where that is fewer (platform/*/processors.cpp).
int32_t system_processors();

// The threads the teams of this process have started so far.
uint64_t worker_threads_started();
// Counts one more; the platforms' thread layers call it.
void count_worker_thread_started();

// The automatic team size: one thread for work below `small_work` items,
// else one per processor allowed, at most kMostThreads.
int32_t team_size(int32_t processors, uint64_t work, uint64_t small_work);

// How a core splits one call's work: `shares` parts a phase, run on
// `threads` threads at most.
struct TeamPlan {
    int32_t shares;
    int32_t threads;
};

// A caller's `requested` count of parts (at most kMostThreads), or for 0
// and below the automatic size; never more threads than processors.
TeamPlan plan_team(int32_t requested, uint64_t work, uint64_t small_work);

// The room a platform's schedule takes inside a team.
constexpr size_t kTeamScheduleBytes = 4096;

struct WorkerTeam {
    // Starts no thread yet: members start as the first phase runs.
    WorkerTeam(int32_t threads, const TeamWork& work);
    ~WorkerTeam() { stop(); }
    WorkerTeam(const WorkerTeam&) = delete;
    WorkerTeam& operator=(const WorkerTeam&) = delete;

    // Runs every share of `phase` on the team, the calling thread one of
    // its members, and returns once all are done.
    void run(int32_t phase);
    // Joins every member; a later run starts them again.
    void stop();

    const TeamWork work;
    const int32_t threads;  // members at most, the caller included
    bool schedule_open = false;
    alignas(64) unsigned char schedule[kTeamScheduleBytes];
};

// The platform's side of a team (platform/posix/threads.cpp,
// platform/windows/threads.cpp, platform/serial/threads.cpp): a schedule of
// `threads` members (2 .. kMostThreads, at most work.shares) made in
// `storage`, its phases, and its end, which joins every member.
void open_schedule(void* storage, int32_t threads, const TeamWork& work);
void run_schedule_phase(void* storage, int32_t phase);
void close_schedule(void* storage);
