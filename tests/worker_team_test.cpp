// The worker team: its size from the processors the process may use, the
// signals its workers block, and that no worker is alive while a progress
// step runs or after a call returns.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cfenv>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "case_support.h"
#include "cgroup_quota.h"
#include "core_support.h"
#include "kernel.h"
#include "plugin_support.h"
#include "team_schedule.h"
#include "threads.h"
#include "worker_team.h"

namespace {

struct SizeCase {
    int32_t allowed_cpus;
    uint64_t work;
    int32_t threads;
};

TEST(TeamSizeTest, OnePerAllowedProcessorAtMost64AndOneForSmallWork) {
    constexpr uint64_t kSmall = 1000;
    const SizeCase cases[] = {
        {1, 5000, 1},   {2, 5000, 2},    {16, 5000, 16}, {63, 5000, 63}, {64, 5000, 64},
        {65, 5000, 64}, {128, 5000, 64}, {4096, 5000, 64},
        {0, 5000, 1},   {-3, 5000, 1},  // a mask that cannot be read counts as one
        {128, 999, 1},  {2, 0, 1},       {128, 1000, 64},
    };
    for (const SizeCase& c : cases)
        EXPECT_EQ(team_size(c.allowed_cpus, c.work, kSmall), c.threads)
            << c.allowed_cpus << " processors, " << c.work << " items";
}

// A requested count splits the work so, up to 64 parts; the automatic
// count follows the processors; neither runs on more threads than the
// affinity mask has processors.
TEST(TeamSizeTest, ARequestedCountIsKeptUpTo64AndThreadsStayWithinTheMask) {
    cpu_set_t mask;
    ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
    const int32_t processors = CPU_COUNT(&mask);
    const struct {
        int32_t requested;
        uint64_t work;
        int32_t shares;  // 0: the automatic count, 1 .. 64 and the mask's
    } cases[] = {{3, 0, 3}, {64, 0, 64}, {200, 0, 64}, {0, 999, 1}, {0, 1u << 30, 0}};
    for (const auto& c : cases) {
        const TeamPlan plan = plan_team(c.requested, c.work, 1000);
        if (c.shares != 0) {
            EXPECT_EQ(plan.shares, c.shares) << c.requested << " requested";
        } else {
            EXPECT_GE(plan.shares, 1);
            EXPECT_LE(plan.shares, std::min(processors, kMostThreads));
        }
        EXPECT_GE(plan.threads, 1);
        EXPECT_LE(plan.threads, std::min(plan.shares, processors)) << c.requested << " requested";
    }
}

TEST(TeamSizeTest, AllowedProcessorsAreTheAffinityMaskAtMost) {
    cpu_set_t mask;
    ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
    EXPECT_GE(processors_allowed(), 1);
    EXPECT_LE(processors_allowed(), CPU_COUNT(&mask));
}

// OMP_NUM_THREADS, where it is a positive integer (the first of a list),
// caps the processors a team may use; anything else leaves them as the
// system allows.
TEST(TeamSizeTest, OmpNumThreadsCapsTheProcessors) {
    const int32_t system = system_processors();
    const char* saved = getenv("OMP_NUM_THREADS");
    const std::string before = saved != nullptr ? saved : "";
    const struct {
        const char* value;
        int32_t cap;  // 0: none
    } cases[] = {{"1", 1}, {"2", 2}, {" 3 ", 3}, {"4,2", 4}, {"1000", 64}, {"0", 0},
                 {"-3", 0}, {"two", 0}, {"2.5", 0}, {"", 0}};
    for (const auto& c : cases) {
        setenv("OMP_NUM_THREADS", c.value, 1);
        EXPECT_EQ(processors_allowed(), c.cap > 0 && c.cap < system ? c.cap : system)
            << "OMP_NUM_THREADS=\"" << c.value << "\"";
    }
    if (saved != nullptr)
        setenv("OMP_NUM_THREADS", before.c_str(), 1);
    else
        unsetenv("OMP_NUM_THREADS");
}

// --- CPU quotas of control groups -------------------------------------------------

struct QuotaCase {
    const char* name;
    const char* cgroup;     // /proc/self/cgroup
    const char* mountinfo;  // its cgroup lines
    std::map<std::string, std::string> files;
    int32_t processors;  // 0: no quota
};

const char kV2Mount[] = "30 23 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
const char kV1Mounts[] =
    "32 31 0:29 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
    "35 31 0:32 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n";
const std::string kV2 = "/sys/fs/cgroup", kV1 = "/sys/fs/cgroup/cpu,cpuacct";

const QuotaCase kQuotaCases[] = {
    {"v2_no_quota", "0::/user.slice\n", kV2Mount, {{kV2 + "/user.slice/cpu.max", "max 100000\n"}}, 0},
    {"v2_two_processors", "0::/job\n", kV2Mount, {{kV2 + "/job/cpu.max", "200000 100000\n"}}, 2},
    {"v2_fraction_rounds_up", "0::/job\n", kV2Mount, {{kV2 + "/job/cpu.max", "150000 100000\n"}}, 2},
    {"v2_below_one_is_one", "0::/job\n", kV2Mount, {{kV2 + "/job/cpu.max", "10000 100000\n"}}, 1},
    {"v2_parent_is_tighter", "0::/kubepods/pod1/ctr\n", kV2Mount,
     {{kV2 + "/kubepods/pod1/ctr/cpu.max", "max 100000"},
      {kV2 + "/kubepods/pod1/cpu.max", "300000 100000"},
      {kV2 + "/kubepods/cpu.max", "max 100000"}},
     3},
    {"v2_child_is_tighter", "0::/a/b\n", kV2Mount,
     {{kV2 + "/a/b/cpu.max", "50000 50000"}, {kV2 + "/a/cpu.max", "400000 100000"}}, 1},
    {"v2_namespace_root", "0::/\n", kV2Mount, {{kV2 + "/cpu.max", "250000 100000"}}, 3},
    {"v1_quota", "4:cpu,cpuacct:/slurm/job7\n3:memory:/slurm/job7\n", kV1Mounts,
     {{kV1 + "/slurm/job7/cpu.cfs_quota_us", "100000\n"}, {kV1 + "/slurm/job7/cpu.cfs_period_us", "100000\n"}},
     1},
    {"v1_no_quota", "4:cpu,cpuacct:/\n", kV1Mounts,
     {{kV1 + "/cpu.cfs_quota_us", "-1\n"}, {kV1 + "/cpu.cfs_period_us", "100000\n"}}, 0},
    {"v1_container_root_is_its_group",  // a mount whose root is the container's own group
     "4:cpu,cpuacct:/docker/abc\n",
     "32 31 0:29 /docker/abc /sys/fs/cgroup/cpu,cpuacct ro - cgroup cgroup rw,cpu,cpuacct\n",
     {{kV1 + "/cpu.cfs_quota_us", "150000"}, {kV1 + "/cpu.cfs_period_us", "50000"}}, 3},
    {"hybrid_takes_v1", "0::/\n4:cpu,cpuacct:/job\n",
     "41 31 0:38 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n"
     "32 31 0:29 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n",
     {{kV1 + "/job/cpu.cfs_quota_us", "200000"}, {kV1 + "/job/cpu.cfs_period_us", "100000"}}, 2},
    {"escaped_mount_point", "0::/my job\n", "30 23 0:26 / /cg\\040root rw - cgroup2 cgroup2 rw\n",
     {{"/cg root/my job/cpu.max", "100000 100000"}}, 1},
    {"unreadable_files", "0::/job\n4:cpu:/job\n", kV2Mount, {}, 0},
    {"malformed_files", "0::/job\n", kV2Mount, {{kV2 + "/job/cpu.max", "lots\n"}}, 0},
    {"no_cgroup_mounted", "0::/job\n", "", {{kV2 + "/job/cpu.max", "100000 100000"}}, 0},
    {"empty_texts", "", "", {}, 0},
};

class QuotaTest : public ::testing::TestWithParam<QuotaCase> {};

TEST_P(QuotaTest, AllowsTheCeilingOfTheTightestQuota) {
    const QuotaCase& c = GetParam();
    const auto read = [](void* context, const char* path, char* buffer, size_t size) {
        const auto& files = *static_cast<const std::map<std::string, std::string>*>(context);
        const auto found = files.find(path);
        if (found == files.end()) return false;
        snprintf(buffer, size, "%s", found->second.c_str());
        return true;
    };
    EXPECT_EQ(cgroup_cpu_limit(c.cgroup, c.mountinfo, read, const_cast<void*>(static_cast<const void*>(&c.files))),
              c.processors);
}

INSTANTIATE_TEST_SUITE_P(Cgroups, QuotaTest, ::testing::ValuesIn(kQuotaCases), param_name);

bool write_file(const std::string& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    file.flush();
    return static_cast<bool>(file);
}

// A real group with a quota of one processor's time: a child process in it
// plans one thread for a large image.
TEST(QuotaTest, AChildInAOneProcessorGroupPlansOneThread) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a control group";
    std::string group;
    std::string quota_file, quota;
    if (access("/sys/fs/cgroup/cpu/cpu.cfs_quota_us", W_OK) == 0) {
        group = "/sys/fs/cgroup/cpu/mex_quota_test_" + std::to_string(getpid());
        quota_file = "/cpu.cfs_quota_us";
        quota = "100000";  // the default period is 100000 us
    } else if (std::ifstream("/sys/fs/cgroup/cgroup.subtree_control").good()) {
        std::string controllers;
        std::getline(std::ifstream("/sys/fs/cgroup/cgroup.subtree_control"), controllers);
        if (controllers.find("cpu") == std::string::npos &&
            !write_file("/sys/fs/cgroup/cgroup.subtree_control", "+cpu"))
            GTEST_SKIP() << "the cgroup v2 cpu controller cannot be enabled here";
        group = "/sys/fs/cgroup/mex_quota_test_" + std::to_string(getpid());
        quota_file = "/cpu.max";
        quota = "100000 100000";
    } else {
        GTEST_SKIP() << "no writable cpu controller (cgroup v1 cpu or v2) is mounted";
    }
    if (processors_allowed() < 2) GTEST_SKIP() << "this process may use one processor only";
    if (mkdir(group.c_str(), 0755) != 0) GTEST_SKIP() << "cannot make " << group;
    const bool limited = write_file(group + quota_file, quota);
    const pid_t child = limited ? fork() : -1;
    if (child == 0) {
        if (!write_file(group + "/cgroup.procs", std::to_string(getpid()))) _exit(91);
        if (processors_allowed() != 1) _exit(92);
        _exit(plan_team(0, 1024 * 512, 1u << 16).threads == 1 ? 0 : 93);
    }
    int status = -1;
    if (child > 0) waitpid(child, &status, 0);
    rmdir(group.c_str());
    ASSERT_TRUE(limited) << "cannot set the quota of " << group;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "91: not moved into the group, 92: processors "
                                         "miscounted, 93: wrong team size";
}

