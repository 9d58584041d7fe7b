// The 64-bit Windows plug-ins' arithmetic, TARV_c.mexw64 and
// bandscore.mexw64, and their threads: calls made under wine by the Windows
// test host (win_runner.exe) on the same inputs as the Linux plug-ins, which
// this process calls through the test host. What they ask of the host is
// checked in host_calls_test.cpp, as for the 32-bit build; their binary
// interface in interface_test.cpp, which needs no wine.
//
// Both builds compute with the same SSE2 arithmetic and the same fast
// paths, so every kernel step gives the same bits; only the C runtime's
// functions (msvcrt's there, glibc's here) may differ, and of those the fast
// paths call only exp, in the scorer. The comparisons say so exactly: the
// filter's results must have the Linux bits; where msvcrt's exp gives
// glibc's values on a call's arguments, so must the scorer's; elsewhere the
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

#include "case_support.h"
#include "bits.h"
#include "core_calls.h"
#include "test_host.h"
#include "windows_calls.h"

namespace {

using namespace windows;

// --- the filter ------------------------------------------------------------------

// The Linux plain loops' working values just before the final logarithm:
// the progress step after the last iteration sees them.
std::vector<float> linux_values_before_logarithm(const Inputs& inputs) {
    FilterCore core(inputs.arrays);
    if (core.params.iterations <= 0) {
        exponentiate_pixels(core.source, core.work.data(), 0, static_cast<uint32_t>(core.work.size()));
        return core.work;
    }
    struct Capture {
        const FilterCore* core;
        std::vector<float> before;
    } capture{&core, {}};
    const auto step = [](void* context, int64_t iteration, int64_t) {
        auto* cap = static_cast<Capture*>(context);
        if (iteration == cap->core->params.iterations - 1) cap->before = cap->core->work;
        return true;
    };
    core.run({CpuPath::kPlain, 1}, {nullptr, step, &capture});
    return capture.before;
}

std::vector<FilterCase> filter_cases() {
    std::vector<FilterCase> cases = kComparedImages;
    cases.push_back(kThreadedFilter);
    cases.push_back({"special_values", 37, 29, -1.0f, 3.0f, 1, 0.2, 3, 20, 2, 17, 0, 4, true});
    // Working values from subnormal up to about 2^-115, and no iteration
    // (in which NaN would spread from them): flushing the subnormal ones to
    // zero changes the results.
    cases.push_back({"tiny_values", 40, 33, -100.0f, -80.0f, 0, 0.2, 5, 20, 3, 15, 0});
    return cases;
}

const std::vector<FilterCase> kFilterCases = filter_cases();

class Win64Filter : public ::testing::TestWithParam<FilterCase> {};

// The fast paths take neither the runtime's exp nor its logf but their own
// (exponential.h, logarithm.h), so the Windows result has the Linux bits.
// How often the runtimes' functions, which the plain loops call, differ on
// the call's values is reported.
TEST_P(Win64Filter, HasTheLinuxBits) {
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
    before.add(testhost::make_single(c.rows, c.cols, linux_values_before_logarithm(inputs)));
    const Outcome windows_log = run_windows(Plugin::kFilter, before, "--step logarithm");
    const Difference log_difference = difference(linux_outcome.singles, windows_log.singles);

    const Difference d = difference(linux_outcome.singles, windows.singles);
    std::cout << "TARV_c " << c.name << ": max " << d.max_ulps << " ulps from Linux, "
              << d.differing << " of " << windows.singles.size() << " pixels differ ("
              << 100.0 * static_cast<double>(d.differing) / static_cast<double>(windows.singles.size())
              << " %); the runtimes' exp differs on " << exp_difference.differing
              << " source pixels, their logf on " << log_difference.differing << " results\n";
    EXPECT_TRUE(planes_match(linux_outcome.singles, windows.singles, c.rows))
        << "a kernel step differs from Linux";
}

INSTANTIATE_TEST_SUITE_P(Images, Win64Filter, ::testing::ValuesIn(kFilterCases), param_name);

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

const ScoreCase kScoreCases[] = {
    {"bands", 120, 37, 25, 30, 10.0, 40.0, 0.5, 5.0, 60.0},
    {"fractional_offsets", 90, 12, 17, 19, 4.7, 30.2, 2.0, 0.0, 70.0},
    {"all_spans", 70, 9, 20, 20, 0.0, 10.0, 1.0, -kInf, kInf},
    kThreadedScorer,
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

INSTANTIATE_TEST_SUITE_P(Volumes, Win64Scorer, ::testing::ValuesIn(kScoreCases), param_name);

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
    make_filter_inputs(kThreadedFilter, inputs);  // progress bar on
    const Outcome windows = run_windows(Plugin::kFilter, inputs, "--count-threads");
    ASSERT_EQ(windows.status, "ok");
    ASSERT_GT(windows.threads_before, 0);
    EXPECT_EQ(windows.threads_most, windows.threads_before);
}

// --- a host that fails ----------------------------------------------------------------

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
        FilterCase image = c.team ? kThreadedFilter : kFilterCases[0];
        image.iterations = 3;
        image.flag = 1;
        make_filter_inputs(image, inputs);
    } else {
        make_score_inputs(c.team ? kThreadedScorer : kScoreCases[1], inputs);
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
        // The runner's thread count stands in for the bar's calls, and the
        // result is the next call's.
        expect_same_ending(linux_outcome, windows);
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
    param_name);

}  // namespace
