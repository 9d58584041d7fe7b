// Both fast paths under ThreadSanitizer, at team sizes up to 64 whatever
// this machine has: every access their members share must be ordered, and
// every team size must give the plain loops' bits, the bar on or off, with
// interrupt checks between phases.
#include <gtest/gtest.h>
#include <sched.h>
#include <string.h>

#include <vector>

#include "case_support.h"
#include "core_support.h"
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
    std::vector<float> work(plane);
    const FilterSettings params{{3, 30, 5, 40, 28 * 36}, 5, 0.2f};
    const std::vector<float> expected = filter_result(source, rows, cols, params);
    const ProgressStep bar{nullptr, [](void*, int64_t, int64_t) { return true; }, nullptr};
    for (CpuPath path : fast_paths())
        for (int32_t threads : kTeamSizes)
            for (const ProgressStep& step : {ProgressStep{}, bar}) {
                FilterOptions options = filter_options_for({path, threads});
                options.progress = step;
                options.core.interrupt = kAskOften;
                ASSERT_EQ(tarv_filter(source.data(), work.data(), rows, cols, 1, params, options,
                                      nullptr),
                          CoreEnd::kCompleted);
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
            CoreOptions options = options_for({path, threads});
            options.interrupt = kAskOften;
            ASSERT_EQ(band_score(image.data(), rows, cols, params, scores.data(), options),
                      CoreEnd::kCompleted);
            EXPECT_EQ(memcmp(scores.data(), expected.data(), cells * sizeof(double)), 0)
                << cpu_path_name(path) << ", " << threads << " threads";
        }
}

}  // namespace