// Work of ten phases of 40 shares, each share sleeping a little so that
// members join in: what each share and each phase change saw.
struct PhaseRecord {
    pthread_t caller = pthread_self();
    std::mutex lock;
    std::set<pthread_t> threads;
    std::vector<std::array<int, 40>> runs = std::vector<std::array<int, 40>>(10);
    std::atomic<int32_t> open_phase{-1};
    std::atomic<int32_t> running{0};
    int32_t misplaced = 0;  // shares outside their phase, or changes beside a running share
    std::vector<std::vector<int>> blocked_on_caller, blocked_on_workers;  // SIGINT, SIGTERM, SIGUSR1, SIGSEGV
};

void record_share(void* context, int32_t phase, int32_t share) {
    auto& record = *static_cast<PhaseRecord*>(context);
    record.running.fetch_add(1);
    usleep(200 + 100 * (share % 3));
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    std::vector<int> blocked;
    for (int signal : {SIGINT, SIGTERM, SIGUSR1, SIGSEGV}) blocked.push_back(sigismember(&mask, signal));
    {
        std::lock_guard<std::mutex> hold(record.lock);
        if (phase != record.open_phase.load()) ++record.misplaced;
        ++record.runs[phase][share];
        record.threads.insert(pthread_self());
        (pthread_equal(pthread_self(), record.caller) ? record.blocked_on_caller
                                                      : record.blocked_on_workers)
            .push_back(blocked);
    }
    record.running.fetch_sub(1);
}

