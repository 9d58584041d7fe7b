// TARV_c.mexa64 loaded and called through the test host, as a host does.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "case_support.h"
#include "bits.h"
#include "diffusion_oracle.h"
#include "core_support.h"
#include "filter_diagnosis.h"
#include "kernel.h"
#include "plugin_support.h"

namespace {

using testhost::make_array;
using testhost::make_scalar;
using testhost::make_single;


const testhost::Plugin& filter_plugin() { return plugin_at(TARV_C_PLUGIN); }

// Scalar arguments 2 to 8, in the plug-in's order.
struct Scalars {
    double iterations = 2, lambda = 0.25, first_row = 1, last_row = 1, first_col = 1, last_col = 1,
           progress = 0;
};

std::vector<float> random_image(size_t rows, size_t cols, unsigned seed) {
    return uniform_values(rows * cols, -1.0f, 5.0f, seed);
}

Inputs filter_inputs(mxArray* image, const Scalars& s) {
    return Inputs({image, make_scalar(s.iterations), make_scalar(s.lambda), make_scalar(s.first_row),
                   make_scalar(s.last_row), make_scalar(s.first_col), make_scalar(s.last_col),
                   make_scalar(s.progress)});
}

// Calls the filter; every call must leave its inputs as they were.
Outcome run_filter(const Inputs& inputs, int nlhs = 1) {
    Outcome outcome(testhost::call(filter_plugin(), nlhs, inputs.arrays));
    EXPECT_TRUE(outcome.call.inputs_unchanged) << "the filter wrote an input";
    return outcome;
}

// The core called directly on the same data, with 0-based bounds.
std::vector<float> kernel_result(const std::vector<float>& source, uint32_t rows, uint32_t cols,
                                 OracleRegion region, int32_t iterations, float lambda) {
    const FilterSettings settings{
        region_of(static_cast<uint32_t>(region.first_row), static_cast<uint32_t>(region.last_row),
                  static_cast<uint32_t>(region.first_col), static_cast<uint32_t>(region.last_col)),
        iterations, lambda};
    return filter_result(source, rows, cols, settings, kAutomaticPath);
}

// --- results ---------------------------------------------------------------------

struct RandomCase {
    uint32_t rows, cols;
    Scalars scalars;
    unsigned seed;
};

class FilterResultTest : public ::testing::TestWithParam<RandomCase> {};

TEST_P(FilterResultTest, MatchesTheKernelCalledDirectly) {
    const RandomCase c = GetParam();
    RecordedProgress progress;
    const std::vector<float> source = random_image(c.rows, c.cols, c.seed);
    Inputs inputs = filter_inputs(make_single(c.rows, c.cols, source), c.scalars);
    Outcome outcome = run_filter(inputs);
    ASSERT_TRUE(outcome.call.ok) << outcome.call.error_id << ": " << outcome.call.error_message;
    EXPECT_EQ(mxGetClassID(outcome.call.result), mxSINGLE_CLASS);
    EXPECT_EQ(testhost::dimensions(outcome.call.result), (std::vector<size_t>{c.rows, c.cols}));
    EXPECT_EQ(outcome.call.leftover_arrays, 0u);
    const Scalars& s = c.scalars;
    const OracleRegion region{static_cast<int>(s.first_row) - 1, static_cast<int>(s.last_row) - 1,
                              static_cast<int>(s.first_col) - 1, static_cast<int>(s.last_col) - 1};
    const auto iterations = static_cast<int32_t>(s.iterations);
    const auto lambda = static_cast<float>(s.lambda);
    EXPECT_TRUE(planes_match(kernel_result(source, c.rows, c.cols, region, iterations, lambda),
                             testhost::single_values(outcome.call.result), c.rows));
}

INSTANTIATE_TEST_SUITE_P(
    RandomImages, FilterResultTest,
    ::testing::Values(RandomCase{12, 24, {3, 0.25, 1, 10, 1, 20, 0}, 1},   // 200 region pixels
                      RandomCase{7, 5, {2.9, 0.2, 2, 6, 1, 5, 0}, 2},      // 2.9 runs 2 iterations
                      RandomCase{13, 9, {4, 0.1, 3, 13.9, 2.5, 9, 0}, 3},  // bounds truncated
                      RandomCase{1, 17, {5, 0.3, 1, 1, 4, 12, 0}, 4},
                      RandomCase{19, 1, {5, 0.3, 5, 15, 1, 1, 0}, 5},
                      RandomCase{32, 32, {10, 0.25, 8, 24, 8, 24, 1}, 6},  // progress on
                      RandomCase{6, 6, {1, 0.25, 4, 3, 1, 6, 0}, 7}));     // inverted: all NaN

TEST(FilterTest, RegionOfRowsOneToTenAndColumnsOneToTwentyCountsTwoHundredPixels) {
    // The kernel's statistic divides by the caller's count: had it been
    // anything but 200, the oracle (which counts the region itself) differs.
    const std::vector<float> source = random_image(12, 24, 8);
    Inputs inputs = filter_inputs(make_single(12, 24, source), {1, 0.25, 1, 10, 1, 20, 0});
    Outcome outcome = run_filter(inputs);
    ASSERT_TRUE(outcome.call.ok);
    EXPECT_TRUE(planes_match(oracle_diffusion(source, 12, 24, {0, 9, 0, 19}, 1, 0.25f),
                             testhost::single_values(outcome.call.result), 12));
}

TEST(FilterTest, LambdaIsUsedInSinglePrecision) {
    const std::vector<float> source = random_image(8, 8, 9);
    Inputs inputs = filter_inputs(make_single(8, 8, source), {3, 0.1, 1, 8, 1, 8, 0});
    Outcome outcome = run_filter(inputs);
    ASSERT_TRUE(outcome.call.ok);
    EXPECT_TRUE(planes_match(oracle_diffusion(source, 8, 8, {0, 7, 0, 7}, 3, 0.1f),
                             testhost::single_values(outcome.call.result), 8));
}

TEST(FilterTest, InvertedRegionGivesNaNEverywhere) {
    Inputs inputs = filter_inputs(make_single(6, 6, random_image(6, 6, 10)), {1, 0.25, 1, 6, 5, 2, 0});
    Outcome outcome = run_filter(inputs);
    ASSERT_TRUE(outcome.call.ok);
    for (float v : testhost::single_values(outcome.call.result)) EXPECT_TRUE(std::isnan(v));
}

TEST(FilterTest, NoOutputRequestedStillFillsSlotZero) {
    Inputs inputs = filter_inputs(make_single(4, 4, random_image(4, 4, 11)), {1, 0.25, 1, 4, 1, 4, 0});
    Outcome outcome = run_filter(inputs, 0);
    ASSERT_TRUE(outcome.call.ok);
    EXPECT_NE(outcome.call.result, nullptr);
}

TEST(FilterTest, EmptyImageGivesAnEmptyResultOfItsSize) {
    for (auto [rows, cols] : {std::pair<size_t, size_t>{0, 5}, {4, 0}, {0, 0}}) {
        Inputs inputs = filter_inputs(make_single(rows, cols, {}), {3, 0.25, 1, 9, 1, 9, 1});
        RecordedProgress progress;
        Outcome outcome = run_filter(inputs);
        ASSERT_TRUE(outcome.call.ok) << outcome.call.error_message;
        EXPECT_EQ(mxGetClassID(outcome.call.result), mxSINGLE_CLASS);
        EXPECT_EQ(testhost::dimensions(outcome.call.result), (std::vector<size_t>{rows, cols}));
        EXPECT_TRUE(progress.calls().empty());
    }
}

TEST(FilterTest, ScalarsOfOtherClassesAndExtraInputsAreAccepted) {
    const std::vector<float> source = random_image(5, 5, 12);
    const Scalars s{3, 0.25, 1, 5, 1, 5, 0};
    Inputs plain = filter_inputs(make_single(5, 5, source), s);
    Outcome expected = run_filter(plain);
    ASSERT_TRUE(expected.call.ok);

    Inputs mixed = filter_inputs(make_single(5, 5, source), s);
    auto replace = [&](int slot, mxClassID class_id, double value) {
        mxDestroyArray(mixed.arrays[slot]);
        mixed.arrays[slot] = make_array(class_id, {1, 1});
        switch (class_id) {
            case mxINT32_CLASS: *static_cast<int32_t*>(mxGetData(mixed.arrays[slot])) = static_cast<int32_t>(value); break;
            case mxUINT8_CLASS: *static_cast<uint8_t*>(mxGetData(mixed.arrays[slot])) = static_cast<uint8_t>(value); break;
            case mxSINGLE_CLASS: *static_cast<float*>(mxGetData(mixed.arrays[slot])) = static_cast<float>(value); break;
            case mxLOGICAL_CLASS: *static_cast<uint8_t*>(mxGetData(mixed.arrays[slot])) = value != 0; break;
            default: FAIL() << "unexpected class";
        }
    };
    replace(1, mxINT32_CLASS, 3);
    replace(2, mxSINGLE_CLASS, 0.25);
    replace(4, mxUINT8_CLASS, 5);
    replace(7, mxLOGICAL_CLASS, 0);
    mixed.arrays.push_back(make_scalar(99));  // a ninth input is ignored
    Outcome outcome = run_filter(mixed);
    ASSERT_TRUE(outcome.call.ok) << outcome.call.error_message;
    EXPECT_TRUE(planes_match(testhost::single_values(expected.call.result),
                             testhost::single_values(outcome.call.result), 5));
}

// --- warnings ------------------------------------------------------------------------

struct WarningCase {
    const char* name;
    std::function<std::vector<float>(size_t rows, size_t cols)> image;
    Scalars scalars;
    std::vector<const char*> identifiers;  // the warnings, in order
    const char* says;                      // text the last warning holds
};

std::vector<float> with(std::vector<float> image, size_t k, float value) {
    image[k] = value;
    return image;
}

// Rows 0..3 of columns 0..2 set to 0.
std::vector<float> flat_patch(std::vector<float> image, size_t rows) {
    for (size_t j = 0; j < 3; ++j)
        for (size_t i = 0; i < 4; ++i) image[i + rows * j] = 0.0f;
    return image;
}

const WarningCase kWarningCases[] = {
    {"log_intensities", [](size_t r, size_t c) { return random_image(r, c, 30); },
     {5, 0.2, 1, 6, 1, 6, 0}, {}, ""},
    {"intensities_not_logged",
     [](size_t r, size_t c) {
         std::vector<float> image = random_image(r, c, 31);
         for (float& v : image) v = std::floor(v * 50.0f + 10.0f);  // 0..255, as an 8-bit image
         return image;
     },
     {5, 0.2, 1, 6, 1, 6, 0}, {"TARV_c:nonFinite"}, "looks like intensities rather than log"},
    {"logged_zero_intensity", [](size_t r, size_t c) { return with(random_image(r, c, 32), 20, -kInf); },
     {5, 0.2, 1, 6, 1, 6, 0}, {"TARV_c:nonFinite"}, "1 of 80 input pixels are -Inf"},
    {"nan_pixel", [](size_t r, size_t c) { return with(random_image(r, c, 33), 77, kNaN); },
     {2, 0.2, 1, 6, 1, 6, 0}, {"TARV_c:nonFinite"}, "input pixels are NaN or Inf"},
    {"inverted_region", [](size_t r, size_t c) { return random_image(r, c, 34); },
     {2, 0.2, 6, 1, 1, 6, 0}, {"TARV_c:nonFinite"}, "80 of 80 result pixels are NaN, though every "
     "input pixel is a finite log intensity: the reference region is empty"},
    {"squares_overflow", [](size_t r, size_t c) { return with(random_image(r, c, 40), 20, 45.0f); },
     {5, 0.2, 1, 6, 1, 6, 0}, {"TARV_c:nonFinite"},
     "1 of 80 input pixels are 44.36 or above (the largest is 45)"},
    {"squares_underflow", [](size_t r, size_t c) { return with(random_image(r, c, 41), 20, -60.0f); },
     {5, 0.2, 1, 6, 1, 6, 0}, {"TARV_c:nonFinite"},
     "1 of 80 input pixels are -51.99 or below (the smallest is -60)"},
    {"neighbours_far_apart",
     [](size_t r, size_t c) {
         std::vector<float> image = with(random_image(r, c, 42), 25, 44.25f);
         for (size_t k : {24, 26, 15, 35}) image[k] = -0.75f;
         return image;
     },
     {5, 0.2, 1, 6, 1, 6, 0}, {"TARV_c:nonFinite"}, "neighbouring input pixels differ by up to 45"},
    // A region of variance 0 makes NaN where a pixel equals its four
    // neighbours: here in a flat patch of log intensities 0.
    {"one_pixel_region", [](size_t r, size_t c) { return flat_patch(random_image(r, c, 43), r); },
     {2, 0.2, 6, 6, 5, 5, 0}, {"TARV_c:nonFinite"}, "the reference region is a single pixel"},
    {"flat_region", [](size_t r, size_t c) { return flat_patch(random_image(r, c, 44), r); },
     {2, 0.2, 1, 4, 1, 3, 0}, {"TARV_c:nonFinite"}, "the reference region is flat"},
    {"negative_lambda", [](size_t r, size_t c) { return random_image(r, c, 45); },
     {60, -0.2, 1, 6, 1, 6, 0}, {"TARV_c:lambda", "TARV_c:nonFinite"},
     "a negative lambda sharpened the image"},
    {"lambda_above_one", [](size_t r, size_t c) { return random_image(r, c, 35); },
     {1, 1.5, 1, 6, 1, 6, 0}, {"TARV_c:lambda"}, "argument 3 (lambda) is 1.5: steps above 1"},
    {"lambda_far_above_one", [](size_t r, size_t c) { return random_image(r, c, 36); },
     {5, 3.5, 1, 10, 1, 8, 0}, {"TARV_c:lambda", "TARV_c:nonFinite"}, "a lambda above 1 drove"},
    {"lambda_zero", [](size_t r, size_t c) { return random_image(r, c, 37); },
     {2, 0, 1, 6, 1, 6, 0}, {"TARV_c:lambda"}, "argument 3 (lambda) is 0: a step of 0"},
    {"lambda_nan", [](size_t r, size_t c) { return random_image(r, c, 38); },
     {2, kNaN, 1, 6, 1, 6, 0}, {"TARV_c:lambda", "TARV_c:nonFinite"}, "80 of 80 result pixels are "
     "NaN, though every input pixel is a finite log intensity: lambda is NaN"},
    {"no_iteration_any_lambda", [](size_t r, size_t c) { return random_image(r, c, 39); },
     {0, 7, 1, 6, 1, 6, 0}, {}, ""},
};

class FilterWarningTest : public ::testing::TestWithParam<WarningCase> {};

// The warnings tell the user why a result holds NaN; the result is what the
// arithmetic defines, and no interpreter call is made for them.
TEST_P(FilterWarningTest, WarnsOnceWithTheCauseAndKeepsTheResult) {
    const WarningCase& c = GetParam();
    const uint32_t rows = 10, cols = 8;
    const std::vector<float> source = c.image(rows, cols);
    RecordedProgress progress;
    Inputs inputs = filter_inputs(make_single(rows, cols, source), c.scalars);
    Outcome outcome = run_filter(inputs);
    ASSERT_TRUE(outcome.call.ok) << outcome.call.error_id;
    std::vector<std::string> identifiers;
    for (const auto& warning : outcome.call.warnings) identifiers.push_back(warning.first);
    EXPECT_EQ(identifiers, std::vector<std::string>(c.identifiers.begin(), c.identifiers.end()));
    if (!outcome.call.warnings.empty()) {
        EXPECT_NE(outcome.call.warnings.back().second.find(c.says), std::string::npos)
            << outcome.call.warnings.back().second;
    }
    EXPECT_TRUE(progress.calls().empty());
    const Scalars& s = c.scalars;
    const OracleRegion region{static_cast<int>(s.first_row) - 1, static_cast<int>(s.last_row) - 1,
                              static_cast<int>(s.first_col) - 1, static_cast<int>(s.last_col) - 1};
    EXPECT_TRUE(planes_match(oracle_diffusion(source, rows, cols, region,
                                              static_cast<int32_t>(s.iterations),
                                              static_cast<float>(s.lambda)),
                             testhost::single_values(outcome.call.result), rows));
}

INSTANTIATE_TEST_SUITE_P(Causes, FilterWarningTest, ::testing::ValuesIn(kWarningCases), param_name);

// The other thresholds the warning names, each to the ulp: the square of
// the exponential overflows from 44.36 on and is 0 from -51.99 down.
TEST(FilterWarningTest, ThresholdsLieWhereTheArithmeticChanges) {
    const auto working = [](float x) { return static_cast<float>(std::exp(static_cast<double>(x))); };
    const auto square = [&](float x) {
        volatile float w = working(x);
        return w * w;
    };
    const float square_overflow = kSquareOverflowLog, square_underflow = kSquareUnderflowLog;
    EXPECT_TRUE(std::isinf(square(square_overflow)));
    EXPECT_TRUE(std::isfinite(square(std::nextafter(square_overflow, 0.0f))));
    EXPECT_EQ(square(square_underflow), 0.0f);
    EXPECT_GT(square(std::nextafter(square_underflow, 0.0f)), 0.0f);
}

// The largest log intensity whose exponential is finite: one more ulp gives
// +Inf, and the warning counts exactly the pixels above it.
TEST(FilterWarningTest, CountsThePixelsWhoseExponentialOverflows) {
    const float largest = kLargestLogIntensity;
    ASSERT_TRUE(std::isfinite(static_cast<float>(std::exp(static_cast<double>(largest)))));
    ASSERT_TRUE(std::isinf(static_cast<float>(std::exp(static_cast<double>(std::nextafter(largest, 100.0f))))));
    std::vector<float> source(6, 1.0f);
    source[1] = largest;
    source[2] = std::nextafter(largest, 100.0f);
    source[3] = 1000.0f;
    Inputs inputs = filter_inputs(make_single(3, 2, source), {0, 0.2, 1, 3, 1, 2, 0});
    Outcome outcome = run_filter(inputs);
    ASSERT_TRUE(outcome.call.ok);
    ASSERT_EQ(outcome.call.warnings.size(), 1u);
    EXPECT_EQ(outcome.call.warnings[0].second.rfind("2 of 6 input pixels are above 88.72", 0), 0u)
        << outcome.call.warnings[0].second;
}

// --- volumes ------------------------------------------------------------------------

mxArray* make_volume(size_t rows, size_t cols, size_t pages, const std::vector<float>& values) {
    mxArray* volume = make_array(mxSINGLE_CLASS, {rows, cols, pages});
    std::copy(values.begin(), values.end(), static_cast<float*>(mxGetData(volume)));
    return volume;
}

// Each page of an M x N x P image is filtered as a call on that page alone
// would filter it; the bar opens once and reaches 1.
TEST(FilterVolumeTest, EveryPageHasTheBitsOfATwoDimensionalCall) {
    const size_t rows = 13, cols = 11, pages = 3, plane = rows * cols;
    const std::vector<float> source = random_image(rows, cols * pages, 47);
    const Scalars scalars{4, 0.2, 2, 9, 3, 8, 1};
    RecordedProgress progress;
    Inputs inputs = filter_inputs(make_volume(rows, cols, pages, source), scalars);
    Outcome outcome = run_filter(inputs);
    ASSERT_TRUE(outcome.call.ok) << outcome.call.error_id << ": " << outcome.call.error_message;
    EXPECT_EQ(testhost::dimensions(outcome.call.result), (std::vector<size_t>{rows, cols, pages}));
    const std::vector<float> result = testhost::single_values(outcome.call.result);
    const auto& calls = progress.calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front().name, "waitbar");
    EXPECT_EQ(calls[calls.size() - 2].first_values[0], 1.0) << "the bar ends at 1";
    EXPECT_EQ(calls.back().name, "close");
    for (size_t page = 0; page < pages; ++page) {
        const std::vector<float> one(source.begin() + plane * page, source.begin() + plane * (page + 1));
        Inputs alone = filter_inputs(make_single(rows, cols, one), {4, 0.2, 2, 9, 3, 8, 0});
        Outcome expected = run_filter(alone);
        ASSERT_TRUE(expected.call.ok);
        EXPECT_TRUE(planes_match(testhost::single_values(expected.call.result),
                                 std::vector<float>(result.begin() + plane * page,
                                                    result.begin() + plane * (page + 1)),
                                 rows))
            << "page " << page + 1;
    }
}

