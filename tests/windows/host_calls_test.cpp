// What a Windows build's plug-ins ask of the host and what they leave it,
// the same for both widths and the same as the Linux build: the progress
// bar's calls for every flag, the cancellation by a failing "waitbar", and
// the errors for bad arguments, each call made under wine by the Windows
// test host (win_runner.exe) and through the test host in this process on
// the same inputs. Part of the plug-in test of each width.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case_support.h"
#include "windows_calls.h"

namespace {

using namespace windows;

// --- the progress bar ----------------------------------------------------------------

// The progress flag and iteration count. A build that reads a flag of 2^31
// or more as an unsigned 32-bit integer shows the bar for the flags marked
// so, where the Linux build's conversion saturates to -2^31 (off); for
// every other flag both show the same bar.
struct ProgressCase {
    const char* name;
    double iterations;
    double flag;
    bool bar_when_unsigned = false;
};

void PrintTo(const ProgressCase& c, std::ostream* os) { *os << c.name; }

using WindowsProgress = WineTestWithParam<ProgressCase>;

TEST_P(WindowsProgress, CallsTheHostAsLinuxDoes) {
    const ProgressCase& p = GetParam();
    const FilterCase c{"progress", 6, 5, 0.0f, 2.0f, p.iterations, 0.2, 1, 6, 1, 5, p.flag};
    Inputs inputs;
    make_filter_inputs(c, inputs);
    const Outcome linux_outcome = run_linux(Plugin::kFilter, inputs);
    Outcome windows = run_windows(Plugin::kFilter, inputs);
    if (kBuild.flag_read_as_unsigned && p.bar_when_unsigned) {
        EXPECT_TRUE(linux_outcome.calls.empty());
        EXPECT_EQ(windows.calls.size(), 4u) << "open, two advances, close";
        windows.calls = linux_outcome.calls;
    }
    expect_same_behaviour(linux_outcome, windows);
    EXPECT_TRUE(planes_match(linux_outcome.singles, windows.singles, c.rows) ||
                difference(linux_outcome.singles, windows.singles).max_ulps <= 4);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, WindowsProgress,
    ::testing::Values(ProgressCase{"three_iterations", 3, 1}, ProgressCase{"one_iteration", 1, 1},
                      ProgressCase{"no_iteration", 0, 1}, ProgressCase{"negative_iterations", -2, 1},
                      ProgressCase{"fractions_truncated", 2.9, -1.7},
                      ProgressCase{"low_byte_zero", 4, 256}, ProgressCase{"half", 4, 0.5},
                      ProgressCase{"largest_signed", 2, 2147483647.0},
                      ProgressCase{"smallest_signed", 2, -2147483648.0},
                      ProgressCase{"nan", 2, kNaN}, ProgressCase{"off", 2, 0},
                      ProgressCase{"two_to_31", 2, 2147483648.0},
                      ProgressCase{"two_to_31_plus_one", 2, 2147483649.0, true},
                      ProgressCase{"two_to_31_plus_256_and_a_half", 2, 2147483904.5},
                      ProgressCase{"two_to_32_minus_one", 2, 4294967295.0, true},
                      ProgressCase{"two_to_32", 2, 4294967296.0},
                      ProgressCase{"two_to_32_plus_one", 2, 4294967297.0},
                      ProgressCase{"below_minus_two_to_31", 2, -2147483649.0},
                      ProgressCase{"huge", 2, 1e300}, ProgressCase{"infinite", 2, kInf}),
    param_name);

// A failing "waitbar" cancels the filter (a failing "close" is ignored), as
// on Linux: same calls, same error, nothing left behind; on a small image,
// and where the build has a worker team, on one large enough for it.
struct FailingCall {
    FilterCase image;
    int call;  // calls 1 to 5 are: open, three advances, close
};

void PrintTo(const FailingCall& c, std::ostream* os) { *os << c.image.name << " call " << c.call; }

using WindowsFailingHost = WineTestWithParam<FailingCall>;

TEST_P(WindowsFailingHost, CancelsAsLinuxDoes) {
    FilterCase c = GetParam().image;
    c.iterations = 3;
    c.flag = 1;
    const int call = GetParam().call;
    Inputs inputs;
    make_filter_inputs(c, inputs);
    const Outcome linux_outcome = run_linux(Plugin::kFilter, inputs, call);
    EXPECT_EQ(linux_outcome.status, call == 5 ? "ok" : "error TARV_c:cancelled");
    expect_same_behaviour(linux_outcome,
                          run_windows(Plugin::kFilter, inputs, "--fail-at " + std::to_string(call)));
}

std::vector<FailingCall> failing_calls() {
    std::vector<FilterCase> images = {{"small", 5, 4, 0.0f, 2.0f, 3, 0.2, 1, 5, 1, 4, 1}};
    if (kBuild.fast_paths) images.push_back(kThreadedFilter);
    std::vector<FailingCall> cases;
    for (const FilterCase& image : images)
        for (int call : {1, 2, 4, 5}) cases.push_back({image, call});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(FailingCall, WindowsFailingHost, ::testing::ValuesIn(failing_calls()),
                         [](const ::testing::TestParamInfo<FailingCall>& info) {
                             return std::string(info.param.image.name) + "_call_" +
                                    std::to_string(info.param.call);
                         });

// --- bad arguments -------------------------------------------------------------------

// The same error identifiers and messages as the Linux build (the host
// formats the Windows plug-ins' messages, %zu and %lld included), nothing
// left behind, inputs untouched.
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

using WindowsErrors = WineTestWithParam<ErrorCase>;

TEST_P(WindowsErrors, MatchLinux) {
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

const ErrorCase kErrorCases[] = {
    {"TARV_c_seven_inputs", Plugin::kFilter, -1, mxDOUBLE_CLASS, {}, 0},
    {"TARV_c_double_image", Plugin::kFilter, 0, mxDOUBLE_CLASS, {8, 6}, 1},
    {"TARV_c_int8_image", Plugin::kFilter, 0, mxINT8_CLASS, {8, 6}, 0},
    {"TARV_c_huge_image", Plugin::kFilter, 0, mxSINGLE_CLASS, {65536, 32768}, 0, true},
    {"TARV_c_nan_iterations", Plugin::kFilter, 1, mxDOUBLE_CLASS, {1, 1}, kNaN},
    {"TARV_c_huge_iterations", Plugin::kFilter, 1, mxDOUBLE_CLASS, {1, 1}, 2147483648.0},
    {"TARV_c_char_lambda", Plugin::kFilter, 2, mxCHAR_CLASS, {1, 3}, 0},
    {"TARV_c_empty_first_row", Plugin::kFilter, 3, mxDOUBLE_CLASS, {0, 0}, 0},
    {"TARV_c_zero_last_row", Plugin::kFilter, 4, mxDOUBLE_CLASS, {1, 1}, 0},
    {"TARV_c_tiny_last_row", Plugin::kFilter, 4, mxDOUBLE_CLASS, {1, 1}, 2.5e-7},
    {"TARV_c_first_column_too_far", Plugin::kFilter, 5, mxDOUBLE_CLASS, {1, 1}, 7},
    {"TARV_c_fraction_too_far", Plugin::kFilter, 5, mxDOUBLE_CLASS, {1, 1}, 12.345678901234567},
    {"TARV_c_huge_last_column", Plugin::kFilter, 6, mxDOUBLE_CLASS, {1, 1}, 1e300},
    // Numbers whose fifteen digits an x87 unit at 53-bit precision, as
    // Windows hosts run it, would round differently.
    {"TARV_c_last_column_29_1864660527222", Plugin::kFilter, 6, mxDOUBLE_CLASS, {1, 1}, 29.186466052722249},
    {"TARV_c_last_row_26_993950415948", Plugin::kFilter, 4, mxDOUBLE_CLASS, {1, 1}, 26.993950415948049},
    {"TARV_c_iterations_minus_8_9e65", Plugin::kFilter, 1, mxDOUBLE_CLASS, {1, 1}, -8.896576807156027e+65},
    {"TARV_c_nan_last_column", Plugin::kFilter, 6, mxDOUBLE_CLASS, {1, 1}, kNaN},
    {"TARV_c_cell_flag", Plugin::kFilter, 7, mxCELL_CLASS, {1, 1}, 0},
    {"bandscore_nine_inputs", Plugin::kScorer, -1, mxDOUBLE_CLASS, {}, 0},
    {"bandscore_single_image", Plugin::kScorer, 2, mxSINGLE_CLASS, {30, 6}, 0},
    {"bandscore_empty_offset", Plugin::kScorer, 0, mxDOUBLE_CLASS, {0, 1}, 0},
    {"bandscore_negative_count", Plugin::kScorer, 5, mxDOUBLE_CLASS, {1, 1}, -1},
    {"bandscore_nan_count", Plugin::kScorer, 6, mxDOUBLE_CLASS, {1, 1}, kNaN},
    {"bandscore_huge_image", Plugin::kScorer, 2, mxDOUBLE_CLASS, {65536, 32768}, 0, true},
    {"bandscore_short_span_mean", Plugin::kScorer, 3, mxDOUBLE_CLASS, {1, 5}, 10},
    {"bandscore_rows_outside", Plugin::kScorer, 1, mxDOUBLE_CLASS, {1, 1}, 28},
    {"bandscore_huge_offset", Plugin::kScorer, 0, mxDOUBLE_CLASS, {1, 1}, 3e9},
};

std::vector<ErrorCase> error_cases() {
    std::vector<ErrorCase> cases;
    for (const ErrorCase& c : kErrorCases)
        if (builds(c.plugin)) cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(BadArguments, WindowsErrors, ::testing::ValuesIn(error_cases()),
                         param_name);

}  // namespace