class TeamTest : public ::testing::TestWithParam<int32_t> {};

// Every share of every phase once, each phase over before its caller goes
// on, alone; never more threads than 64 or the processors, none left after
// a stop halfway or at the end, and the phases after that stop run all the
// same; workers block the host's signals and the caller keeps its mask.
TEST_P(TeamTest, RunsEveryShareOnceAPhaseAtATime) {
    const int32_t threads = GetParam();
    sigset_t before;
    pthread_sigmask(SIG_SETMASK, nullptr, &before);
    const size_t threads_before = threads_in_process();
    PhaseRecord record;
    {
        WorkerTeam team(plan_team(threads, 0, 0).threads, {40, record_share, &record});
        for (int32_t phase = 0; phase < 10; ++phase) {
            if (record.running.load() != 0) ++record.misplaced;
            record.open_phase.store(phase);
            team.run(phase);
            if (phase == 4) {
                team.stop();
                EXPECT_EQ(threads_settled_at(threads_before), threads_before) << "after a stop";
            }
        }
    }
    EXPECT_EQ(threads_settled_at(threads_before), threads_before);
    EXPECT_EQ(record.misplaced, 0);
    for (const auto& phase : record.runs) {
        for (int runs : phase) ASSERT_EQ(runs, 1);
    }
    cpu_set_t mask;
    ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
    const int32_t most = std::min({threads, kMostThreads, CPU_COUNT(&mask)});
    EXPECT_LE(record.threads.size(), static_cast<size_t>(most)) << "one per processor at most";
    if (most > 1) {
        EXPECT_GE(record.threads.size(), 2u) << "no worker took a share";
    }
    for (const auto& blocked : record.blocked_on_caller) EXPECT_EQ(blocked, (std::vector<int>{0, 0, 0, 0}));
    for (const auto& blocked : record.blocked_on_workers) EXPECT_EQ(blocked, (std::vector<int>{1, 1, 1, 0}));
    sigset_t after;
    pthread_sigmask(SIG_SETMASK, nullptr, &after);
    for (int signal = 1; signal < NSIG; ++signal)
        EXPECT_EQ(sigismember(&before, signal), sigismember(&after, signal)) << "signal " << signal;
}

