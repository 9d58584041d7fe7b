// The CPU time a Linux control group lets the process use, as a number of
// processors: containers and cluster jobs (docker --cpus, Kubernetes CPU
// limits, systemd's CPUQuota=) limit a process so and leave its affinity
// mask at every processor of the machine.
//
// The reading is a plain function over the texts of /proc/self/cgroup and
// /proc/self/mountinfo, with the controller files read through a callback,
// so that every case can be tried on any machine.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Reads the file at `path` into `buffer` (at most size - 1 bytes, then a
// terminating zero); false if it cannot be read.
typedef bool (*ReadText)(void* context, const char* path, char* buffer, size_t size);

// The processors the tightest CPU quota on the way from the process's group
// up to its hierarchy's root allows: a quota of q periods' worth of time per
// period allows ceil(q). Both hierarchies count where both are mounted:
// cgroup v2 (cpu.max, "max" being no quota) and v1's cpu controller
// (cpu.cfs_quota_us, -1 being no quota, over cpu.cfs_period_us). Returns 0
// where no quota applies or nothing can be read.
int32_t cgroup_cpu_limit(const char* cgroup_text, const char* mountinfo_text, ReadText read,
                         void* context);
