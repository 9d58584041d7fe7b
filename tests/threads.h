// The threads of this process, as /proc/self/task lists them.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstddef>

inline size_t threads_in_process() {
    size_t count = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return 0;
    while (const dirent* entry = readdir(tasks))
        if (entry->d_name[0] != '.') ++count;
    closedir(tasks);
    return count;
}

// The thread count once it has come down to `expected`, or after a tenth
// of a second: a joined thread can stay listed for a moment while the
// kernel finishes its exit, a thread left waiting stays for good.
inline size_t threads_settled_at(size_t expected) {
    size_t count = threads_in_process();
    for (int wait = 0; wait < 100 && count > expected; ++wait) {
        usleep(1000);
        count = threads_in_process();
    }
    return count;
}
