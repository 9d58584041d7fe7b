// Every fast path of the filter and the scorer against the plain loops, bit
// for bit: each instruction set this processor has, with 1, 2 and 3
// threads, on awkward shapes and seeded images with special values.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "bits.h"
#include "core_support.h"
#include "kernel.h"
#include "plugin_support.h"
#include "scorer.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Every fast instruction set of this build: NEON on 64-bit Arm; SSE2, AVX2
// and AVX-512 on x86-64. Tests run once per set; a set this processor
// lacks is reported as skipped.
const auto& kFastPaths = kFamilyFastPaths;

// The forced choices of one instruction set: 1, 2 and 3 threads.
std::vector<PathChoice> choices_for(CpuPath path) { return {{path, 1}, {path, 2}, {path, 3}}; }

#define SKIP_UNLESS_SUPPORTED(path)                                                   \
    if (!cpu_path_supported(path))                                                    \
    GTEST_SKIP() << "this processor has no " << cpu_path_name(path) << "; that path is " \
                 << "not compared here"

std::string describe(const PathChoice& choice) {
    return std::string(cpu_path_name(choice.path)) + " path, " + std::to_string(choice.threads) +
           " thread(s)";
}

std::string path_suffix(CpuPath path) { return cpu_path_name(path); }

// Test names of the suites over (shape, instruction set).
const auto shape_and_path_name = [](const auto& info) {
    return std::to_string(info.index) + "_" + path_suffix(std::get<1>(info.param));
};

// A suite whose tests run once for each instruction set.
class InstructionSetTest : public ::testing::TestWithParam<CpuPath> {
protected:
    void SetUp() override { SKIP_UNLESS_SUPPORTED(GetParam()); }
};

// --- the filter -------------------------------------------------------------

enum class Values { kSmooth, kSpecial, kDense };

// Log intensities: smooth values in [-1, 3]; kSpecial sprinkles a few
// special values (NaN, infinities, signed zeros, subnormal inputs, inputs
// whose exponential is subnormal, zero, infinite or huge), kDense many.
std::vector<float> log_image(uint32_t rows, uint32_t cols, unsigned seed, Values values) {
    static const float special[] = {kNaN,   kInf,   -kInf,   0.0f,  -0.0f, 1e-40f, -1e-42f,
                                    -95.0f, -90.0f, -110.0f, 89.0f, 45.0f, -52.0f};
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> smooth(-1.0f, 3.0f);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> pick(0, sizeof special / sizeof special[0] - 1);
    const int share = values == Values::kSmooth ? 0 : values == Values::kSpecial ? 3 : 40;
    std::vector<float> image(static_cast<size_t>(rows) * cols);
    for (float& v : image)
        v = percent(generator) < share ? special[pick(generator)] : smooth(generator);
    return image;
}

struct FilterCase {
    uint32_t rows, cols;
    Values values;
    int32_t iterations;
    float lambda;
};

void PrintTo(const FilterCase& c, std::ostream* out) {
    static const char* const names[] = {"smooth", "special", "dense"};
    *out << c.rows << "x" << c.cols << " " << names[static_cast<int>(c.values)] << " image, "
         << c.iterations << " iteration(s), lambda " << c.lambda;
}

// One filter call's buffers; the working plane starts as garbage that
// differs between calls, so an unwritten pixel cannot pass.
struct FilterRun {
    uint32_t rows, cols;
    std::vector<float> work;
    std::vector<int64_t> progress_calls;
    std::vector<pthread_t> progress_threads;
    int32_t stop_after = -1;
    bool with_progress = true;
    // The interrupt check, if asked every `question_iterations` iterations
    // (or after `question_work` pixel-iterations where that is given): it
    // says stop at question `interrupt_at` (1-based; 0 never).
    int32_t question_iterations = 0;
    uint64_t question_work = 0;
    int32_t interrupt_at = 0;
    std::vector<pthread_t> question_threads;

