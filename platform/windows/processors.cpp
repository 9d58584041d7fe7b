// The processors a Windows process may run a team on: those of its
// processor group that its affinity mask allows.
#include "instruction_sets.h"
#include "worker_team.h"

#if FAST_PATHS_AVAILABLE && defined(_WIN32)

#include <windows.h>

int32_t system_processors() {
    DWORD_PTR process_mask = 0, system_mask = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask)) return 1;
    int32_t count = 0;
    for (unsigned long long word = process_mask; word != 0; word &= word - 1) ++count;
    return count > 0 ? count : 1;
}

#endif
