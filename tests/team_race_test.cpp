// Both fast paths under ThreadSanitizer, at team sizes up to 64 whatever
// this machine has: every access their members share must be ordered, and
// every team size must give the plain loops' bits, the bar on or off, with
// interrupt checks between phases.
#include <gtest/gtest.h>
#include <sched.h>
#include <string.h>

#include <vector>

#include "case_support.h"
#include "kernel.h"
#include "scorer.h"

// The affinity mask the team reads: 64 processors.
extern "C" int sched_getaffinity(pid_t, size_t size, cpu_set_t* mask) {
    memset(mask, 0, size);
    memset(mask, 0xff, size < 8 ? size : 8);
    return 0;
}

namespace {

constexpr int32_t kTeamSizes[] = {2, 3, 8, 64};
const InterruptCheck kAskOften{[](void*) { return false; }, nullptr, 1};

std::vector<CpuPath> fast_paths() {
    std::vector<CpuPath> paths;
    for (CpuPath path : {CpuPath::kBaseline, CpuPath::kAvx2, CpuPath::kAvx512})
        if (cpu_path_supported(path)) paths.push_back(path);
    return paths;
}

TEST(TeamRaceTest, FilterGivesThePlainBitsAtEveryTeamSize) {
    const uint32_t rows = 67, cols = 150;
    const size_t plane = static_cast<size_t>(rows) * cols;
    const std::vector<float> source = uniform_values(plane, 0.0f, 3.0f, 7);
    std::vector<float> expected(plane), work(plane), scratch(5 * plane);
    std::vector<int32_t> up(rows), down(rows), left(cols), right(cols);
    const NeighbourTables tables{up.data(), down.data(), left.data(), right.data()};
    build_neighbour_tables(rows, cols, tables);
    float* s = scratch.data();
    const DiffusionScratch planes{s, s + plane, s + 2 * plane, s + 3 * plane, s + 4 * plane};
    const DiffusionParams params{{3, 30, 5, 40, 28 * 36}, 5, 0.2f};
    diffuse_reference(source.data(), expected.data(), rows, cols, tables, planes, params, {});
    const ProgressStep bar{[](void*, int32_t) { return true; }, nullptr};
    for (CpuPath path : fast_paths())
        for (int32_t threads : kTeamSizes)
            for (const ProgressStep& step : {ProgressStep{}, bar}) {
                ASSERT_EQ(diffuse_with({path, threads}, source.data(), work.data(), rows, cols,
                                       tables, planes, params, step, kAskOften),
                          FilterEnd::kCompleted);
                EXPECT_EQ(memcmp(work.data(), expected.data(), plane * sizeof(float)), 0)
                    << cpu_path_name(path) << ", " << threads << " threads, bar "
                    << (step.advance != nullptr ? "on" : "off");
            }
}

TEST(TeamRaceTest, ScorerGivesThePlainBitsAtEveryTeamSize) {
    const int32_t rows = 80, cols = 90, count = 12;
    const std::vector<double> image = uniform_values(static_cast<size_t>(rows) * cols, 0.0, 255.0, 8);
    const std::vector<double> mean(cols, 20.0), sd(cols, 6.0), low(cols, 4.0), high(cols, 50.0);
    const BandScoreParams params{10.0, 30.0, count, count, 2.0,
                                 mean.data(), sd.data(), low.data(), high.data()};
    const size_t cells = static_cast<size_t>(count) * count * cols;
    std::vector<double> expected(cells), scores(cells);
    score_bands_reference(image.data(), rows, cols, params, expected.data());
    for (CpuPath path : fast_paths())
        for (int32_t threads : kTeamSizes) {
            ASSERT_TRUE(score_bands_with({path, threads}, image.data(), rows, cols, params,
                                         scores.data(), kAskOften));
            EXPECT_EQ(memcmp(scores.data(), expected.data(), cells * sizeof(double)), 0)
                << cpu_path_name(path) << ", " << threads << " threads";
        }
}

}  // namespace