    FilterRun(uint32_t m, uint32_t n, float garbage)
        : rows(m), cols(n), work(static_cast<size_t>(m) * n, garbage) {}
    static bool record(void* context, int64_t iteration, int64_t) {
        auto* run = static_cast<FilterRun*>(context);
        run->progress_calls.push_back(iteration);
        run->progress_threads.push_back(pthread_self());
        return iteration != run->stop_after;
    }
    static bool question(void* context) {
        auto* run = static_cast<FilterRun*>(context);
        run->question_threads.push_back(pthread_self());
        return static_cast<int32_t>(run->question_threads.size()) == run->interrupt_at;
    }
    CoreEnd run(const PathChoice& choice, const std::vector<float>& source,
                const FilterSettings& params) {
        const size_t plane = static_cast<size_t>(rows) * cols;
        FilterOptions options = filter_options_for(choice);
        options.progress = {nullptr, with_progress ? record : nullptr, this};
        options.core.interrupt = {
            question_iterations > 0 || question_work > 0 ? question : nullptr, this,
            question_work > 0 ? question_work : plane * static_cast<uint32_t>(question_iterations)};
        return tarv_filter(source.data(), work.data(), rows, cols, 1, params, options, nullptr);
    }
    bool filter(const PathChoice& choice, const std::vector<float>& source,
                const FilterSettings& params) {
        return run(choice, source, params) == CoreEnd::kCompleted;
    }
};

// A region in the middle of the image, of about a third of each extent.
ReferenceRegion middle_region(uint32_t rows, uint32_t cols) {
    const uint32_t r0 = rows / 3, r1 = rows - 1 - rows / 3, c0 = cols / 3, c1 = cols - 1 - cols / 3;
    return {r0, r1, c0, c1, (r1 - r0 + 1) * (c1 - c0 + 1)};
}

class FilterPaths : public ::testing::TestWithParam<std::tuple<FilterCase, CpuPath>> {};

TEST_P(FilterPaths, EveryPathGivesTheBitsOfThePlainLoops) {
    const auto [c, path] = GetParam();
    SKIP_UNLESS_SUPPORTED(path);
    const std::vector<float> source = log_image(c.rows, c.cols, c.rows * 131 + c.cols, c.values);
    const FilterSettings params{middle_region(c.rows, c.cols), c.iterations, c.lambda};
    FilterRun reference(c.rows, c.cols, 7.0f);
    ASSERT_TRUE(reference.filter({CpuPath::kPlain, 1}, source, params));
    for (const PathChoice& choice : choices_for(path)) {
        FilterRun fast(c.rows, c.cols, -3.0f);
        ASSERT_TRUE(fast.filter(choice, source, params)) << describe(choice);
        EXPECT_TRUE(planes_match(reference.work, fast.work, c.rows)) << describe(choice);
        EXPECT_EQ(reference.progress_calls, fast.progress_calls) << describe(choice);
    }
}

std::vector<FilterCase> filter_cases() {
    std::vector<FilterCase> cases;
    // 1x1, a row, a column, and interiors of one vector length -1, 0, +1 for
    // each instruction set (4, 8 and 16 lanes), on 1 to 7 columns.
    const uint32_t shapes[][2] = {{1, 1},  {1, 17}, {17, 1}, {2, 2},  {2, 7},  {3, 5},
                                  {5, 3},  {6, 4},  {7, 6},  {9, 7},  {10, 5}, {11, 2},
                                  {17, 3}, {18, 6}, {19, 7}, {33, 4}, {31, 9}, {40, 33}};
    for (const auto& shape : shapes)
        for (Values values : {Values::kSmooth, Values::kSpecial, Values::kDense})
            // NaN spreads by a pixel an iteration: images with special
            // values get one iteration, so that most results stay numbers.
            cases.push_back({shape[0], shape[1], values, values == Values::kSmooth ? 3 : 1, 0.2f});
    cases.push_back({24, 20, Values::kSmooth, 0, 0.2f});
    cases.push_back({24, 20, Values::kSmooth, -2, 0.2f});
    cases.push_back({24, 20, Values::kSpecial, 2, 1.5f});
    cases.push_back({24, 20, Values::kSmooth, 2, -0.3f});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Shapes, FilterPaths,
                         ::testing::Combine(::testing::ValuesIn(filter_cases()),
                                            ::testing::ValuesIn(kFastPaths)),
                         shape_and_path_name);

class FilterPathTest : public InstructionSetTest {};

