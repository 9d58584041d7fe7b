// The processors a macOS process may run a team on. macOS has no affinity
// mask: the processors the system keeps active.
#include "instruction_sets.h"
#include "worker_team.h"

#if FAST_PATHS_AVAILABLE && defined(__APPLE__)

#include <sys/sysctl.h>

int32_t system_processors() {
    int count = 0;
    size_t size = sizeof count;
    if (sysctlbyname("hw.activecpu", &count, &size, nullptr, 0) == 0 && count > 0) return count;
    return 1;
}

#endif
