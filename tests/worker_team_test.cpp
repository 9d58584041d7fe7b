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

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cpu_quota.h"
#include "kernel.h"
#include "plugin_support.h"
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

TEST(TeamSizeTest, ARequestedCountIsKeptUpTo64) {
    EXPECT_EQ(threads_for(3, 0, 1000), 3);
    EXPECT_EQ(threads_for(64, 0, 1000), 64);
    EXPECT_EQ(threads_for(200, 0, 1000), 64);
    EXPECT_EQ(threads_for(0, 999, 1000), 1);
    EXPECT_EQ(threads_for(0, 1u << 30, 1000), team_size(allowed_cpu_count(), 1u << 30, 1000));
}

TEST(TeamSizeTest, AllowedProcessorsAreTheAffinityMaskAtMost) {
    cpu_set_t mask;
    ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
    EXPECT_GE(allowed_cpu_count(), 1);
    EXPECT_LE(allowed_cpu_count(), CPU_COUNT(&mask));
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

INSTANTIATE_TEST_SUITE_P(Cgroups, QuotaTest, ::testing::ValuesIn(kQuotaCases),
                         [](const auto& info) { return std::string(info.param.name); });

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
    if (allowed_cpu_count() < 2) GTEST_SKIP() << "this process may use one processor only";
    if (mkdir(group.c_str(), 0755) != 0) GTEST_SKIP() << "cannot make " << group;
    const bool limited = write_file(group + quota_file, quota);
    const pid_t child = limited ? fork() : -1;
    if (child == 0) {
        if (!write_file(group + "/cgroup.procs", std::to_string(getpid()))) _exit(91);
        if (allowed_cpu_count() != 1) _exit(92);
        _exit(plan_filter(kAutomaticPath, 1024, 512).threads == 1 ? 0 : 93);
    }
    int status = -1;
    if (child > 0) waitpid(child, &status, 0);
    rmdir(group.c_str());
    ASSERT_TRUE(limited) << "cannot set the quota of " << group;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "91: not moved into the group, 92: processors "
                                         "miscounted, 93: wrong team size";
}

// Members started for a team of more than 64 threads: at most 64.
TEST(TeamTest, NeverMoreThan64Members) {
    std::atomic<int32_t> members{0};
    std::atomic<int32_t> largest_count{0};
    struct Context {
        std::atomic<int32_t>* members;
        std::atomic<int32_t>* largest_count;
    } context{&members, &largest_count};
    run_team(
        100,
        [](void* c, const TeamMember& member) {
            auto* context = static_cast<Context*>(c);
            context->members->fetch_add(1);
            int32_t seen = context->largest_count->load();
            while (member.count > seen && !context->largest_count->compare_exchange_weak(seen, member.count)) {
            }
            team_wait(member);
        },
        &context);
    EXPECT_LE(members.load(), kMostThreads);
    EXPECT_EQ(members.load(), largest_count.load());
}

// The asynchronous signals each member blocks, as a bit per signal.
struct MaskRecord {
    std::vector<std::vector<int>> blocked;  // by member index: SIGINT, SIGTERM, SIGUSR1, SIGSEGV
};

TEST(TeamTest, WorkersBlockTheHostsSignalsAndTheCallerKeepsItsMask) {
    sigset_t before;
    pthread_sigmask(SIG_SETMASK, nullptr, &before);
    MaskRecord record;
    record.blocked.resize(4);
    run_team(
        4,
        [](void* c, const TeamMember& member) {
            auto* record = static_cast<MaskRecord*>(c);
            sigset_t mask;
            pthread_sigmask(SIG_SETMASK, nullptr, &mask);
            for (int signal : {SIGINT, SIGTERM, SIGUSR1, SIGSEGV})
                record->blocked[member.index].push_back(sigismember(&mask, signal));
            team_wait(member);
        },
        &record);
    EXPECT_EQ(record.blocked[0], (std::vector<int>{0, 0, 0, 0})) << "the calling thread";
    for (int index = 1; index < 4; ++index)
        EXPECT_EQ(record.blocked[index], (std::vector<int>{1, 1, 1, 0})) << "worker " << index;
    sigset_t after;
    pthread_sigmask(SIG_SETMASK, nullptr, &after);
    for (int signal = 1; signal < NSIG; ++signal)
        EXPECT_EQ(sigismember(&before, signal), sigismember(&after, signal)) << "signal " << signal;
}

// --- the filter's team -------------------------------------------------------------

std::vector<float> log_image(uint32_t rows, uint32_t cols) {
    std::mt19937 generator(rows + cols);
    std::uniform_real_distribution<float> value(0.0f, 3.0f);
    std::vector<float> image(static_cast<size_t>(rows) * cols);
    for (float& v : image) v = value(generator);
    return image;
}

// The progress step may call into a host that never returns from it: no
// worker may be alive then, whatever the team size.
TEST(FilterTeamTest, NoWorkerIsAliveDuringTheProgressStep) {
    const uint32_t rows = 64, cols = 48;
    const std::vector<float> source = log_image(rows, cols);
    std::vector<int32_t> up(rows), down(rows), left(cols), right(cols);
    const NeighbourTables tables{up.data(), down.data(), left.data(), right.data()};
    build_neighbour_tables(rows, cols, tables);
    const size_t plane = source.size();
    std::vector<float> scratch(5 * plane), work(plane);
    float* s = scratch.data();
    const DiffusionScratch planes{s, s + plane, s + 2 * plane, s + 3 * plane, s + 4 * plane};
    const DiffusionParams params{{0, 20, 0, 20, 441}, 4, 0.2f};
    struct Seen {
        size_t threads_before;
        std::vector<size_t> during;
    } seen{threads_in_process(), {}};
    const ProgressStep step{[](void* c, int32_t) {
                                auto* seen = static_cast<Seen*>(c);
                                seen->during.push_back(threads_settled_at(seen->threads_before));
                                return true;
                            },
                            &seen};
    for (CpuPath path : {CpuPath::kBaseline, CpuPath::kAvx2, CpuPath::kAvx512}) {
        if (!cpu_path_supported(path)) continue;
        for (int32_t threads : {2, 5}) {
            seen.during.clear();
            ASSERT_EQ(diffuse_with({path, threads}, source.data(), work.data(), rows, cols,
                                   tables, planes, params, step),
                      FilterEnd::kCompleted);
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
        if (allowed_cpu_count() != cpus) _exit(92);
        if (plan_filter(kAutomaticPath, 1024, 512).threads != expected_team) _exit(93);
        _exit(extra_threads_of_a_filter_call() == static_cast<size_t>(expected_team - 1) ? 0 : 94);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "91: affinity not set, 92: processors miscounted, "
                                         "93: wrong team size, 94: other threads started, "
                                         "90: the call failed";
}

TEST(FilterTeamTest, AProcessAllowedOneProcessorStartsNoWorker) { expect_in_child_with_cpus(1, 1); }

TEST(FilterTeamTest, AProcessAllowedTwoProcessorsStartsOneWorker) {
    expect_in_child_with_cpus(2, 2);
}

}  // namespace