TEST_P(FilterPathTest, RegionsWithDefinedDegenerateStatistics) {
    // An empty region (q0 NaN), a one-pixel region (var 0) and a uniform
    // image of zeros (every coefficient NaN).
    const uint32_t rows = 12, cols = 9;
    const std::vector<float> noisy = log_image(rows, cols, 5, Values::kSmooth);
    const std::vector<float> zeros(rows * cols, 0.0f);
    struct Case {
        const std::vector<float>* source;
        ReferenceRegion region;
    };
    const Case cases[] = {
        {&noisy, {5, 4, 0, 8, 0}}, {&noisy, {3, 3, 4, 4, 1}}, {&zeros, {0, 11, 0, 8, 108}}};
    for (const Case& c : cases) {
        const FilterSettings params{c.region, 2, 0.25f};
        FilterRun reference(rows, cols, 1.0f);
        reference.filter({CpuPath::kPlain, 1}, *c.source, params);
        for (const PathChoice& choice : choices_for(GetParam())) {
            FilterRun fast(rows, cols, 2.0f);
            fast.filter(choice, *c.source, params);
            EXPECT_TRUE(planes_match(reference.work, fast.work, rows)) << describe(choice);
        }
    }
}

TEST_P(FilterPathTest, ProgressRunsOnTheCallingThreadAndCanStop) {
    const uint32_t rows = 20, cols = 16;
    const std::vector<float> source = log_image(rows, cols, 9, Values::kSmooth);
    const FilterSettings params{middle_region(rows, cols), 6, 0.2f};
    for (int32_t stop_after : {-1, 0, 2, 5}) {
        for (const PathChoice& choice : choices_for(GetParam())) {
            FilterRun fast(rows, cols, 0.0f);
            fast.stop_after = stop_after;
            EXPECT_EQ(stop_after < 0, fast.filter(choice, source, params)) << describe(choice);
            const int32_t calls = stop_after < 0 ? 6 : stop_after + 1;
            ASSERT_EQ(static_cast<size_t>(calls), fast.progress_calls.size()) << describe(choice);
            for (int32_t k = 0; k < calls; ++k) {
                EXPECT_EQ(k, fast.progress_calls[k]);
                EXPECT_TRUE(pthread_equal(pthread_self(), fast.progress_threads[k]))
                    << describe(choice) << ", iteration " << k;
            }
        }
    }
}

// The interrupt check runs on the calling thread between iterations, as
// often as asked, with or without a progress step (one team an iteration,
// or one for the whole run); when it says stop the run ends there, and
// until then it changes no bit.
TEST_P(FilterPathTest, InterruptCheckRunsOnTheCallingThreadAndCanStop) {
    const uint32_t rows = 20, cols = 16;
    const std::vector<float> source = log_image(rows, cols, 9, Values::kSmooth);
    const FilterSettings params{middle_region(rows, cols), 7, 0.2f};
    FilterRun reference(rows, cols, 1.0f);
    reference.filter({CpuPath::kPlain, 1}, source, params);
    std::vector<PathChoice> choices = choices_for(GetParam());
    choices.push_back({CpuPath::kPlain, 1});
    for (bool with_progress : {false, true}) {
        for (int32_t interrupt_at : {0, 1, 2}) {
            for (const PathChoice& choice : choices) {
                const std::string where = describe(choice) + (with_progress ? ", progress" : "") +
                                          ", stop at question " + std::to_string(interrupt_at);
                FilterRun fast(rows, cols, 2.0f);
                fast.with_progress = with_progress;
                fast.question_iterations = 2;  // before iterations 2, 4 and 6
                fast.interrupt_at = interrupt_at;
                const CoreEnd end = fast.run(choice, source, params);
                EXPECT_EQ(end, interrupt_at == 0 ? CoreEnd::kCompleted : CoreEnd::kInterrupted)
                    << where;
                EXPECT_EQ(fast.question_threads.size(), interrupt_at == 0 ? 3u : interrupt_at)
                    << where;
                for (pthread_t thread : fast.question_threads)
                    EXPECT_TRUE(pthread_equal(pthread_self(), thread)) << where;
                if (with_progress) {
                    EXPECT_EQ(fast.progress_calls.size(), interrupt_at == 0 ? 7u : 2u * interrupt_at)
                        << where;
                }
                if (interrupt_at == 0) {
                    EXPECT_TRUE(planes_match(reference.work, fast.work, rows)) << where;
                }
            }
        }
    }
}

