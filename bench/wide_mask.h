// The processor mask the worker team reads, as a benchmark sets it: 64
// processors while a row asks for it (as where other processes keep most
// of a large machine's processors busy), else the real one. The executable
// defines sched_getaffinity itself, so that the team, linked in or loaded
// with a plug-in, calls this one.
#pragma once

#include <sched.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

inline bool g_report_wide_mask = false;

extern "C" int sched_getaffinity(pid_t pid, size_t size, cpu_set_t* mask) {
    if (g_report_wide_mask && size >= 8) {
        memset(mask, 0, size);
        memset(mask, 0xff, 8);
        return 0;
    }
    const long written = syscall(SYS_sched_getaffinity, pid, size, mask);
    if (written < 0) return -1;
    memset(reinterpret_cast<char*>(mask) + written, 0, size - static_cast<size_t>(written));
    return 0;
}
