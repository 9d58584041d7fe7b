// The 32-bit Windows filter's arithmetic: TARV_c.dll called under wine by
// the Windows test host (win_runner.exe) on the same inputs as the Linux
// plug-in, which this process calls through the test host. What it asks of
// the host is checked in host_calls_test.cpp, as for the 64-bit build; its
// binary interface in interface_test.cpp, which needs no wine.
//
// The 32-bit build computes in the x87 registers at the precision the host
// process has set, rounding to single precision where a named quantity is
// stored. Its results are checked bit for bit against the reference loop
// (x87_reference.h, run under wine with the same precision control and the
// same CRTDLL.DLL exp and log), and against the Linux build within a few
// units in the last place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "windows_calls.h"

namespace {

using namespace windows;

std::string x87(int precision) { return "--x87 " + std::to_string(precision); }

// The control word the test host set: precision field 0, 2 or 3 and every
// other bit as after fninit.
std::string control_word(int precision) {
    const int field = precision == 24 ? 0 : precision == 53 ? 2 : 3;
    const std::string word = hex_bits(static_cast<uint64_t>(0x07f | field << 8), 4);
    return word + " " + word;
}

// The same distance for filter results, which are logarithms: a result
// within (-1, 1) comes from a working value near 1, whose 24-bit precision
// it carries as an absolute 2^-23 or so, far coarser than its own ulp. There
// the unit is 2^-23, the ulp of 1.
int64_t result_ulps_apart(float a, float b) {
    if (std::fabs(a) < 1.0f && std::fabs(b) < 1.0f)
        return static_cast<int64_t>(std::ceil(std::fabs(static_cast<double>(a) - b) / 0x1p-23));
    return wine::ulps_apart(a, b);
}

// --- results ------------------------------------------------------------------

struct ResultCase {
    FilterCase image;
    int precision;
};

void PrintTo(const ResultCase& c, std::ostream* os) { *os << c.image.name << " at " << c.precision << " bits"; }

using Win32Result = WineTestWithParam<ResultCase>;

// The plug-in's bits are the reference loop's, under the same precision
// control; the Linux build differs from them by rounding only.
TEST_P(Win32Result, IsTheRegisterPrecisionFilterAndCloseToLinux) {
    const ResultCase& param = GetParam();
    const FilterCase& filter = param.image;
    Inputs inputs;
    make_filter_inputs(filter, inputs);
    const Outcome windows = run_windows(Plugin::kFilter, inputs, x87(param.precision));
    const Outcome reference = run_windows(Plugin::kFilter, inputs, x87(param.precision) + " --reference");
    const Outcome linux_outcome = run_linux(Plugin::kFilter, inputs);

    EXPECT_EQ(windows.status, "ok");
    EXPECT_EQ(windows.leftover, 0u);
    EXPECT_TRUE(windows.unchanged);
    EXPECT_EQ(windows.heap, 0);
    // With 24 significant bits the bar's fraction i/(n-1) is itself
    // computed in single precision, so only wider settings show Linux's.
    if (param.precision > 24) {
        EXPECT_EQ(windows.calls, linux_outcome.calls);
    }
    EXPECT_EQ(windows.x87, control_word(param.precision)) << "the plug-in changed the control word";
    EXPECT_TRUE(planes_match(reference.singles, windows.singles, filter.rows));

    ASSERT_EQ(windows.singles.size(), linux_outcome.singles.size());
    int64_t max_ulps = 0, max_raw_ulps = 0;
    size_t differing = 0;
    for (size_t k = 0; k < windows.singles.size(); ++k) {
        max_ulps = std::max(max_ulps, result_ulps_apart(linux_outcome.singles[k], windows.singles[k]));
        const int64_t raw = wine::ulps_apart(linux_outcome.singles[k], windows.singles[k]);
        max_raw_ulps = std::max(max_raw_ulps, raw);
        differing += raw != 0;
    }
    std::cout << "x87 precision " << param.precision << ", " << filter.name << ": max "
              << max_ulps << " ulps from Linux (" << max_raw_ulps << " counting the finer ulps"
              << " of results within 1 of 0), " << differing << " of "
              << windows.singles.size() << " pixels differ\n";
    EXPECT_LE(max_ulps, filter.max_x87_ulps);
}

std::vector<ResultCase> result_cases() {
    std::vector<ResultCase> cases;
    for (int precision : kBuild.x87_precisions)
        for (const FilterCase& image : kComparedImages) cases.push_back({image, precision});
    return cases;
}

std::string result_case_name(const ::testing::TestParamInfo<ResultCase>& info) {
    return std::string(info.param.image.name) + "_x87_" + std::to_string(info.param.precision);
}

INSTANTIATE_TEST_SUITE_P(ComparisonSet, Win32Result, ::testing::ValuesIn(result_cases()),
                         result_case_name);

using Win32OnePixelRegion = WineTestWithParam<int>;

// A one-pixel reference region: its square is inexact in single precision,
// so var is 0 in single precision but not in register precision. The Linux
// build then gets q0 = 0 and NaN at the flat patch; the Windows build with
// 53 or 64 significant bits keeps every coefficient, and result, finite.
TEST_P(Win32OnePixelRegion, KeepsFiniteResultsWhereLinuxGetsNaN) {
    const FilterCase c{"one_pixel", 12, 10, 0.3f, 2.0f, 3, 0.2, 9, 9, 7, 7, 0, 4, false, 4, 4};
    Inputs inputs;
    make_filter_inputs(c, inputs);
    const float* source = static_cast<const float*>(mxGetData(inputs.arrays[0]));
    const float w = static_cast<float>(std::exp(static_cast<double>(source[8 + 12 * 6])));
    ASSERT_NE(static_cast<double>(w) * w, static_cast<double>(w * w)) << "pick another image";

    const Outcome linux_outcome = run_linux(Plugin::kFilter, inputs);
    ASSERT_EQ(linux_outcome.status, "ok");
    EXPECT_TRUE(std::any_of(linux_outcome.singles.begin(), linux_outcome.singles.end(),
                            [](float v) { return std::isnan(v); }));

    const Outcome windows = run_windows(Plugin::kFilter, inputs, x87(GetParam()));
    ASSERT_EQ(windows.status, "ok");
    EXPECT_TRUE(std::all_of(windows.singles.begin(), windows.singles.end(),
                            [](float v) { return std::isfinite(v); }));
    EXPECT_TRUE(planes_match(run_windows(Plugin::kFilter, inputs, x87(GetParam()) + " --reference").singles,
                             windows.singles, c.rows));
}

INSTANTIATE_TEST_SUITE_P(WiderThanSingle, Win32OnePixelRegion, ::testing::Values(53, 64),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "x87_" + std::to_string(info.param);
                         });

}  // namespace