// Any amount of work between questions: less than an image asks after
// every iteration but the last, more than the call's work never asks, and
// no amount wraps round (2^32 images and more included).
TEST_P(FilterPathTest, AnyIntervalOfTheInterruptCheckIsKept) {
    const uint32_t rows = 20, cols = 16;
    const uint64_t image = uint64_t{rows} * cols;
    const std::vector<float> source = log_image(rows, cols, 9, Values::kSmooth);
    const FilterSettings params{middle_region(rows, cols), 7, 0.2f};
    FilterRun reference(rows, cols, 1.0f);
    reference.filter({CpuPath::kPlain, 1}, source, params);
    const struct {
        uint64_t work;
        size_t questions;
    } intervals[] = {{1, 6},          {image, 6},       {3 * image, 2},
                     {8 * image, 0},  {image << 32, 0}, {(image << 32) + image, 0},
                     {~uint64_t{0}, 0}};
    std::vector<PathChoice> choices = choices_for(GetParam());
    choices.push_back({CpuPath::kPlain, 1});
    for (const auto& interval : intervals) {
        for (const PathChoice& choice : choices) {
            FilterRun fast(rows, cols, 2.0f);
            fast.with_progress = false;
            fast.question_work = interval.work;
            ASSERT_TRUE(fast.filter(choice, source, params)) << describe(choice);
            EXPECT_EQ(fast.question_threads.size(), interval.questions)
                << describe(choice) << ", " << interval.work << " between questions";
            EXPECT_TRUE(planes_match(reference.work, fast.work, rows)) << describe(choice);
        }
    }
}

// A volume's pages side by side or one at a time, as the team and the
// page count decide: each page has the bits of the plain loops on that page
// alone, the progress steps run 0 .. steps - 1 in order on the calling
// thread, and the interrupt check is asked between them.
TEST_P(FilterPathTest, EveryPageOfAVolumeHasTheBitsOfItsOwnCall) {
    struct Shape {
        uint32_t rows, cols, pages;
    };
    const Shape shapes[] = {{20, 16, 1}, {20, 16, 2}, {9, 1, 5}, {1, 7, 4}, {33, 40, 7}};
    for (const Shape& shape : shapes) {
        const size_t plane = static_cast<size_t>(shape.rows) * shape.cols;
        const FilterSettings params{middle_region(shape.rows, shape.cols), 4, 0.2f};
        const std::vector<float> volume =
            log_image(shape.rows, shape.cols * shape.pages, shape.pages, Values::kSpecial);
        std::vector<float> expected;
        for (uint32_t page = 0; page < shape.pages; ++page) {
            const std::vector<float> one(volume.begin() + plane * page,
                                         volume.begin() + plane * (page + 1));
            const std::vector<float> filtered = filter_result(one, shape.rows, shape.cols, params);
            expected.insert(expected.end(), filtered.begin(), filtered.end());
        }
        for (const PathChoice& choice : choices_for(GetParam())) {
            const std::string where = std::to_string(shape.rows) + "x" + std::to_string(shape.cols) +
                                      "x" + std::to_string(shape.pages) + ", " + describe(choice);
            struct Seen {
                std::vector<std::pair<int64_t, int64_t>> steps;
                size_t questions = 0;
                bool off_thread = false;
                pthread_t caller = pthread_self();
            } seen;
            FilterOptions options = filter_options_for(choice);
            options.progress = {nullptr,
                                [](void* context, int64_t step, int64_t steps) {
                                    auto* seen = static_cast<Seen*>(context);
                                    seen->steps.push_back({step, steps});
                                    seen->off_thread |= !pthread_equal(pthread_self(), seen->caller);
                                    return true;
                                },
                                &seen};
            options.core.interrupt = {[](void* context) {
                                          auto* seen = static_cast<Seen*>(context);
                                          ++seen->questions;
                                          seen->off_thread |=
                                              !pthread_equal(pthread_self(), seen->caller);
                                          return false;
                                      },
                                      &seen, 1};
            std::vector<float> result(volume.size(), -7.0f);
            ASSERT_EQ(tarv_filter(volume.data(), result.data(), shape.rows, shape.cols, shape.pages,
                                  params, options, nullptr),
                      CoreEnd::kCompleted)
                << where;
            EXPECT_TRUE(planes_match(expected, result, shape.rows)) << where;
            ASSERT_FALSE(seen.steps.empty()) << where;
            const int64_t steps = seen.steps.front().second;
            // A stretch of iterations of the pages side by side, or an
            // iteration of each page alone.
            EXPECT_TRUE(steps >= 1 && steps <= 4 * static_cast<int64_t>(shape.pages))
                << where << ": " << steps << " steps";
            for (size_t k = 0; k < seen.steps.size(); ++k)
                EXPECT_EQ(seen.steps[k], std::make_pair(static_cast<int64_t>(k), steps)) << where;
            EXPECT_EQ(seen.steps.size(), static_cast<size_t>(steps)) << where;
            EXPECT_EQ(seen.questions, static_cast<size_t>(steps - 1)) << where;
            EXPECT_FALSE(seen.off_thread) << where;
        }
    }
}

