// The 64-bit Windows plug-ins, TARV_c.mexw64 and bandscore.mexw64, as a
// host uses them: calls made under wine by the 64-bit Windows test host
// (win64_runner.exe) on the same inputs as the Linux plug-ins, which this
// process calls through the test host.
//
// Both builds compute with the same SSE2 arithmetic and the same fast
// paths, so every kernel step gives the same bits; only the C runtime's exp
// and logf (msvcrt's there, glibc's here) may differ. The comparisons say
// so exactly: where msvcrt's functions give glibc's values on a call's
// arguments, the Windows result must have the Linux bits; elsewhere the
// difference is reported (largest ulps, share of elements) and held to a
// bound. The runner also runs the Windows cores on every path this
// processor has, with one and several threads, against the plain loops.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bits.h"
#include "kernel.h"
#include "scorer.h"
#include "test_host.h"
#include "win64_calls.h"

namespace {

using namespace win64;

// --- the filter ------------------------------------------------------------------

struct FilterCase {
    const char* name;
    uint32_t rows, cols;
    float low, high;  // log intensities drawn uniformly from [low, high]
    double iterations, lambda;
    double first_row, last_row, first_col, last_col;  // 1-based, inclusive
    double flag;
    int64_t max_ulps = 4;  // from the Linux build's results
    bool special = false;  // a few NaN, infinite and huge inputs besides
};

void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

std::vector<float> filter_image(const FilterCase& c) {
    std::mt19937 random(c.rows * 7919u + c.cols);
    std::uniform_real_distribution<float> draw(c.low, c.high);
    std::uniform_int_distribution<int> percent(0, 99);
    static const float kSpecial[] = {NAN, INFINITY, -INFINITY, 0.0f, -0.0f, 1e-40f, -95.0f, 89.0f, 45.0f};
    std::uniform_int_distribution<int> pick(0, 8);
    std::vector<float> image(static_cast<size_t>(c.rows) * c.cols);
    for (float& value : image)
        value = c.special && percent(random) < 3 ? kSpecial[pick(random)] : draw(random);
    return image;
}

void make_filter_inputs(const FilterCase& c, Inputs& inputs) {
    inputs.add(testhost::make_single(c.rows, c.cols, filter_image(c)));
    for (double scalar : {c.iterations, c.lambda, c.first_row, c.last_row, c.first_col, c.last_col, c.flag})
        add_scalar(inputs, scalar);
}

// The Linux plain loops' working values just before the final logarithm:
// the progress step after the last iteration sees them.
std::vector<float> linux_values_before_logarithm(const FilterCase& c) {
    const uint32_t rows = c.rows, cols = c.cols;
    const std::vector<float> source = filter_image(c);
    std::vector<float> work(source.size());
    const int32_t iterations = static_cast<int32_t>(c.iterations);
    if (iterations <= 0) {
        exponentiate_pixels(source.data(), work.data(), 0, rows * cols);
        return work;
    }
    std::vector<int32_t> row_up(rows), row_down(rows), col_left(cols), col_right(cols);
    const NeighbourTables tables{row_up.data(), row_down.data(), col_left.data(), col_right.data()};
    build_neighbour_tables(rows, cols, tables);
    const size_t plane = source.size();
    std::vector<float> scratch(5 * plane);
    float* s = scratch.data();
    const DiffusionScratch planes{s, s + plane, s + 2 * plane, s + 3 * plane, s + 4 * plane};
    const auto bound = [](double v) { return static_cast<uint32_t>(static_cast<int32_t>(v) - 1); };
    ReferenceRegion region{bound(c.first_row), bound(c.last_row), bound(c.first_col),
                           bound(c.last_col), 0};
    region.count = (region.last_col - region.first_col + 1) * (region.last_row - region.first_row + 1);
    struct Capture {
        const float* work;
        std::vector<float>* copy;
        int32_t last;
    } capture{work.data(), new std::vector<float>(), iterations - 1};
    const auto step = [](void* context, int32_t iteration) {
        auto* cap = static_cast<Capture*>(context);
        if (iteration == cap->last) cap->copy->assign(cap->work, cap->work + cap->copy->capacity());
        return true;
    };
    capture.copy->reserve(plane);
    diffuse_reference(source.data(), work.data(), rows, cols, tables, planes,
                      {{region}, iterations, static_cast<float>(c.lambda)}, {step, &capture});
    std::vector<float> before(*capture.copy);
    delete capture.copy;
    return before;
}

const FilterCase kFilterCases[] = {
    {"speckle", 40, 33, 0.0f, 4.0f, 12, 0.2, 5, 20, 3, 15, 0},
    {"lambda_not_single", 19, 23, -2.0f, 3.0f, 8, 0.1, 1, 19, 1, 23, 1},
    {"one_row", 1, 29, 0.0f, 3.0f, 6, 0.2, 1, 1, 3, 9, 0},
    {"one_column", 31, 1, 0.0f, 3.0f, 6, 0.2, 4, 12, 1, 1, 0},
    {"no_iteration", 9, 7, -5.0f, 5.0f, 0, 0.2, 1, 9, 1, 7, 0},
    {"low_contrast", 24, 17, 1.0f, 1.5f, 10, 0.25, 3, 8, 2, 6, 0},
    {"many_iterations", 16, 16, 0.5f, 2.5f, 60, 0.24, 2, 14, 2, 14, 3},
    // Large enough for the plug-in to start its threads.
    {"threaded", 300, 260, 0.0f, 4.0f, 3, 0.2, 21, 60, 31, 90, 1},
    {"special_values", 37, 29, -1.0f, 3.0f, 1, 0.2, 3, 20, 2, 17, 0, 4, true},
    // Working values from subnormal up to about 2^-115, and no iteration
    // (in which NaN would spread from them): flushing the subnormal ones to
    // zero changes the results.
    {"tiny_values", 40, 33, -100.0f, -80.0f, 0, 0.2, 5, 20, 3, 15, 0},
};

class Win64Filter : public ::testing::TestWithParam<FilterCase> {};

// Where msvcrt's exp gives glibc's values on the image, every working value
// before the logarithm has the Linux bits, and the Windows result is
// msvcrt's logf of them; the difference from Linux is then the two
// runtimes' logf, and is reported.
TEST_P(Win64Filter, HasTheLinuxBitsButForTheRuntimesLogarithm) {
    const FilterCase& c = GetParam();
    Inputs inputs;
    make_filter_inputs(c, inputs);
    const Outcome linux_outcome = run_linux(Plugin::kFilter, inputs);
    const Outcome windows = run_windows(Plugin::kFilter, inputs);
    ASSERT_EQ(linux_outcome.status, "ok");
    expect_same_behaviour(linux_outcome, windows);
    EXPECT_EQ(windows.leftover, 0u);
    ASSERT_EQ(windows.singles.size(), linux_outcome.singles.size());

    // msvcrt's exp of the source, through the Windows core's own step.
    Inputs source;
    source.add(mxDuplicateArray(inputs.arrays[0]));
    const Outcome windows_exp = run_windows(Plugin::kFilter, source, "--step exponentiate");
    std::vector<float> linux_exp(windows.singles.size());
    exponentiate_pixels(static_cast<const float*>(mxGetData(inputs.arrays[0])), linux_exp.data(), 0,
                        static_cast<uint32_t>(linux_exp.size()));
    const Difference exp_difference = difference(linux_exp, windows_exp.singles);

    // msvcrt's logf of the Linux working values.
    Inputs before;
    before.add(testhost::make_single(c.rows, c.cols, linux_values_before_logarithm(c)));
    const Outcome windows_log = run_windows(Plugin::kFilter, before, "--step logarithm");
    const Difference log_difference = difference(linux_outcome.singles, windows_log.singles);

    const Difference d = difference(linux_outcome.singles, windows.singles);
    std::cout << "TARV_c " << c.name << ": max " << d.max_ulps << " ulps from Linux, "
              << d.differing << " of " << windows.singles.size() << " pixels differ ("
              << 100.0 * static_cast<double>(d.differing) / static_cast<double>(windows.singles.size())
              << " %); the runtimes' exp differs on " << exp_difference.differing
              << " source pixels, their logf on " << log_difference.differing << " results\n";
    if (exp_difference.differing == 0) {
        EXPECT_TRUE(planes_match(windows_log.singles, windows.singles, c.rows))
            << "a kernel step differs from Linux";
    }
    EXPECT_LE(d.max_ulps, c.max_ulps);
}

INSTANTIATE_TEST_SUITE_P(Images, Win64Filter, ::testing::ValuesIn(kFilterCases),
                         [](const ::testing::TestParamInfo<FilterCase>& info) {
                             return std::string(info.param.name);
                         });

// The runtimes themselves, on many arguments: the filter's two steps that
// call them, (float) exp((double) x) and logf, through the Windows core
// against the Linux one. Printed, and held to one ulp.
TEST(Win64Runtime, ExpAndLogfAgainstGlibc) {
    struct Sweep {
        const char* step;
        float low, high;  // every 2^shift-th float from low up to high
        int shift;
    };
    const Sweep kSweeps[] = {{"exponentiate", -103.0f, 88.0f, 10}, {"logarithm", 0x1p-30f, 0x1p30f, 9}};
    for (const Sweep& sweep : kSweeps) {
        std::vector<float> values;
        const auto ordered = [](float x) { return std::bit_cast<int32_t>(x); };
        const auto at = [](int32_t bits) { return std::bit_cast<float>(bits); };
        // Both ranges are positive or start below zero and end above it.
        for (float x = sweep.low; x <= sweep.high;) {
            values.push_back(x);
            const int32_t bits = ordered(x);
            x = x < 0 ? (bits - (1 << sweep.shift) > static_cast<int32_t>(0x80000000u) ? at(bits - (1 << sweep.shift)) : 0.0f)
                      : at(bits + (1 << sweep.shift));
        }
        std::vector<float> linux_values(values.size());
        const uint32_t count = static_cast<uint32_t>(values.size());
        if (std::string(sweep.step) == "exponentiate") {
            exponentiate_pixels(values.data(), linux_values.data(), 0, count);
        } else {
            linux_values = values;
            take_logarithms(linux_values.data(), 0, count);
        }
        Inputs inputs;
        inputs.add(testhost::make_single(values.size(), 1, values));
        const Outcome windows = run_windows(Plugin::kFilter, inputs, std::string("--step ") + sweep.step);
        ASSERT_EQ(windows.singles.size(), values.size());
        const Difference d = difference(linux_values, windows.singles);
        std::cout << "msvcrt against glibc, " << sweep.step << " of " << values.size()
                  << " floats from " << sweep.low << " to " << sweep.high << ": " << d.differing
                  << " differ (" << 100.0 * static_cast<double>(d.differing) / static_cast<double>(values.size())
                  << " %), by at most " << d.max_ulps << " ulps\n";
        EXPECT_LE(d.max_ulps, 1) << sweep.step;
    }
}

// --- the scorer ------------------------------------------------------------------

struct ScoreCase {
    const char* name;
    int32_t rows, cols, top_count, bottom_count;
    double top_offset, bottom_offset, prior_weight;
    double span_low, span_high;  // admissible spans of every column
    int64_t max_ulps = 4;
};

void PrintTo(const ScoreCase& c, std::ostream* os) { *os << c.name; }

struct ScoreArrays {
    std::vector<double> image, span_mean, span_sd, span_min, span_max;
};

ScoreArrays score_arrays(const ScoreCase& c) {
    std::mt19937 random(static_cast<unsigned>(c.rows * 131 + c.cols));
    std::uniform_real_distribution<double> value(-1.0, 3.0), centre(5.0, 30.0), width(2.0, 12.0);
    ScoreArrays a;
    a.image.resize(static_cast<size_t>(c.rows) * c.cols);
    for (double& v : a.image) v = value(random);
    for (int32_t k = 0; k < c.cols; ++k) {
        a.span_mean.push_back(centre(random));
        a.span_sd.push_back(width(random));
        a.span_min.push_back(c.span_low);
        a.span_max.push_back(c.span_high);
    }
    return a;
}

void make_score_inputs(const ScoreCase& c, Inputs& inputs) {
    const ScoreArrays a = score_arrays(c);
    const auto row = [](const std::vector<double>& v) { return testhost::make_double({1, v.size()}, v); };
    add_scalar(inputs, c.top_offset);
    add_scalar(inputs, c.bottom_offset);
    inputs.add(testhost::make_double({static_cast<size_t>(c.rows), static_cast<size_t>(c.cols)}, a.image));
    inputs.add(row(a.span_mean));
    inputs.add(row(a.span_sd));
    add_scalar(inputs, c.top_count);
    add_scalar(inputs, c.bottom_count);
    add_scalar(inputs, c.prior_weight);
    inputs.add(row(a.span_min));
    inputs.add(row(a.span_max));
}

const ScoreCase kScoreCases[] = {
    {"bands", 120, 37, 25, 30, 10.0, 40.0, 0.5, 5.0, 60.0},
    {"fractional_offsets", 90, 12, 17, 19, 4.7, 30.2, 2.0, 0.0, 70.0},
    {"all_spans", 70, 9, 20, 20, 0.0, 10.0, 1.0, -kInf, kInf},
    // Large enough for the plug-in to start its threads.
    {"threaded", 200, 64, 48, 40, 2.0, 9.0, 0.5, 0.0, 200.0},
};

class Win64Scorer : public ::testing::TestWithParam<ScoreCase> {};

// Each cell's span term is the only place exp enters: cells whose span term
// msvcrt gives the glibc bits for (the Windows core's span_prior against
// the Linux one's, span by span and column by column) must have the Linux
// bits; the others are reported.
TEST_P(Win64Scorer, HasTheLinuxBitsButForTheRuntimesExp) {
    const ScoreCase& c = GetParam();
    Inputs inputs;
    make_score_inputs(c, inputs);
    const Outcome linux_outcome = run_linux(Plugin::kScorer, inputs);
    const Outcome windows = run_windows(Plugin::kScorer, inputs);
    ASSERT_EQ(linux_outcome.status, "ok") << linux_outcome.message;
    expect_same_behaviour(linux_outcome, windows);
    ASSERT_EQ(windows.doubles.size(), linux_outcome.doubles.size());

    // The span terms of every span a pair can have, on both runtimes.
    const int32_t low = candidate_row(0, c.bottom_offset) - candidate_row(c.top_count - 1, c.top_offset);
    const int32_t high = candidate_row(c.bottom_count - 1, c.bottom_offset) - candidate_row(0, c.top_offset);
    std::vector<double> spans;
    for (int32_t s = low; s <= high; ++s) spans.push_back(s);
    const ScoreArrays a = score_arrays(c);
    Inputs prior_inputs;
    prior_inputs.add(testhost::make_double({1, spans.size()}, spans));
    prior_inputs.add(testhost::make_double({1, a.span_mean.size()}, a.span_mean));
    prior_inputs.add(testhost::make_double({1, a.span_sd.size()}, a.span_sd));
    add_scalar(prior_inputs, c.prior_weight);
    const Outcome windows_prior = run_windows(Plugin::kScorer, prior_inputs, "--step span-prior");
    ASSERT_EQ(windows_prior.doubles.size(), spans.size() * static_cast<size_t>(c.cols));

    size_t exp_differs = 0, unexplained = 0;
    const size_t A = static_cast<size_t>(c.top_count), B = static_cast<size_t>(c.bottom_count);
    for (size_t cell = 0; cell < windows.doubles.size(); ++cell) {
        const size_t a_index = cell % A, b_index = cell / A % B, column = cell / (A * B);
        const int32_t span = candidate_row(static_cast<int32_t>(b_index), c.bottom_offset) -
                             candidate_row(static_cast<int32_t>(a_index), c.top_offset);
        const double linux_prior = span_prior(span, a.span_mean[column], a.span_sd[column], c.prior_weight);
        const bool prior_same =
            same_bits(linux_prior, windows_prior.doubles[static_cast<size_t>(span - low) + spans.size() * column]);
        exp_differs += !prior_same;
        if (prior_same && !same_bits(linux_outcome.doubles[cell], windows.doubles[cell])) {
            if (unexplained++ == 0)
                ADD_FAILURE() << "cell (" << a_index << ", " << b_index << ", " << column
                              << ") differs with the same span term: Linux "
                              << hex_of(linux_outcome.doubles[cell]) << ", Windows "
                              << hex_of(windows.doubles[cell]);
        }
    }
    const Difference d = difference(linux_outcome.doubles, windows.doubles);
    std::cout << "bandscore " << c.name << ": max " << d.max_ulps << " ulps from Linux, "
              << d.differing << " of " << windows.doubles.size() << " cells differ ("
              << 100.0 * static_cast<double>(d.differing) / static_cast<double>(windows.doubles.size())
              << " %); the runtimes' exp differs on the span term of " << exp_differs << " cells\n";
    EXPECT_EQ(unexplained, 0u);
    EXPECT_LE(d.max_ulps, c.max_ulps);
}

INSTANTIATE_TEST_SUITE_P(Volumes, Win64Scorer, ::testing::ValuesIn(kScoreCases),
                         [](const ::testing::TestParamInfo<ScoreCase>& info) {
                             return std::string(info.param.name);
                         });

// --- every path, one and several threads -----------------------------------------

struct PathCase {
    Plugin plugin;
    int case_index;  // into kFilterCases or kScoreCases
    const char* path;
    int threads;
    const char* environment;  // runner options for the caller's floating-point state
};

std::string path_case_name(const ::testing::TestParamInfo<PathCase>& info) {
    const PathCase& p = info.param;
    std::string name = p.plugin == Plugin::kFilter ? std::string("TARV_c_") + kFilterCases[p.case_index].name
                                                   : std::string("bandscore_") + kScoreCases[p.case_index].name;
    name += std::string("_") + p.path + "_" + std::to_string(p.threads) + "_threads";
    const std::string environment = p.environment;
    if (environment == "--rounding upward") name += "_rounding_upward";
    if (environment == "--flush-to-zero") name += "_flush_to_zero";
    return name;
}

void PrintTo(const PathCase& p, std::ostream* os) {
    *os << path_case_name(::testing::TestParamInfo<PathCase>(p, 0));
}

class Win64Paths : public ::testing::TestWithParam<PathCase> {};

// The Windows core on a path, with a thread count and the caller's
// floating-point state, gives the bits of its plain loops (a NaN's sign
// aside); a path this processor lacks is skipped.
TEST_P(Win64Paths, GiveTheBitsOfThePlainLoops) {
    const PathCase& p = GetParam();
    Inputs inputs;
    if (p.plugin == Plugin::kFilter)
        make_filter_inputs(kFilterCases[p.case_index], inputs);
    else
        make_score_inputs(kScoreCases[p.case_index], inputs);
    const std::string environment = p.environment;
    const Outcome fast = run_windows(p.plugin, inputs, "--core " + std::string(p.path) + " " +
                                                           std::to_string(p.threads) + " " + environment);
    if (!fast.supported) GTEST_SKIP() << "this processor has no " << p.path << " path";
    const Outcome plain = run_windows(p.plugin, inputs, "--core plain 1 " + environment);
    ASSERT_EQ(plain.status, "ok");
    ASSERT_EQ(fast.status, "ok");
    if (p.plugin == Plugin::kFilter) {
        EXPECT_FALSE(plain.singles.empty());
        EXPECT_TRUE(planes_match(plain.singles, fast.singles, kFilterCases[p.case_index].rows));
    } else {
        EXPECT_FALSE(plain.doubles.empty());
        EXPECT_TRUE(planes_match(plain.doubles, fast.doubles,
                                 static_cast<size_t>(kScoreCases[p.case_index].top_count)));
    }
}

std::vector<PathCase> path_cases() {
    std::vector<PathCase> cases;
    for (const char* path : {"baseline", "avx2", "avx512"}) {
        for (int threads : {1, 2, 3}) {
            for (int k : {0, 7, 8}) cases.push_back({Plugin::kFilter, k, path, threads, ""});
            for (int k : {0, 3}) cases.push_back({Plugin::kScorer, k, path, threads, ""});
        }
        // Members start with the default floating-point state on Windows:
        // they must compute in the caller's.
        cases.push_back({Plugin::kFilter, 0, path, 3, "--rounding upward"});
        cases.push_back({Plugin::kFilter, 9, path, 3, "--flush-to-zero"});
        cases.push_back({Plugin::kScorer, 3, path, 3, "--rounding upward"});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cores, Win64Paths, ::testing::ValuesIn(path_cases()), path_case_name);

// --- the worker team and the host ----------------------------------------------------

// No member is alive while the filter calls the host: at every "waitbar"
// and "close" call the process has the threads it had before the call.
TEST(Win64Threads, NoWorkerIsAliveAtAHostCall) {
    Inputs inputs;
    make_filter_inputs(kFilterCases[7], inputs);  // threaded, progress bar on
    const Outcome windows = run_windows(Plugin::kFilter, inputs, "--count-threads");
    ASSERT_EQ(windows.status, "ok");
    ASSERT_GT(windows.threads_before, 0);
    EXPECT_EQ(windows.threads_most, windows.threads_before);
}

// --- progress, cancellation, errors ------------------------------------------------

struct ProgressCase {
    const char* name;
    double iterations;
    double flag;
};

class Win64Progress : public ::testing::TestWithParam<ProgressCase> {};

// The same "waitbar" and "close" calls as the Linux build for every flag,
// those beyond the signed 32-bit range included (off in both).
TEST_P(Win64Progress, CallsTheHostAsLinuxDoes) {
    const ProgressCase& p = GetParam();
    const FilterCase c{"progress", 6, 5, 0.0f, 2.0f, p.iterations, 0.2, 1, 6, 1, 5, p.flag};
    Inputs inputs;
    make_filter_inputs(c, inputs);
    const Outcome linux_outcome = run_linux(Plugin::kFilter, inputs);
    const Outcome windows = run_windows(Plugin::kFilter, inputs);
    expect_same_behaviour(linux_outcome, windows);
    EXPECT_TRUE(planes_match(linux_outcome.singles, windows.singles, c.rows) ||
                difference(linux_outcome.singles, windows.singles).max_ulps <= 4);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, Win64Progress,
    ::testing::Values(ProgressCase{"three_iterations", 3, 1}, ProgressCase{"one_iteration", 1, 1},
                      ProgressCase{"no_iteration", 0, 1}, ProgressCase{"negative_iterations", -2, 1},
                      ProgressCase{"fractions_truncated", 2.9, -1.7},
                      ProgressCase{"low_byte_zero", 4, 256}, ProgressCase{"half", 4, 0.5},
                      ProgressCase{"largest_signed", 2, 2147483647.0},
                      ProgressCase{"smallest_signed", 2, -2147483648.0},
                      ProgressCase{"two_to_31", 2, 2147483648.0},
                      ProgressCase{"two_to_31_plus_one", 2, 2147483649.0},
                      ProgressCase{"two_to_32_minus_one", 2, 4294967295.0},
                      ProgressCase{"huge", 2, 1e300}, ProgressCase{"infinite", 2, kInf},
                      ProgressCase{"nan", 2, kNaN}, ProgressCase{"off", 2, 0}),
    [](const ::testing::TestParamInfo<ProgressCase>& info) { return info.param.name; });

// A failing "waitbar" cancels the filter (a failing "close" is ignored), as
// on Linux: same calls, same error, nothing left behind. The image is large
// enough for the worker team.
class Win64FailingHost : public ::testing::TestWithParam<int> {};

TEST_P(Win64FailingHost, CancelsAsLinuxDoes) {
    FilterCase c = kFilterCases[7];
    c.iterations = 3;
    c.flag = 1;
    Inputs inputs;
    make_filter_inputs(c, inputs);
    const Outcome linux_outcome = run_linux(Plugin::kFilter, inputs, GetParam());
    EXPECT_EQ(linux_outcome.status, GetParam() == 5 ? "ok" : "error TARV_c:cancelled");
    expect_same_behaviour(linux_outcome,
                          run_windows(Plugin::kFilter, inputs, "--fail-at " + std::to_string(GetParam())));
}

// Calls 1 to 5 are: open, three advances, close.
INSTANTIATE_TEST_SUITE_P(FailingCall, Win64FailingHost, ::testing::Values(1, 2, 4, 5),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "call_" + std::to_string(info.param);
                         });

// A host that fails as real hosts do (the stand-in host's failure modes):
// an array creation or mxMalloc that raises or returns null, an interrupt
// at an interpreter call. At every k, from the first event until the call
// meets no failure, the Windows plug-in fails as the Linux one does (error,
// arrays and blocks left to the host, warnings), leaves no thread and no
// heap behind, holds no worker at a host call, and the next call gives the
// normal result.
struct FailureCase {
    const char* name;
    Plugin plugin;
    bool team;         // an image or volume large enough for the worker team
    const char* mode;  // the runner's option
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class Win64FailingHostModes : public ::testing::TestWithParam<FailureCase> {};

void make_failure_inputs(const FailureCase& c, Inputs& inputs) {
    if (c.plugin == Plugin::kFilter) {
        FilterCase image = c.team ? kFilterCases[7] : kFilterCases[0];
        image.iterations = 3;
        image.flag = 1;
        make_filter_inputs(image, inputs);
    } else {
        make_score_inputs(c.team ? kScoreCases[3] : kScoreCases[1], inputs);
    }
}

TEST_P(Win64FailingHostModes, FailAsLinuxAndLeaveNothingBehind) {
    const FailureCase& c = GetParam();
    Inputs inputs;
    make_failure_inputs(c, inputs);
    const Outcome normal = run_windows(c.plugin, inputs);
    ASSERT_EQ(normal.status, "ok");
    int k = 1;
    for (;; ++k) {
        SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(k));
        const Outcome linux_outcome = run_linux_failing(c.plugin, inputs, c.mode, k);
        const Outcome windows =
            run_windows(c.plugin, inputs, std::string("--count-threads ") + c.mode + " " + std::to_string(k));
        EXPECT_EQ(windows.status, linux_outcome.status);
        EXPECT_EQ(windows.message, linux_outcome.message);
        EXPECT_EQ(windows.leftover, linux_outcome.leftover);
        EXPECT_EQ(windows.blocks, linux_outcome.blocks);
        EXPECT_EQ(windows.warnings, linux_outcome.warnings);
        EXPECT_TRUE(windows.unchanged);
        EXPECT_EQ(windows.heap, 0);
        EXPECT_EQ(windows.threads_after, windows.threads_before) << "a worker thread was left behind";
        EXPECT_LE(windows.threads_most, windows.threads_before) << "a worker was alive at a host call";
        EXPECT_EQ(windows.next, "ok");
        if (c.plugin == Plugin::kFilter) {
            EXPECT_TRUE(planes_match(normal.singles, windows.singles, 1));
        } else {
            EXPECT_TRUE(planes_match(normal.doubles, windows.doubles, 1));
        }
        if (linux_outcome.status == "ok" || k > 100) break;
    }
    std::cout << c.name << ": " << k - 1 << " failing events compared\n";
    EXPECT_GT(k, 1) << "the call met no failure at all";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Win64FailingHostModes,
    ::testing::Values(
        FailureCase{"TARV_c_one_thread_interrupt", Plugin::kFilter, false, "--interrupt-at"},
        FailureCase{"TARV_c_team_interrupt", Plugin::kFilter, true, "--interrupt-at"},
        FailureCase{"TARV_c_one_thread_raising_allocation", Plugin::kFilter, false, "--failing-allocation"},
        FailureCase{"TARV_c_team_raising_allocation", Plugin::kFilter, true, "--failing-allocation"},
        FailureCase{"TARV_c_one_thread_null_allocation", Plugin::kFilter, false, "--null-allocation"},
        FailureCase{"TARV_c_team_null_allocation", Plugin::kFilter, true, "--null-allocation"},
        FailureCase{"bandscore_one_thread_raising_allocation", Plugin::kScorer, false, "--failing-allocation"},
        FailureCase{"bandscore_team_raising_allocation", Plugin::kScorer, true, "--failing-allocation"},
        FailureCase{"bandscore_one_thread_null_allocation", Plugin::kScorer, false, "--null-allocation"},
        FailureCase{"bandscore_team_null_allocation", Plugin::kScorer, true, "--null-allocation"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// Bad arguments: the same error identifiers and messages as the Linux
// build (the host formats the Windows plug-ins' messages, %zu and %lld
// included), nothing left behind, inputs untouched.
struct ErrorCase {
    const char* name;
    Plugin plugin;
    int slot;  // the argument replaced, or -1 to drop the last one
    mxClassID class_id;
    std::vector<size_t> dims;
    double value;
    bool shape_only = false;  // dimensions without data
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class Win64Errors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Win64Errors, MatchLinux) {
    const ErrorCase& p = GetParam();
    Inputs inputs;
    if (p.plugin == Plugin::kFilter)
        make_filter_inputs({"errors", 8, 6, 0.0f, 2.0f, 2, 0.2, 2, 5, 2, 4, 1}, inputs);
    else
        make_score_inputs({"errors", 30, 6, 5, 5, 2.0, 10.0, 0.5, 0.0, 40.0}, inputs);
    if (p.slot < 0) {
        inputs.drop_last();
    } else if (p.shape_only) {
        add_shape_only(inputs, static_cast<size_t>(p.slot), p.class_id, p.dims);
    } else {
        mxArray* replacement = testhost::make_array(p.class_id, p.dims);
        if (p.class_id == mxDOUBLE_CLASS && mxGetNumberOfElements(replacement) != 0)
            *mxGetPr(replacement) = p.value;
        inputs.replace(static_cast<size_t>(p.slot), replacement);
    }
    const Outcome linux_outcome = run_linux(p.plugin, inputs);
    ASSERT_NE(linux_outcome.status, "ok");
    expect_same_behaviour(linux_outcome, run_windows(p.plugin, inputs));
}

INSTANTIATE_TEST_SUITE_P(
    BadArguments, Win64Errors,
    ::testing::Values(
        ErrorCase{"TARV_c_seven_inputs", Plugin::kFilter, -1, mxDOUBLE_CLASS, {}, 0},
        ErrorCase{"TARV_c_double_image", Plugin::kFilter, 0, mxDOUBLE_CLASS, {8, 6}, 1},
        ErrorCase{"TARV_c_int8_image", Plugin::kFilter, 0, mxINT8_CLASS, {8, 6}, 0},
        ErrorCase{"TARV_c_huge_image", Plugin::kFilter, 0, mxSINGLE_CLASS, {65536, 32768}, 0, true},
        ErrorCase{"TARV_c_nan_iterations", Plugin::kFilter, 1, mxDOUBLE_CLASS, {1, 1}, kNaN},
        ErrorCase{"TARV_c_huge_iterations", Plugin::kFilter, 1, mxDOUBLE_CLASS, {1, 1}, 2147483648.0},
        ErrorCase{"TARV_c_char_lambda", Plugin::kFilter, 2, mxCHAR_CLASS, {1, 3}, 0},
        ErrorCase{"TARV_c_empty_first_row", Plugin::kFilter, 3, mxDOUBLE_CLASS, {0, 0}, 0},
        ErrorCase{"TARV_c_zero_last_row", Plugin::kFilter, 4, mxDOUBLE_CLASS, {1, 1}, 0},
        ErrorCase{"TARV_c_tiny_last_row", Plugin::kFilter, 4, mxDOUBLE_CLASS, {1, 1}, 2.5e-7},
        ErrorCase{"TARV_c_first_column_too_far", Plugin::kFilter, 5, mxDOUBLE_CLASS, {1, 1}, 7},
        ErrorCase{"TARV_c_fraction_too_far", Plugin::kFilter, 5, mxDOUBLE_CLASS, {1, 1}, 12.345678901234567},
        ErrorCase{"TARV_c_huge_last_column", Plugin::kFilter, 6, mxDOUBLE_CLASS, {1, 1}, 1e300},
        // Numbers whose fifteen digits an x87 unit at 53-bit precision, as
        // Windows hosts run it, would round differently.
        ErrorCase{"TARV_c_last_column_29_1864660527222", Plugin::kFilter, 6, mxDOUBLE_CLASS, {1, 1}, 29.186466052722249},
        ErrorCase{"TARV_c_last_row_26_993950415948", Plugin::kFilter, 4, mxDOUBLE_CLASS, {1, 1}, 26.993950415948049},
        ErrorCase{"TARV_c_iterations_minus_8_9e65", Plugin::kFilter, 1, mxDOUBLE_CLASS, {1, 1}, -8.896576807156027e+65},
        ErrorCase{"TARV_c_nan_last_column", Plugin::kFilter, 6, mxDOUBLE_CLASS, {1, 1}, kNaN},
        ErrorCase{"TARV_c_cell_flag", Plugin::kFilter, 7, mxCELL_CLASS, {1, 1}, 0},
        ErrorCase{"bandscore_nine_inputs", Plugin::kScorer, -1, mxDOUBLE_CLASS, {}, 0},
        ErrorCase{"bandscore_single_image", Plugin::kScorer, 2, mxSINGLE_CLASS, {30, 6}, 0},
        ErrorCase{"bandscore_empty_offset", Plugin::kScorer, 0, mxDOUBLE_CLASS, {0, 1}, 0},
        ErrorCase{"bandscore_negative_count", Plugin::kScorer, 5, mxDOUBLE_CLASS, {1, 1}, -1},
        ErrorCase{"bandscore_nan_count", Plugin::kScorer, 6, mxDOUBLE_CLASS, {1, 1}, kNaN},
        ErrorCase{"bandscore_huge_image", Plugin::kScorer, 2, mxDOUBLE_CLASS, {65536, 32768}, 0, true},
        ErrorCase{"bandscore_short_span_mean", Plugin::kScorer, 3, mxDOUBLE_CLASS, {1, 5}, 10},
        ErrorCase{"bandscore_rows_outside", Plugin::kScorer, 1, mxDOUBLE_CLASS, {1, 1}, 28},
        ErrorCase{"bandscore_huge_offset", Plugin::kScorer, 0, mxDOUBLE_CLASS, {1, 1}, 3e9}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

}  // namespace