INSTANTIATE_TEST_SUITE_P(Threads, TeamTest, ::testing::Values(1, 2, 7, 64, 100));

// Threads whose members may be kept from running, as where the machine's
// processors are busy with other work; counts the threads started.
struct HeldThreads {
    struct Sync {
        pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
        pthread_cond_t conds[2] = {PTHREAD_COND_INITIALIZER, PTHREAD_COND_INITIALIZER};
        void lock() { pthread_mutex_lock(&mutex); }
        void unlock() { pthread_mutex_unlock(&mutex); }
        void sleep(Waiters w) { pthread_cond_wait(&conds[static_cast<int>(w)], &mutex); }
        void wake_one(Waiters w) { pthread_cond_signal(&conds[static_cast<int>(w)]); }
        void wake_all(Waiters w) { pthread_cond_broadcast(&conds[static_cast<int>(w)]); }
    };
    typedef pthread_t Thread;

    static inline std::atomic<bool> hold{false};
    static inline std::atomic<int32_t> starts{0};
    static bool start(Thread& thread, void* launch, bool) {
        ++starts;
        const auto held = [](void* launch) -> void* {
            while (hold.load()) usleep(100);
            TeamSchedule<HeldThreads>::member_entry(launch);
            return nullptr;
        };
        return pthread_create(&thread, nullptr, held, launch) == 0;
    }
    static void join(Thread& thread) { pthread_join(thread, nullptr); }
};