// The calling thread's floating-point environment: rounding direction, and
// the processor's flush-to-zero control (MXCSR's flush-to-zero and
// denormals-are-zero bits on x86-64, FPCR's FZ bit on AArch64).
struct FloatingPointMode {
    const char* name;
    int rounding;
    bool flush_to_zero;
};

#if defined(__aarch64__)
using ControlWord = uint64_t;
ControlWord control_word() {
    ControlWord word;
    __asm__ volatile("mrs %0, fpcr" : "=r"(word));
    return word;
}
void set_control_word(ControlWord word) { __asm__ volatile("msr fpcr, %0" : : "r"(word)); }
constexpr ControlWord kFlushToZero = 1u << 24;
#else
using ControlWord = unsigned;
ControlWord control_word() { return __builtin_ia32_stmxcsr(); }
void set_control_word(ControlWord word) { __builtin_ia32_ldmxcsr(word); }
constexpr ControlWord kFlushToZero = 0x8040;
#endif

TEST_P(FilterPathTest, WorkersComputeInTheCallersFloatingPointEnvironment) {
    // Threads start with their creator's environment, so every path rounds
    // and flushes as the host has set, as the plain loops do.
    const uint32_t rows = 30, cols = 24;
    const std::vector<float> source = log_image(rows, cols, 17, Values::kSmooth);
    const FilterSettings params{middle_region(rows, cols), 3, 0.3f};
    const FloatingPointMode modes[] = {{"upward", FE_UPWARD, false},
                                       {"toward zero", FE_TOWARDZERO, false},
                                       {"flush to zero", FE_TONEAREST, true}};
    const int saved_rounding = std::fegetround();
    const ControlWord saved_control = control_word();
    for (const FloatingPointMode& mode : modes) {
        std::fesetround(mode.rounding);
        if (mode.flush_to_zero) set_control_word(control_word() | kFlushToZero);
        FilterRun reference(rows, cols, 1.0f);
        reference.filter({CpuPath::kPlain, 1}, source, params);
        std::vector<std::vector<float>> fast_results;
        for (const PathChoice& choice : choices_for(GetParam())) {
            FilterRun fast(rows, cols, 2.0f);
            fast.filter(choice, source, params);
            fast_results.push_back(fast.work);
        }
        set_control_word(saved_control);
        std::fesetround(saved_rounding);
        const std::vector<PathChoice> choices = choices_for(GetParam());
        for (size_t k = 0; k < choices.size(); ++k)
            EXPECT_TRUE(planes_match(reference.work, fast_results[k], rows))
                << mode.name << ", " << describe(choices[k]);
    }
}

// Any team size gives the bits of one thread: the blocks of columns, their
// halos and the scratch columns of every block, up to the most threads a
// team has.
TEST_P(FilterPathTest, EveryThreadCountGivesTheSameBits) {
    const uint32_t rows = 37, cols = 150;
    const std::vector<float> source = log_image(rows, cols, 41, Values::kSpecial);
    const FilterSettings params{middle_region(rows, cols), 3, 0.2f};
    FilterRun reference(rows, cols, 1.0f);
    reference.filter({CpuPath::kPlain, 1}, source, params);
    for (int32_t threads : {4, 5, 6, 7, 8, 13, 31, 64, 75}) {
        FilterRun fast(rows, cols, 2.0f);
        fast.filter({GetParam(), threads}, source, params);
        EXPECT_TRUE(planes_match(reference.work, fast.work, rows)) << threads << " threads";
    }
}

INSTANTIATE_TEST_SUITE_P(InstructionSets, FilterPathTest, ::testing::ValuesIn(kFastPaths),
                         [](const auto& info) { return path_suffix(info.param); });

