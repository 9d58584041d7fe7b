// The worker team: its size from the processors the process may use, the
// signals its workers block, and that no worker is alive while a progress
// step runs or after a call returns.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

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

TEST(TeamSizeTest, AllowedProcessorsAreTheAffinityMask) {
    cpu_set_t mask;
    ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
    EXPECT_EQ(allowed_cpu_count(), CPU_COUNT(&mask));
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