// Two phases of 64 shares of a millisecond each, on a team of 64; with
// `held`, members start to run only once the second phase has begun.
int32_t threads_started_for(bool held) {
    HeldThreads::hold = held;
    HeldThreads::starts = 0;
    std::atomic<int32_t> runs{0};
    const auto run_share = [](void* runs, int32_t phase, int32_t) {
        if (phase == 1) HeldThreads::hold = false;
        usleep(1000);
        ++*static_cast<std::atomic<int32_t>*>(runs);
    };
    TeamSchedule<HeldThreads> schedule({64, run_share, &runs}, 64);
    schedule.run_phase(0);
    schedule.run_phase(1);
    schedule.close();
    EXPECT_EQ(runs.load(), 128);
    return HeldThreads::starts.load();
}

// Members that run at once start two more each while shares are left; a
// member that waited longer than its phase for a processor starts none.
TEST(TeamTest, OnlyMembersThatRunAtOnceStartOthers) {
    EXPECT_GT(threads_started_for(false), 2);
    EXPECT_EQ(threads_started_for(true), 2) << "the caller's two children, and no more";
}

// Threads that start in the default floating-point state, as a new thread
// does on Windows and macOS (a Linux one takes its creator's).
#if defined(__aarch64__)
constexpr FloatControl kDefaultFloatControl = 0;
#else
constexpr FloatControl kDefaultFloatControl = 0x1f80;
#endif

struct DefaultStateThreads {
    typedef HeldThreads::Sync Sync;
    typedef pthread_t Thread;
    static bool start(Thread& thread, void* launch, bool) {
        const auto entry = [](void* launch) -> void* {
            load_float_control(kDefaultFloatControl);
            TeamSchedule<DefaultStateThreads>::member_entry(launch);
            return nullptr;
        };
        return pthread_create(&thread, nullptr, entry, launch) == 0;
    }
    static void join(Thread& thread) { pthread_join(thread, nullptr); }
};

// Members take their caller's rounding direction, whatever state their
// threads start in.
TEST(TeamTest, MembersComputeInTheCallersFloatingPointControl) {
    if (processors_allowed() < 2) GTEST_SKIP() << "this process may use one processor only";
    struct Record {
        pthread_t caller = pthread_self();
        std::mutex lock;
        std::vector<std::pair<uint32_t, bool>> thirds;  // bits, and whether a member computed it
    } record;
    const auto run_share = [](void* context, int32_t, int32_t) {
        auto& record = *static_cast<Record*>(context);
        usleep(300);  // long enough for members to join in
        volatile float one = 1.0f, three = 3.0f;
        const float third = one / three;
        std::lock_guard<std::mutex> hold(record.lock);
        record.thirds.push_back(
            {std::bit_cast<uint32_t>(third), !pthread_equal(pthread_self(), record.caller)});
    };
    const FloatControl saved = callers_float_control();
    fesetround(FE_DOWNWARD);
    volatile float one = 1.0f, three = 3.0f;
    const uint32_t callers = std::bit_cast<uint32_t>(one / three);
    TeamSchedule<DefaultStateThreads> schedule({64, run_share, &record}, 8);
    schedule.run_phase(0);
    schedule.close();
    load_float_control(saved);
    ASSERT_NE(callers, std::bit_cast<uint32_t>(1.0f / 3.0f)) << "the rounding direction took";
    size_t by_members = 0;
    for (const auto& [bits, by_member] : record.thirds) {
        EXPECT_EQ(bits, callers) << (by_member ? "a member" : "the caller") << " rounded otherwise";
        by_members += by_member;
    }
    EXPECT_GT(by_members, 0u) << "no member took a share";
}

// --- the filter's team -------------------------------------------------------------

std::vector<float> log_image(uint32_t rows, uint32_t cols) {
    return uniform_values(static_cast<size_t>(rows) * cols, 0.0f, 3.0f, rows + cols);
}