TEST(FilterPathsTest, AutomaticChoiceOnAnImageLargeEnoughForThreads) {
    const uint32_t rows = 300, cols = 260;
    const std::vector<float> source = log_image(rows, cols, 21, Values::kSpecial);
    const FilterSettings params{middle_region(rows, cols), 2, 0.2f};
    FilterRun reference(rows, cols, 1.0f);
    reference.filter({CpuPath::kPlain, 1}, source, params);
    FilterRun fast(rows, cols, 2.0f);
    fast.with_progress = false;
    ASSERT_TRUE(fast.filter(kAutomaticPath, source, params));
    EXPECT_TRUE(planes_match(reference.work, fast.work, rows));
}

// --- the scorer --------------------------------------------------------------

struct ScoreCase {
    int32_t A, B, C;
    double top_offset, bottom_offset;
    bool wild_limits;  // NaN limits, limits admitting negative spans, sd 0
};

void PrintTo(const ScoreCase& c, std::ostream* out) {
    *out << "A " << c.A << ", B " << c.B << ", C " << c.C << ", offsets " << c.top_offset << " and "
         << c.bottom_offset << (c.wild_limits ? ", NaN and negative limits" : "");
}

struct ScoreSetup {
    int32_t rows;
    std::vector<double> image, span_mean, span_sd, span_min, span_max;
    BandScoreParams params;
};

ScoreSetup score_setup(const ScoreCase& c, unsigned seed) {
    constexpr double kNaND = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInfD = std::numeric_limits<double>::infinity();
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    ScoreSetup s;
    // Every row a pair can reach: tops and bottoms start at row 0 or below
    // and run below the image's last row.
    s.rows = static_cast<int32_t>(std::max(c.top_offset + c.A, c.bottom_offset + c.B)) + 2;
    s.image.resize(static_cast<size_t>(s.rows) * c.C);
    const double special[] = {kNaND, kInfD, -kInfD, 0.0, -0.0, 4.9e-324, -2.2e-310, 1e300};
    for (double& v : s.image) {
        const double u = unit(generator);
        v = u < 0.03 ? special[static_cast<int>(unit(generator) * 8)] : unit(generator) * 100.0;
    }
    for (int32_t k = 0; k < c.C; ++k) {
        const double low = std::floor(unit(generator) * 6.0) - 1.0;
        double mean = low + 4.0, sd = 0.5 + unit(generator) * 5.0;
        double min = low, max = low + std::floor(unit(generator) * 12.0);
        if (c.wild_limits) {
            switch (k % 5) {
                case 0: min = kNaND; break;
                case 1: max = kNaND; break;
                case 2: min = kNaND, max = kNaND; break;
                case 3: min = -3.0, sd = 0.0, mean = 2.0; break;
                case 4: min = max + 1.0; break;  // nothing admissible
            }
        }
        s.span_mean.push_back(mean);
        s.span_sd.push_back(sd);
        s.span_min.push_back(min);
        s.span_max.push_back(max);
    }
    s.params = {
        c.top_offset,      c.bottom_offset,  c.A, c.B, 1.5, s.span_mean.data(), s.span_sd.data(),
        s.span_min.data(), s.span_max.data()};
    return s;
}

class ScorePaths : public ::testing::TestWithParam<std::tuple<ScoreCase, CpuPath>> {};

TEST_P(ScorePaths, EveryPathGivesTheBitsOfThePlainLoop) {
    const auto [c, path] = GetParam();
    SKIP_UNLESS_SUPPORTED(path);
    const ScoreSetup s = score_setup(c, static_cast<unsigned>(c.A * 1000 + c.B * 10 + c.C));
    BandPair pair;
    ASSERT_TRUE(candidate_rows_in_range(c.C, s.params, &pair));
    ASSERT_TRUE(admissible_rows_in_image(s.rows, c.C, s.params, &pair)) << "test set-up";
    const size_t cells = static_cast<size_t>(c.A) * c.B * c.C;
    std::vector<double> reference(cells, 11.0);
    score_bands_reference(s.image.data(), s.rows, c.C, s.params, reference.data());
    for (const PathChoice& choice : choices_for(path)) {
        std::vector<double> fast(cells, -13.0);
        band_score(s.image.data(), s.rows, c.C, s.params, fast.data(), options_for(choice));
        EXPECT_TRUE(planes_match(reference, fast, static_cast<size_t>(c.A)))
            << describe(choice) << " (rows of the message are tops, columns b + B * c)";
    }
}

