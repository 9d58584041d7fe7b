// The worker team on POSIX threads (Linux and macOS); worker_team_windows.cpp
// has the one for 64-bit Windows.
#include "instruction_sets.h"
#include "team_schedule.h"
#include "worker_team.h"

#if FAST_PATHS_AVAILABLE && !defined(_WIN32)

#include <pthread.h>
#include <signal.h>

#if defined(__APPLE__)
#include <sys/sysctl.h>

int32_t allowed_cpu_count() {
    // macOS has no affinity mask: the processors the system keeps active.
    int count = 0;
    size_t size = sizeof count;
    if (sysctlbyname("hw.activecpu", &count, &size, nullptr, 0) == 0 && count > 0) return count;
    return 1;
}

namespace {

int32_t processors_to_run_on() { return allowed_cpu_count(); }

}  // namespace
#else
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "cpu_quota.h"

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

// The affinity mask, without the quota files read for every team.
int32_t processors_to_run_on() { return affinity_count(); }

}  // namespace

int32_t allowed_cpu_count() {
    const int32_t affinity = affinity_count();
    char groups[4096], mounts[16384];
    if (!read_text(nullptr, "/proc/self/cgroup", groups, sizeof groups) ||
        !read_cgroup_mounts(mounts, sizeof mounts))
        return affinity;
    const int32_t quota = cgroup_cpu_limit(groups, mounts, read_text, nullptr);
    return quota > 0 && quota < affinity ? quota : affinity;
}
#endif

namespace {

struct PosixSync {
    pthread_mutex_t mutex;
    pthread_cond_t members;
    pthread_cond_t caller;
    PosixSync() {
        pthread_mutex_init(&mutex, nullptr);
        pthread_cond_init(&members, nullptr);
        pthread_cond_init(&caller, nullptr);
    }
    ~PosixSync() {
        pthread_cond_destroy(&caller);
        pthread_cond_destroy(&members);
        pthread_mutex_destroy(&mutex);
    }
    PosixSync(const PosixSync&) = delete;
    PosixSync& operator=(const PosixSync&) = delete;
    pthread_cond_t* of(Waiters waiters) { return waiters == Waiters::kCaller ? &caller : &members; }
    void lock() { pthread_mutex_lock(&mutex); }
    void unlock() { pthread_mutex_unlock(&mutex); }
    void sleep(Waiters waiters) { pthread_cond_wait(of(waiters), &mutex); }
    void wake_one(Waiters waiters) { pthread_cond_signal(of(waiters)); }
    void wake_all(Waiters waiters) { pthread_cond_broadcast(of(waiters)); }
};

// Every signal but those a fault raises on the faulting thread itself.
sigset_t asynchronous_signals() {
    sigset_t signals;
    sigfillset(&signals);
    static const int kFaults[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};
    for (int fault : kFaults) sigdelset(&signals, fault);
    return signals;
}

struct PosixTeam {
    typedef PosixSync Sync;
    typedef pthread_t Thread;

    // A Linux thread starts with its creator's floating-point state; a
    // macOS thread with the default one (xnu: the arm64 FPCR is 0, the
    // x86_64 MXCSR 0x1f80), so there each member loads the caller's control
    // register (rounding direction, flush-to-zero) and computes as the host
    // has set.
#if defined(__APPLE__) && defined(__aarch64__)
    typedef uint64_t FloatControl;
    static FloatControl callers_float_control() {
        uint64_t fpcr;
        __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr));
        return fpcr;
    }
    static void load_float_control(FloatControl fpcr) {
        __asm__ __volatile__("msr fpcr, %0" : : "r"(fpcr));
    }
#elif defined(__APPLE__)
    typedef unsigned FloatControl;
    static FloatControl callers_float_control() { return __builtin_ia32_stmxcsr(); }
    static void load_float_control(FloatControl mxcsr) { __builtin_ia32_ldmxcsr(mxcsr); }
#else
    struct FloatControl {};
    static FloatControl callers_float_control() { return {}; }
    static void load_float_control(FloatControl) {}
#endif

    static bool start(Thread& thread, void* launch, bool from_caller);
    static void join(Thread& thread) { pthread_join(thread, nullptr); }
};

void* member_thread(void* launch) {
    TeamSchedule<PosixTeam>::member_entry(launch);
    return nullptr;
}

bool PosixTeam::start(Thread& thread, void* launch, bool from_caller) {
    // Threads start with their creator's signal mask: members block the
    // host's signals, and the calling thread gets its own mask back.
    if (!from_caller) return pthread_create(&thread, nullptr, member_thread, launch) == 0;
    const sigset_t blocked = asynchronous_signals();
    sigset_t callers_mask;
    pthread_sigmask(SIG_SETMASK, &blocked, &callers_mask);
    const bool started = pthread_create(&thread, nullptr, member_thread, launch) == 0;
    pthread_sigmask(SIG_SETMASK, &callers_mask, nullptr);
    return started;
}

}  // namespace

void run_team(int32_t threads, const TeamWork& work) {
    run_scheduled<PosixTeam>(threads, work, processors_to_run_on());
}

#endif