// One warning for the whole volume, counting its pixels, with the cause of
// the page that holds it.
TEST(FilterVolumeTest, APageOfNaNWarnsOnceForTheVolume) {
    const size_t rows = 10, cols = 8, pages = 4;
    std::vector<float> source = random_image(rows, cols * pages, 48);
    source[rows * cols * 2 + 5] = -kInf;
    Inputs inputs = filter_inputs(make_volume(rows, cols, pages, source), {3, 0.2, 1, 6, 1, 6, 0});
    Outcome outcome = run_filter(inputs);
    ASSERT_TRUE(outcome.call.ok);
    ASSERT_EQ(outcome.call.warnings.size(), 1u);
    EXPECT_EQ(outcome.call.warnings[0].first, "TARV_c:nonFinite");
    EXPECT_EQ(outcome.call.warnings[0].second.rfind("1 of 320 input pixels are -Inf", 0), 0u)
        << outcome.call.warnings[0].second;
}

// --- the progress bar ------------------------------------------------------------

struct FlagCase {
    double flag;
    bool shown;
};

class ProgressFlagTest : public ::testing::TestWithParam<FlagCase> {};

TEST_P(ProgressFlagTest, LowEightBitsOfTheTruncatedFlagTurnTheBarOn) {
    const FlagCase c = GetParam();
    RecordedProgress progress;
    Inputs inputs = filter_inputs(make_single(4, 4, random_image(4, 4, 13)), {2, 0.25, 1, 4, 1, 4, c.flag});
    Outcome outcome = run_filter(inputs);
    ASSERT_TRUE(outcome.call.ok);
    EXPECT_EQ(progress.calls().size(), c.shown ? 4u : 0u);
    EXPECT_EQ(outcome.call.leftover_arrays, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, ProgressFlagTest,
    ::testing::Values(FlagCase{0, false}, FlagCase{0.5, false}, FlagCase{1, true},
                      FlagCase{-1, true}, FlagCase{255.9, true}, FlagCase{256, false},
                      FlagCase{257, true}, FlagCase{kNaN, false}, FlagCase{kInf, false},
                      FlagCase{-kInf, false}, FlagCase{2147483647.0, true},
                      FlagCase{2147483648.0, false}, FlagCase{-2147483648.0, false},
                      FlagCase{-2147483649.0, false}, FlagCase{1e300, false}));

struct ShownCase {
    double iterations;
    std::vector<double> shown;
};

class ProgressShownTest : public ::testing::TestWithParam<ShownCase> {};

TEST_P(ProgressShownTest, ShowsTheFractionAfterEachIteration) {
    const ShownCase c = GetParam();
    RecordedProgress progress;
    const auto& calls = progress.calls();
    const std::vector<float> source = random_image(5, 4, 14);
    Inputs inputs = filter_inputs(make_single(5, 4, source), {c.iterations, 0.25, 1, 5, 1, 4, 1});
    Outcome outcome = run_filter(inputs);
    ASSERT_TRUE(outcome.call.ok);
    EXPECT_EQ(outcome.call.leftover_arrays, 0u);
    ASSERT_EQ(calls.size(), c.shown.size() + 1);
    for (size_t k = 0; k < c.shown.size(); ++k) {
        EXPECT_EQ(calls[k].name, "waitbar");
        EXPECT_EQ(calls[k].first_values[0], c.shown[k]) << "call " << k;
    }
    EXPECT_EQ(calls.back().name, "close");
    const auto iterations = static_cast<int32_t>(c.iterations);
    EXPECT_TRUE(planes_match(oracle_diffusion(source, 5, 4, {0, 4, 0, 3}, iterations, 0.25f),
                             testhost::single_values(outcome.call.result), 5));
}

INSTANTIATE_TEST_SUITE_P(Iterations, ProgressShownTest,
                         ::testing::Values(ShownCase{0, {0.0}}, ShownCase{-4, {0.0}},
                                           ShownCase{1, {0.0, 1.0}},
                                           ShownCase{2, {0.0, 0.0, 1.0}},
                                           ShownCase{5, {0.0, 0.0, 0.25, 0.5, 0.75, 1.0}}));

struct CancelCase {
    const char* what;
    int fail_at;  // 1-based host call that fails
};

class ProgressFailureTest : public ::testing::TestWithParam<CancelCase> {};

TEST_P(ProgressFailureTest, AFailedProgressCallCancelsWithNothingLeaked) {
    const CancelCase c = GetParam();
    const long growth = heap_growth([&] {
        RecordedProgress progress(c.fail_at);
        Inputs inputs = filter_inputs(make_single(16, 16, random_image(16, 16, 15)), {5, 0.25, 1, 8, 1, 8, 1});
        Outcome outcome = run_filter(inputs);
        EXPECT_FALSE(outcome.call.ok);
        EXPECT_EQ(outcome.call.error_id, "TARV_c:cancelled");
        EXPECT_EQ(outcome.call.leftover_arrays, 0u);
    });
    EXPECT_EQ(growth, 0);
}

INSTANTIATE_TEST_SUITE_P(Failures, ProgressFailureTest,
                         ::testing::Values(CancelCase{"open", 1}, CancelCase{"first_advance", 2},
                                           CancelCase{"fourth_advance", 5},
                                           CancelCase{"last_advance", 6}),
                         [](const auto& info) { return std::string(info.param.what); });

// A bar that a call interrupted inside "waitbar" left open stays for the
// next call to close; a host that clears the plug-in first has its handle
// destroyed.
TEST(FilterTest, ClearingThePlugInDestroysABarLeftOpen) {
    std::string error;
    testhost::Plugin plugin = testhost::load_plugin(TARV_C_PLUGIN, &error);
    ASSERT_NE(plugin.entry, nullptr) << error;
    RecordedProgress progress;
    const size_t live_before = standin_live_arrays();
    {
        Inputs inputs = filter_inputs(make_single(6, 6, random_image(6, 6, 12)), {3, 0.2, 1, 6, 1, 6, 1});
        standin_set_interrupt_at(2);
        Outcome outcome(testhost::call(plugin, 1, inputs.arrays));
        EXPECT_EQ(outcome.call.error_id, "standin:interrupted");
    }
    EXPECT_EQ(standin_live_arrays(), live_before + 1) << "the bar's handle is kept for the next call";
    testhost::unload_plugin(&plugin);
    EXPECT_EQ(standin_live_arrays(), live_before);
}

TEST(FilterTest, AFailedCloseStillReturnsTheResult) {
    RecordedProgress progress(5);  // open, three advances, close
    const std::vector<float> source = random_image(6, 6, 16);
    Inputs inputs = filter_inputs(make_single(6, 6, source), {3, 0.25, 1, 6, 1, 6, 1});
    Outcome outcome = run_filter(inputs);
    ASSERT_TRUE(outcome.call.ok);
    EXPECT_EQ(outcome.call.leftover_arrays, 0u);
    EXPECT_TRUE(planes_match(oracle_diffusion(source, 6, 6, {0, 5, 0, 5}, 3, 0.25f),
                             testhost::single_values(outcome.call.result), 6));
}

// --- invalid arguments -------------------------------------------------------------

struct InvalidCase {
    const char* name;
    const char* identifier;
    const char* names_argument;  // text the message must hold
    std::function<void(Inputs&, int& nlhs)> spoil;
};

std::function<void(Inputs&, int&)> scalar(int slot, double value) {
    return [=](Inputs& inputs, int&) { replace(inputs, slot, make_scalar(value)); };
}

std::function<void(Inputs&, int&)> array_of(int slot, mxClassID class_id, std::vector<size_t> dims,
                                            bool complex = false, bool sparse = false) {
    return [=](Inputs& inputs, int&) {
        replace(inputs, slot, make_array(class_id, dims, complex, sparse));
    };
}

const InvalidCase kInvalidCases[] = {
    {"seven_inputs", "TARV_c:nrhs", "8 input",
     [](Inputs& in, int&) { mxDestroyArray(in.arrays.back()); in.arrays.pop_back(); }},
    {"no_inputs", "TARV_c:nrhs", "got 0",
     [](Inputs& in, int&) { for (mxArray* a : in.arrays) mxDestroyArray(a); in.arrays.clear(); }},
    {"two_outputs", "TARV_c:nlhs", "2 were requested", [](Inputs&, int& nlhs) { nlhs = 2; }},
    {"double_image", "TARV_c:imageClass",
     "argument 1 (image) must be a real single-precision matrix of log intensities (for an "
     "intensity image img: single(log(1 + double(img)))), was double",
     array_of(0, mxDOUBLE_CLASS, {9, 10})},
    {"complex_image", "TARV_c:imageClass", "complex single", array_of(0, mxSINGLE_CLASS, {9, 10}, true)},
    {"int16_image", "TARV_c:imageClass", "int16", array_of(0, mxINT16_CLASS, {9, 10})},
    {"char_image", "TARV_c:imageClass", "char", array_of(0, mxCHAR_CLASS, {9, 10})},
    {"huge_image", "TARV_c:imageSize", "argument 1",
     [](Inputs& in, int&) {
         const size_t dims[2] = {size_t{1} << 16, size_t{1} << 15};
         replace(in, 0, standin_create_shape_only(mxSINGLE_CLASS, 2, dims));
     }},
    {"four_dimensions", "TARV_c:imageDimensions", "argument 1 (image) must be a matrix or a volume "
     "of pages (rows x columns x pages), was 10x12x3x2", array_of(0, mxSINGLE_CLASS, {10, 12, 3, 2})},
    {"huge_volume", "TARV_c:imageSize", "argument 1 (image) must have fewer than 2^31 elements, was "
     "4096x4096x256",
     [](Inputs& in, int&) {
         const size_t dims[3] = {size_t{1} << 12, size_t{1} << 12, size_t{1} << 8};
         replace(in, 0, standin_create_shape_only(mxSINGLE_CLASS, 3, dims));
     }},
    {"char_iterations", "TARV_c:scalarClass", "argument 2 (iterations)", array_of(1, mxCHAR_CLASS, {1, 1})},
    {"cell_lambda", "TARV_c:scalarClass", "argument 3 (lambda)", array_of(2, mxCELL_CLASS, {1, 1})},
    {"complex_lambda", "TARV_c:scalarClass", "argument 3", array_of(2, mxDOUBLE_CLASS, {1, 1}, true)},
    {"sparse_bound", "TARV_c:scalarClass", "argument 4", array_of(3, mxDOUBLE_CLASS, {1, 1}, false, true)},
    {"struct_flag", "TARV_c:scalarClass", "argument 8", array_of(7, mxSTRUCT_CLASS, {1, 1})},
    {"empty_iterations", "TARV_c:emptyArgument", "argument 2", array_of(1, mxDOUBLE_CLASS, {0, 0})},
    {"empty_lambda", "TARV_c:emptyArgument", "argument 3", array_of(2, mxSINGLE_CLASS, {1, 0})},
    {"empty_last_col", "TARV_c:emptyArgument", "argument 7", array_of(6, mxINT32_CLASS, {0, 1})},
    {"empty_flag", "TARV_c:emptyArgument", "argument 8", array_of(7, mxLOGICAL_CLASS, {0, 0})},
    {"two_iterations", "TARV_c:scalarSize", "argument 2 (iterations) must be a scalar, was 1x2",
     array_of(1, mxDOUBLE_CLASS, {1, 2})},
    {"row_range_as_bound", "TARV_c:scalarSize", "argument 4 (first row of the region) must be a "
     "scalar, was 2x1", array_of(3, mxDOUBLE_CLASS, {2, 1})},
    {"flag_matrix", "TARV_c:scalarSize", "argument 8 (progress flag) must be a scalar, was 3x3x2",
     array_of(7, mxLOGICAL_CLASS, {3, 3, 2})},
    {"nan_iterations", "TARV_c:iterations",
     "argument 2 (iterations) must be a finite number within the 32-bit integer range, was NaN",
     scalar(1, kNaN)},
    {"infinite_iterations", "TARV_c:iterations", "argument 2", scalar(1, kInf)},
    {"iterations_2_31", "TARV_c:iterations", "was 2147483648", scalar(1, 2147483648.0)},
    {"iterations_below_int32", "TARV_c:iterations", "argument 2", scalar(1, -2147483649.0)},
    {"first_row_0", "TARV_c:region", "argument 4", scalar(3, 0)},
    {"first_row_half", "TARV_c:region", "argument 4 (first row of the region) must lie within 1..9, was 0.5",
     scalar(3, 0.5)},
    {"first_row_negative", "TARV_c:region", "argument 4", scalar(3, -1)},
    {"last_row_past_image", "TARV_c:region", "argument 5", scalar(4, 10)},
    {"first_col_nan", "TARV_c:region", "argument 6", scalar(5, kNaN)},
    {"last_col_past_image", "TARV_c:region", "argument 7", scalar(6, 11)},
    {"last_col_infinite", "TARV_c:region", "was Inf", scalar(6, kInf)},
};

class InvalidArgumentTest : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidArgumentTest, RaisesItsErrorWithNothingLeaked) {
    const InvalidCase& c = GetParam();
    const long growth = heap_growth([&] {
        RecordedProgress progress;
        // A valid call on a 9 x 10 image, then spoiled.
        Inputs inputs = filter_inputs(make_single(9, 10, random_image(9, 10, 17)), {2, 0.25, 1, 9, 1, 10, 1});
        int nlhs = 1;
        c.spoil(inputs, nlhs);
        Outcome outcome = run_filter(inputs, nlhs);
        EXPECT_FALSE(outcome.call.ok);
        EXPECT_EQ(outcome.call.error_id, c.identifier);
        EXPECT_NE(outcome.call.error_message.find(c.names_argument), std::string::npos)
            << outcome.call.error_message;
        EXPECT_EQ(outcome.call.leftover_arrays, 0u);
    });
    EXPECT_EQ(growth, 0);
}

INSTANTIATE_TEST_SUITE_P(Arguments, InvalidArgumentTest, ::testing::ValuesIn(kInvalidCases),
                         param_name);

TEST(FilterTest, ValidEdgesOfTheRegionAreAccepted) {
    // 13.9 truncates to 13, a valid last row of a 13-row image.
    Inputs inputs = filter_inputs(make_single(13, 4, random_image(13, 4, 18)), {1, 0.25, 1.99, 13.9, 1, 4.5, 0});
    Outcome outcome = run_filter(inputs);
    EXPECT_TRUE(outcome.call.ok) << outcome.call.error_message;
}


}  // namespace
