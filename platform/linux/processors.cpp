// The processors a Linux process may run a team on: its affinity mask
// (taskset, cpusets, cluster schedulers narrow it), or the CPU time its
// control group's quota allows where that is fewer (cgroup_quota.h).
#include "instruction_sets.h"
#include "worker_team.h"

#if FAST_PATHS_AVAILABLE && defined(__linux__)

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "cgroup_quota.h"

namespace {

bool read_text(void*, const char* path, char* buffer, size_t size) {
    const int file = open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    size_t used = 0;
    while (used + 1 < size) {
        const ssize_t got = read(file, buffer + used, size - 1 - used);
        if (got <= 0) break;
        used += static_cast<size_t>(got);
    }
    close(file);
    buffer[used] = '\0';
    return true;
}

bool contains(const char* text, const char* part) {
    for (; *text != '\0'; ++text) {
        size_t k = 0;
        while (part[k] != '\0' && text[k] == part[k]) ++k;
        if (part[k] == '\0') return true;
    }
    return false;
}

// The cgroup mounts of /proc/self/mountinfo, which on a busy machine lists
// thousands of other mounts: only lines of type cgroup or cgroup2 are kept.
bool read_cgroup_mounts(char* buffer, size_t size) {
    const int file = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    char chunk[4096], line[1024];
    size_t used = 0, line_length = 0;
    bool too_long = false;
    for (ssize_t got; (got = read(file, chunk, sizeof chunk)) > 0;) {
        for (ssize_t k = 0; k < got; ++k) {
            if (chunk[k] != '\n') {
                if (line_length + 1 < sizeof line) line[line_length++] = chunk[k];
                else too_long = true;
                continue;
            }
            line[line_length] = '\0';
            if (!too_long && contains(line, " - cgroup") && used + line_length + 2 < size) {
                for (size_t p = 0; p < line_length; ++p) buffer[used++] = line[p];
                buffer[used++] = '\n';
            }
            line_length = 0;
            too_long = false;
        }
    }
    close(file);
    buffer[used] = '\0';
    return true;
}

int32_t affinity_count() {
    // Room for 8192 processors; a larger machine falls back to the count
    // of processors online.
    uint64_t mask[128] = {};
    if (sched_getaffinity(0, sizeof mask, reinterpret_cast<cpu_set_t*>(mask)) == 0) {
        int64_t count = 0;
        for (uint64_t word : mask)
            for (; word != 0; word &= word - 1) ++count;
        if (count > 0) return count < INT32_MAX ? static_cast<int32_t>(count) : INT32_MAX;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 && online < INT32_MAX ? static_cast<int32_t>(online) : 1;
}

}  // namespace

int32_t system_processors() {
    const int32_t affinity = affinity_count();
    char groups[4096], mounts[16384];
    if (!read_text(nullptr, "/proc/self/cgroup", groups, sizeof groups) ||
        !read_cgroup_mounts(mounts, sizeof mounts))
        return affinity;
    const int32_t quota = cgroup_cpu_limit(groups, mounts, read_text, nullptr);
    return quota > 0 && quota < affinity ? quota : affinity;
}

#endif
