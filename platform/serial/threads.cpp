// The team of a build without fast paths (the 32-bit Windows filter, a
// processor family without vectors here): one thread, the caller's.
#include "instruction_sets.h"
#include "worker_team.h"

#if !FAST_PATHS_AVAILABLE

int32_t system_processors() { return 1; }

// Never asked for more than one member, since system_processors() is 1;
// runs the shares in turn all the same.
void open_schedule(void* storage, int32_t, const TeamWork& work) {
    *static_cast<TeamWork*>(storage) = work;
}
void run_schedule_phase(void* storage, int32_t phase) {
    const TeamWork& work = *static_cast<const TeamWork*>(storage);
    for (int32_t share = 0; share < work.shares; ++share) work.run_share(work.context, phase, share);
}
void close_schedule(void*) {}

#endif