// The progress step may call into a host that never returns from it: no
// worker may be alive then, whatever the team size.
TEST(FilterTeamTest, NoWorkerIsAliveDuringTheProgressStep) {
    const uint32_t rows = 64, cols = 48;
    const std::vector<float> source = log_image(rows, cols);
    std::vector<float> work(source.size());
    const FilterSettings params{{0, 20, 0, 20, 441}, 4, 0.2f};
    struct Seen {
        size_t threads_before;
        std::vector<size_t> during;
    } seen{threads_in_process(), {}};
    const ProgressStep step{nullptr,
                            [](void* c, int64_t, int64_t) {
                                auto* seen = static_cast<Seen*>(c);
                                seen->during.push_back(threads_settled_at(seen->threads_before));
                                return true;
                            },
                            &seen};
    for (CpuPath path : {CpuPath::kBaseline, CpuPath::kAvx2, CpuPath::kAvx512}) {
        if (!cpu_path_supported(path)) continue;
        for (int32_t threads : {2, 5}) {
            seen.during.clear();
            FilterOptions options = filter_options_for({path, threads});
            options.progress = step;
            ASSERT_EQ(tarv_filter(source.data(), work.data(), rows, cols, 1, params, options,
                                  nullptr),
                      CoreEnd::kCompleted);
            EXPECT_EQ(seen.during, std::vector<size_t>(4, seen.threads_before))
                << cpu_path_name(path) << ", " << threads << " threads";
        }
    }
    EXPECT_EQ(threads_settled_at(seen.threads_before), seen.threads_before);
}

// The most threads the process had while `body` ran, sampled by a watcher.
template <typename Body>
size_t most_threads_while(Body body) {
    std::atomic<bool> running{true};
    std::atomic<size_t> most{0};
    std::thread watcher([&] {
        while (running.load()) {
            const size_t now = threads_in_process();
            if (now > most.load()) most.store(now);
            usleep(50);
        }
    });
    body();
    running.store(false);
    watcher.join();
    return most.load();
}

// A filter call through the plug-in, bar off, on an image large enough for
// a team; returns the extra threads seen beside the caller and the watcher.
size_t extra_threads_of_a_filter_call() {
    const uint32_t rows = 1024, cols = 512;
    Inputs inputs({testhost::make_single(rows, cols, log_image(rows, cols)),
                   testhost::make_scalar(30), testhost::make_scalar(0.2),
                   testhost::make_scalar(1), testhost::make_scalar(40), testhost::make_scalar(1),
                   testhost::make_scalar(60), testhost::make_scalar(0)});
    const size_t before = threads_in_process();
    const size_t most = most_threads_while([&] {
        Outcome outcome(testhost::call(plugin_at(TARV_C_PLUGIN), 1, inputs.arrays));
        if (!outcome.call.ok) _exit(90);
    });
    return most - (before + 1);
}

// In a child process limited to `cpus` processors (as taskset or a cluster
// job limits it): the team size the plug-in takes and the threads it starts.
void expect_in_child_with_cpus(int cpus, int32_t expected_team) {
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    if (CPU_COUNT(&allowed) < cpus) GTEST_SKIP() << "this process may use fewer than " << cpus << " processors";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        cpu_set_t mask;
        CPU_ZERO(&mask);
        for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < cpus; ++cpu)
            if (CPU_ISSET(cpu, &allowed)) CPU_SET(cpu, &mask), ++taken;
        if (sched_setaffinity(0, sizeof mask, &mask) != 0) _exit(91);
        if (processors_allowed() != cpus) _exit(92);
        if (plan_team(0, 1024 * 512, 1u << 16).threads != expected_team) _exit(93);
        _exit(extra_threads_of_a_filter_call() == static_cast<size_t>(expected_team - 1) ? 0 : 94);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "91: affinity not set, 92: processors miscounted, "
                                         "93: wrong team size, 94: other threads started, "
                                         "90: the call failed";
}

// A plug-in call under OMP_NUM_THREADS=1, as in a dask worker or a
// parfor pool, starts no thread.
TEST(FilterTeamTest, OmpNumThreadsOfOneStartsNoWorker) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("OMP_NUM_THREADS", "1", 1);
        _exit(extra_threads_of_a_filter_call() == 0 ? 0 : 95);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "95: threads started under OMP_NUM_THREADS=1";
}

TEST(FilterTeamTest, AProcessAllowedOneProcessorStartsNoWorker) { expect_in_child_with_cpus(1, 1); }

TEST(FilterTeamTest, AProcessAllowedTwoProcessorsStartsOneWorker) {
    expect_in_child_with_cpus(2, 2);
}

}  // namespace