std::vector<ScoreCase> score_cases() {
    std::vector<ScoreCase> cases;
    // Counts of 1 and of one vector length -1, 0, +1 for 2, 4 and 8 lanes.
    const int32_t counts[] = {1, 2, 3, 4, 5, 7, 8, 9, 17};
    for (int32_t A : counts)
        for (int32_t B : {1, 3, 8, 9}) cases.push_back({A, B, 5, 0.0, 2.0, false});
    for (bool wild : {false, true}) {
        cases.push_back({9, 17, 7, 0.0, 0.0, wild});
        cases.push_back({16, 12, 10, 3.0, 1.0, wild});
        cases.push_back({7, 9, 10, -0.5, 2.5, wild});   // tops 0, 0, 1, ...; bottoms 2, 3, ...
        cases.push_back({12, 5, 10, 4.7, -0.9, wild});  // bottoms 0, 1, ... below most tops
        cases.push_back({5, 30, 3, 1.25, 0.75, wild});
        cases.push_back({6, 9, 5, 0.0, -6.0, wild});  // bottoms from -6: spans below 0 read no row
    }
    cases.push_back({0, 4, 3, 0.0, 0.0, false});
    cases.push_back({4, 0, 3, 0.0, 0.0, false});
    cases.push_back({4, 4, 0, 0.0, 0.0, false});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Shapes, ScorePaths,
                         ::testing::Combine(::testing::ValuesIn(score_cases()),
                                            ::testing::ValuesIn(kFastPaths)),
                         shape_and_path_name);

class ScorePathTest : public InstructionSetTest {};

TEST_P(ScorePathTest, EveryThreadCountGivesTheSameBits) {
    const ScoreCase c{11, 13, 90, 1.0, 3.0, true};
    const ScoreSetup s = score_setup(c, 43);
    const size_t cells = static_cast<size_t>(c.A) * c.B * c.C;
    std::vector<double> reference(cells, 1.0);
    score_bands_reference(s.image.data(), s.rows, c.C, s.params, reference.data());
    for (int32_t threads : {4, 5, 7, 8, 13, 64, 90}) {
        std::vector<double> fast(cells, 2.0);
        band_score(s.image.data(), s.rows, c.C, s.params, fast.data(),
                   options_for({GetParam(), threads}));
        EXPECT_TRUE(planes_match(reference, fast, static_cast<size_t>(c.A))) << threads << " threads";
    }
}

// With an interrupt check asked as often as can be (a round of one column a
// thread; after every top in the plain loop), every path still gives the
// plain loop's bits and asks on the calling thread only; a stop ends it.
TEST_P(ScorePathTest, InterruptCheckRunsOnTheCallingThreadAndCanStop) {
    const ScoreCase c{11, 13, 90, 1.0, 3.0, true};
    const ScoreSetup s = score_setup(c, 43);
    const size_t cells = static_cast<size_t>(c.A) * c.B * c.C;
    std::vector<double> reference(cells, 1.0);
    score_bands_reference(s.image.data(), s.rows, c.C, s.params, reference.data());
    struct Questions {
        int32_t stop_at;  // 1-based; 0 never
        std::vector<pthread_t> threads;
    };
    const auto ask = [](void* context) {
        auto* q = static_cast<Questions*>(context);
        q->threads.push_back(pthread_self());
        return static_cast<int32_t>(q->threads.size()) == q->stop_at;
    };
    std::vector<PathChoice> choices = choices_for(GetParam());
    choices.push_back({GetParam(), 7});
    choices.push_back({CpuPath::kPlain, 1});
    for (const PathChoice& choice : choices) {
        for (int32_t stop_at : {0, 2}) {
            Questions questions{stop_at, {}};
            std::vector<double> fast(cells, 2.0);
            CoreOptions options = options_for(choice);
            options.interrupt = {ask, &questions, 1};
            const bool completed = band_score(s.image.data(), s.rows, c.C, s.params, fast.data(),
                                              options) == CoreEnd::kCompleted;
            EXPECT_EQ(completed, stop_at == 0) << describe(choice);
            if (stop_at == 0) {
                EXPECT_TRUE(planes_match(reference, fast, static_cast<size_t>(c.A)))
                    << describe(choice);
                // Between rounds of one column a thread, or after each top.
                const size_t rounds = (c.C + choice.threads - 1) / choice.threads;
                EXPECT_EQ(questions.threads.size(), choice.path == CpuPath::kPlain
                                                        ? static_cast<size_t>(c.A) * c.C
                                                        : rounds - 1)
                    << describe(choice);
            } else {
                EXPECT_EQ(questions.threads.size(), 2u) << describe(choice);
            }
            for (pthread_t thread : questions.threads)
                EXPECT_TRUE(pthread_equal(pthread_self(), thread)) << describe(choice);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(InstructionSets, ScorePathTest, ::testing::ValuesIn(kFastPaths),
                         [](const auto& info) { return path_suffix(info.param); });

TEST(ScorePathsTest, AutomaticChoiceOnAVolumeLargeEnoughForThreads) {
    const ScoreCase c{40, 40, 64, 0.0, 10.0, false};
    ScoreSetup s = score_setup(c, 77);
    s.span_min.assign(c.C, 0.0);
    s.span_max.assign(c.C, 45.0);
    const size_t cells = static_cast<size_t>(c.A) * c.B * c.C;
    std::vector<double> reference(cells, 1.0), fast(cells, 2.0);
    score_bands_reference(s.image.data(), s.rows, c.C, s.params, reference.data());
    band_score(s.image.data(), s.rows, c.C, s.params, fast.data(), options_for(kAutomaticPath));
    EXPECT_TRUE(planes_match(reference, fast, static_cast<size_t>(c.A)));
}

// --- through the plug-ins ------------------------------------------------------
// Large enough for the plug-ins to start threads, called as a host calls
// them, against the plain loops.

TEST(PluginPathsTest, FilterPlugInGivesTheBitsOfThePlainLoops) {
    const uint32_t rows = 300, cols = 260;
    const std::vector<float> source = log_image(rows, cols, 23, Values::kSmooth);
    const ReferenceRegion region{20, 59, 30, 89, 40 * 60};
    FilterRun reference(rows, cols, 1.0f);
    reference.filter({CpuPath::kPlain, 1}, source, {region, 3, 0.2f});
    RecordedProgress progress;
    Inputs inputs({testhost::make_single(rows, cols, source), testhost::make_scalar(3),
                   testhost::make_scalar(0.2), testhost::make_scalar(21), testhost::make_scalar(60),
                   testhost::make_scalar(31), testhost::make_scalar(90), testhost::make_scalar(1)});
    Outcome outcome(testhost::call(plugin_at(TARV_C_PLUGIN), 1, inputs.arrays));
    ASSERT_TRUE(outcome.call.ok) << outcome.call.error_id << ": " << outcome.call.error_message;
    EXPECT_TRUE(planes_match(reference.work, testhost::single_values(outcome.call.result), rows));
    EXPECT_FALSE(progress.calls().empty()) << "the progress bar was on";
}

TEST(PluginPathsTest, ScorerPlugInGivesTheBitsOfThePlainLoop) {
    const ScoreCase c{48, 40, 64, 2.0, 9.0, true};
    const ScoreSetup s = score_setup(c, 31);
    const size_t cells = static_cast<size_t>(c.A) * c.B * c.C;
    std::vector<double> reference(cells, 0.0);
    score_bands_reference(s.image.data(), s.rows, c.C, s.params, reference.data());
    auto row = [](const std::vector<double>& v) { return testhost::make_double({1, v.size()}, v); };
    Inputs inputs(
        {testhost::make_scalar(c.top_offset), testhost::make_scalar(c.bottom_offset),
         testhost::make_double({static_cast<size_t>(s.rows), static_cast<size_t>(c.C)}, s.image),
         row(s.span_mean), row(s.span_sd), testhost::make_scalar(c.A), testhost::make_scalar(c.B),
         testhost::make_scalar(s.params.prior_weight), row(s.span_min), row(s.span_max)});
    Outcome outcome(testhost::call(plugin_at(BANDSCORE_PLUGIN), 1, inputs.arrays));
    ASSERT_TRUE(outcome.call.ok) << outcome.call.error_id << ": " << outcome.call.error_message;
    EXPECT_TRUE(planes_match(reference, testhost::double_values(outcome.call.result),
                             static_cast<size_t>(c.A)));
}

}  // namespace
