// bandscore.mexa64 loaded and called through the test host, and the
// scorer's row check against a brute-force search.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "case_support.h"
#include "bits.h"
#include "plugin_support.h"
#include "scorer.h"

namespace {

using testhost::make_array;
using testhost::make_double;
using testhost::make_scalar;

constexpr double kSentinel = -999999.0;

const testhost::Plugin& scorer_plugin() { return plugin_at(BANDSCORE_PLUGIN); }

// The ten arguments as plain values.
struct BandArgs {
    double top_offset = 0, bottom_offset = 0;
    size_t rows = 0, cols = 0;
    std::vector<double> image;  // rows x cols, column-major
    std::vector<double> span_mean, span_sd;
    double top_count = 0, bottom_count = 0, prior_weight = 0;
    std::vector<double> span_min, span_max;

    // The same value for every column.
    void per_column(double mean, double sd, double low, double high) {
        span_mean.assign(cols, mean);
        span_sd.assign(cols, sd);
        span_min.assign(cols, low);
        span_max.assign(cols, high);
    }
};

Inputs band_inputs(const BandArgs& b) {
    auto row = [](const std::vector<double>& v) { return make_double({1, v.size()}, v); };
    return Inputs({make_scalar(b.top_offset), make_scalar(b.bottom_offset),
                   make_double({b.rows, b.cols}, b.image), row(b.span_mean), row(b.span_sd),
                   make_scalar(b.top_count), make_scalar(b.bottom_count), make_scalar(b.prior_weight),
                   row(b.span_min), row(b.span_max)});
}

Outcome run_scorer(const Inputs& inputs, int nlhs = 1) {
    Outcome outcome(testhost::call(scorer_plugin(), nlhs, inputs.arrays));
    EXPECT_TRUE(outcome.call.inputs_unchanged) << "the scorer wrote an input";
    return outcome;
}

// Scores through the plug-in, expecting success.
std::vector<double> scores_of(const BandArgs& b) {
    Inputs inputs = band_inputs(b);
    Outcome outcome = run_scorer(inputs);
    EXPECT_TRUE(outcome.call.ok) << outcome.call.error_id << ": " << outcome.call.error_message;
    if (!outcome.call.ok) return {};
    EXPECT_EQ(mxGetClassID(outcome.call.result), mxDOUBLE_CLASS);
    const auto A = static_cast<size_t>(b.top_count), B = static_cast<size_t>(b.bottom_count);
    EXPECT_EQ(mxGetNumberOfElements(outcome.call.result), A * B * b.cols);
    EXPECT_EQ(outcome.call.leftover_arrays, 10u) << "the ten argument copies are the host's to free";
    return testhost::double_values(outcome.call.result);
}

// The scoring rule, written plainly from its formula.
std::vector<double> oracle_scores(const BandArgs& b) {
    const int A = static_cast<int>(b.top_count), B = static_cast<int>(b.bottom_count);
    const int C = static_cast<int>(b.cols), R = static_cast<int>(b.rows);
    std::vector<double> out(static_cast<size_t>(A) * B * C);
    for (int c = 0; c < C; ++c)
        for (int a = 0; a < A; ++a)
            for (int bi = 0; bi < B; ++bi) {
                const int top = static_cast<int>(std::trunc(a + b.top_offset));
                const int bottom = static_cast<int>(std::trunc(bi + b.bottom_offset));
                const int span = bottom - top;
                const double s = span;
                double& cell = out[a + A * bi + static_cast<size_t>(A) * B * c];
                if (b.span_min[c] > s || s > b.span_max[c]) {
                    cell = kSentinel;
                    continue;
                }
                double sum = 0.0;
                for (int r = top; r <= bottom; ++r) sum += b.image[r + static_cast<size_t>(R) * c];
                const double z = (s - b.span_mean[c]) / b.span_sd[c];
                cell = std::exp(z * z * -0.5) * b.prior_weight + sum / (span + 1);
            }
    return out;
}

// An image whose row r holds the value r in every column.
BandArgs row_index_image(size_t rows, size_t cols) {
    BandArgs b;
    b.rows = rows;
    b.cols = cols;
    for (size_t c = 0; c < cols; ++c)
        for (size_t r = 0; r < rows; ++r) b.image.push_back(static_cast<double>(r));
    return b;
}

size_t cell(const BandArgs& b, size_t a, size_t bi, size_t c) {
    const auto A = static_cast<size_t>(b.top_count), B = static_cast<size_t>(b.bottom_count);
    return a + A * bi + A * B * c;
}

// --- defined behaviour ---------------------------------------------------------------

TEST(BandScoreTest, WorkedExampleWithInclusiveLimits) {
    BandArgs b = row_index_image(24, 2);
    b.top_offset = 10;
    b.bottom_offset = 20;
    b.top_count = b.bottom_count = 3;
    b.prior_weight = 0.5;
    b.per_column(10, 1, 9, 11);
    const std::vector<double> s = scores_of(b);
    ASSERT_EQ(s.size(), 18u);
    const double off_centre = std::exp(-0.5) * 0.5;  // a span one sd from the centre
    for (size_t c = 0; c < 2; ++c) {
        EXPECT_EQ(s[cell(b, 0, 0, c)], 15.0 + 0.5);  // rows 10..20, span 10
        EXPECT_EQ(s[cell(b, 1, 0, c)], off_centre + 15.5);  // span 9 = span_min
        EXPECT_EQ(s[cell(b, 0, 1, c)], off_centre + 15.5);  // span 11 = span_max
        EXPECT_EQ(s[cell(b, 1, 1, c)], 16.0 + 0.5);
        EXPECT_EQ(s[cell(b, 2, 2, c)], 17.0 + 0.5);
        EXPECT_EQ(s[cell(b, 2, 0, c)], kSentinel);  // span 8
        EXPECT_EQ(s[cell(b, 0, 2, c)], kSentinel);  // span 12
    }
}

TEST(BandScoreTest, OffsetsAreTruncatedAfterAddingTheIndex) {
    // With no prior, a cell is the mean row index (top + bottom) / 2, which
    // gives the top row back.
    struct Case { double offset; std::vector<int> tops; };
    for (const Case& t : {Case{4.7, {4, 5, 6, 7}}, Case{-0.5, {0, 0, 1, 2}}, Case{2.0, {2, 3, 4, 5}},
                          Case{-0.9999, {0, 0, 1, 2}}}) {
        BandArgs b = row_index_image(20, 1);
        b.top_offset = t.offset;
        b.bottom_offset = 15;
        b.top_count = 4;
        b.bottom_count = 1;
        b.per_column(0, 1, -100, 100);
        const std::vector<double> s = scores_of(b);
        ASSERT_EQ(s.size(), 4u);
        for (size_t a = 0; a < 4; ++a) EXPECT_EQ(2 * s[a] - 15, t.tops[a]) << "offset " << t.offset << ", a " << a;
    }
}

TEST(BandScoreTest, NegativeSpansReadNoRows) {
    // Span -1 divides 0 by 0; span -2 gives a mean of -0, leaving the prior.
    BandArgs b = row_index_image(10, 1);
    b.top_offset = 5;
    b.bottom_offset = 3;  // spans -2, -1, 0
    b.top_count = 1;
    b.bottom_count = 3;
    b.prior_weight = 2;
    b.per_column(-2, 4, -5, 5);
    const std::vector<double> s = scores_of(b);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_TRUE(same_bits(2.0, s[0])) << s[0];
    EXPECT_TRUE(std::isnan(s[1]));
    EXPECT_TRUE(same_bits(std::exp(-0.125) * 2 + 5.0, s[2])) << s[2];
}

TEST(BandScoreTest, NaNLimitsExcludeNothing) {
    // Spans 0..4 against limits 1..3, with either limit replaced by NaN.
    struct Case { double low, high; std::vector<bool> admitted; };
    for (const Case& t : {Case{1, 3, {false, true, true, true, false}},
                          Case{kNaN, 3, {true, true, true, true, false}},
                          Case{1, kNaN, {false, true, true, true, true}},
                          Case{kNaN, kNaN, {true, true, true, true, true}}}) {
        BandArgs b = row_index_image(8, 1);
        b.top_offset = 2;
        b.bottom_offset = 2;
        b.top_count = 1;
        b.bottom_count = 5;
        b.per_column(2, 1, t.low, t.high);
        const std::vector<double> s = scores_of(b);
        ASSERT_EQ(s.size(), 5u);
        for (size_t k = 0; k < 5; ++k)
            EXPECT_EQ(s[k] != kSentinel, t.admitted[k]) << "span " << k << ", limits " << t.low << ".." << t.high;
    }
}

TEST(BandScoreTest, ZeroWidthPreferenceLeavesTheMeanOrNaN) {
    BandArgs b = row_index_image(8, 1);
    b.top_offset = 1;
    b.bottom_offset = 1;
    b.top_count = 1;
    b.bottom_count = 4;
    b.prior_weight = 3;
    b.per_column(2, 0, 0, 10);
    const std::vector<double> s = scores_of(b);
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0], 1.0);
    EXPECT_EQ(s[1], 1.5);
    EXPECT_TRUE(std::isnan(s[2])) << "span equal to span_mean gives 0/0";
    EXPECT_EQ(s[3], 2.5);
}

TEST(BandScoreTest, ZeroExtentsGiveEmptyVolumes) {
    struct Case { double A, B; size_t cols; };
    for (const Case& t : {Case{0, 4, 3}, Case{4, 0, 3}, Case{4, 4, 0}, Case{0, 0, 0}}) {
        BandArgs b = row_index_image(6, t.cols);
        b.top_offset = kNaN;  // never used when no cell is scored
        b.top_count = t.A;
        b.bottom_count = t.B;
        b.per_column(1, 1, 0, 5);
        Inputs inputs = band_inputs(b);
        Outcome outcome = run_scorer(inputs);
        ASSERT_TRUE(outcome.call.ok) << outcome.call.error_message;
        EXPECT_EQ(testhost::dimensions(outcome.call.result),
                  (std::vector<size_t>{static_cast<size_t>(t.A), static_cast<size_t>(t.B), t.cols}));
    }
}

TEST(BandScoreTest, NoOutputRequestedStillFillsSlotZero) {
    BandArgs b = row_index_image(6, 2);
    b.top_count = b.bottom_count = 2;
    b.bottom_offset = 2;
    b.per_column(1, 1, 0, 5);
    Inputs inputs = band_inputs(b);
    Outcome outcome = run_scorer(inputs, 0);
    ASSERT_TRUE(outcome.call.ok);
    EXPECT_NE(outcome.call.result, nullptr);
}

class RandomBandTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(RandomBandTest, MatchesThePlainFormulaBitForBit) {
    std::mt19937 generator(GetParam());
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    BandArgs b;
    b.rows = 30 + generator() % 40;
    b.cols = 1 + generator() % 9;
    for (size_t k = 0; k < b.rows * b.cols; ++k) b.image.push_back(unit(generator) * 10 - 2);
    b.top_count = 1 + generator() % 12;
    b.bottom_count = 1 + generator() % 12;
    b.top_offset = unit(generator) * 8;
    b.bottom_offset = b.top_offset + unit(generator) * 10;
    b.prior_weight = unit(generator) * 3;
    for (size_t c = 0; c < b.cols; ++c) {
        b.span_mean.push_back(unit(generator) * 12);
        b.span_sd.push_back(0.5 + unit(generator) * 4);
        b.span_min.push_back(unit(generator) * 6 - 1);
        b.span_max.push_back(6 + unit(generator) * 14);
    }
    const double last_bottom = b.bottom_offset + b.bottom_count - 1;
    ASSERT_LT(last_bottom, static_cast<double>(b.rows)) << "every pair lies inside the image";
    EXPECT_TRUE(planes_match(oracle_scores(b), scores_of(b), static_cast<size_t>(b.top_count)));
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomBandTest, ::testing::Range(1u, 21u));

// --- the row check -----------------------------------------------------------------

// Brute force over every cell: the first admissible pair reading outside.
bool brute_force_rows_in_image(int32_t rows, int32_t cols, const BandScoreParams& p) {
    for (int32_t c = 0; c < cols; ++c)
        for (int32_t a = 0; a < p.top_count; ++a)
            for (int32_t b = 0; b < p.bottom_count; ++b) {
                const auto top = static_cast<int32_t>(a + p.top_offset);
                const auto bottom = static_cast<int32_t>(b + p.bottom_offset);
                const double s = bottom - top;
                const bool admissible = !(p.span_min[c] > s) && !(s > p.span_max[c]);
                if (admissible && top <= bottom && (top < 0 || bottom >= rows)) return false;
            }
    return true;
}

TEST(RowCheckTest, AgreesWithABruteForceSearch) {
    std::mt19937 generator(99);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int rejected = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const int32_t rows = static_cast<int32_t>(generator() % 20);
        const int32_t cols = 1 + static_cast<int32_t>(generator() % 3);
        std::vector<double> low(cols), high(cols), unused(cols, 1.0);
        for (int32_t c = 0; c < cols; ++c) {
            low[c] = generator() % 7 == 0 ? kNaN : unit(generator) * 16 - 8;
            high[c] = generator() % 7 == 0 ? kNaN : low[c] + unit(generator) * 16 - 2;
        }
        const BandScoreParams p{unit(generator) * 24 - 8, unit(generator) * 24 - 8,
                                static_cast<int32_t>(generator() % 8),
                                static_cast<int32_t>(generator() % 8), 1.0,
                                unused.data(), unused.data(), low.data(), high.data()};
        BandPair pair;
        ASSERT_TRUE(candidate_rows_in_range(cols, p, &pair));
        const bool expected = brute_force_rows_in_image(rows, cols, p);
        EXPECT_EQ(admissible_rows_in_image(rows, cols, p, &pair), expected) << "trial " << trial;
        rejected += expected ? 0 : 1;
    }
    EXPECT_GT(rejected, 300) << "the trials should exercise both answers";
    EXPECT_LT(rejected, 2700);
}

// --- invalid arguments ---------------------------------------------------------------

BandArgs valid_args() {
    BandArgs b = row_index_image(20, 4);
    b.top_offset = 2;
    b.bottom_offset = 8;
    b.top_count = 5;
    b.bottom_count = 6;
    b.prior_weight = 1;
    b.per_column(6, 2, 2, 12);
    return b;
}

struct InvalidCase {
    std::string name;
    const char* identifier;
    std::string names_argument;  // text the message must hold
    std::function<void(BandArgs&, Inputs&, int& nlhs)> spoil;
};

std::vector<InvalidCase> invalid_cases() {
    std::vector<InvalidCase> cases = {
        {"nine_inputs", "bandscore:nrhs", "10 input",
         [](BandArgs&, Inputs& in, int&) { mxDestroyArray(in.arrays.back()); in.arrays.pop_back(); }},
        {"two_outputs", "bandscore:nlhs", "2 were requested", [](BandArgs&, Inputs&, int& nlhs) { nlhs = 2; }},
        {"huge_image", "bandscore:imageSize", "argument 3",
         [](BandArgs&, Inputs& in, int&) {
             const size_t dims[2] = {size_t{1} << 21, size_t{1} << 10};
             replace(in, 2, standin_create_shape_only(mxDOUBLE_CLASS, 2, dims));
         }},
        // A volume's pages, or none, are not scored as if they were one image.
        {"two_pages", "bandscore:imageDimensions", "argument 3 (image) must be a matrix, was 20x4x2",
         [](BandArgs&, Inputs& in, int&) { replace(in, 2, make_array(mxDOUBLE_CLASS, {20, 4, 2})); }},
        {"no_page", "bandscore:imageDimensions", "argument 3 (image) must be a matrix, was 20x4x0",
         [](BandArgs&, Inputs& in, int&) { replace(in, 2, make_array(mxDOUBLE_CLASS, {20, 4, 0})); }},
        {"huge_result", "bandscore:resultSize", "2^31",
         [](BandArgs&, Inputs& in, int&) {
             replace(in, 5, make_scalar(65536));
             replace(in, 6, make_scalar(8192));
         }},
        {"top_count_nan", "bandscore:count", "argument 6", [](BandArgs&, Inputs& in, int&) { replace(in, 5, make_scalar(kNaN)); }},
        {"top_count_negative", "bandscore:count", "argument 6 (top_count) must be a number from 0 up to 2^31 - 1, was -0.5", [](BandArgs&, Inputs& in, int&) { replace(in, 5, make_scalar(-0.5)); }},
        {"bottom_count_2_31", "bandscore:count", "argument 7", [](BandArgs&, Inputs& in, int&) { replace(in, 6, make_scalar(2147483648.0)); }},
        {"bottom_count_infinite", "bandscore:count", "argument 7", [](BandArgs&, Inputs& in, int&) { replace(in, 6, make_scalar(kInf)); }},
        {"top_offset_nan", "bandscore:offset", "argument", [](BandArgs&, Inputs& in, int&) { replace(in, 0, make_scalar(kNaN)); }},
        {"bottom_offset_huge", "bandscore:offset", "argument", [](BandArgs&, Inputs& in, int&) { replace(in, 1, make_scalar(3e9)); }},
        {"span_beyond_int32", "bandscore:offset", "argument",
         [](BandArgs&, Inputs& in, int&) {
             replace(in, 0, make_scalar(-2147483000.0));
             replace(in, 1, make_scalar(2147483000.0));
         }},
        {"bottom_below_image", "bandscore:rowRange", "column 1",
         [](BandArgs&, Inputs& in, int&) {
             replace(in, 1, make_scalar(15));  // bottoms 15..20, row 20 past the image
             replace(in, 9, make_double({1, 4}, {30, 30, 30, 30}));
         }},
        {"top_above_image", "bandscore:rowRange", "column 1",
         [](BandArgs&, Inputs& in, int&) { replace(in, 0, make_scalar(-3)); }},
        {"rows_outside_in_last_column", "bandscore:rowRange", "column 4",
         [](BandArgs&, Inputs& in, int&) {
             replace(in, 9, make_double({1, 4}, {12, 12, 12, 40}));
             replace(in, 6, make_scalar(14));  // bottoms 8..21
         }},
    };
    // A single image, such as the filter's result, with how to pass it.
    for (int slot = 0; slot < 10; ++slot) {
        const std::string position =
            slot == 2 ? "argument 3 (image) must be a real, non-sparse double array, was single; "
                        "pass a single image, such as TARV_c's result out, as double(out)"
                      : "argument " + std::to_string(slot + 1);
        cases.push_back({"single_" + std::to_string(slot + 1), "bandscore:argumentClass", position,
                         [slot](BandArgs&, Inputs& in, int&) { replace(in, slot, make_array(mxSINGLE_CLASS, {1, 4})); }});
    }
    cases.push_back({"complex_image", "bandscore:argumentClass", "argument 3",
                     [](BandArgs&, Inputs& in, int&) { replace(in, 2, make_array(mxDOUBLE_CLASS, {20, 4}, true)); }});
    cases.push_back({"sparse_span_max", "bandscore:argumentClass", "argument 10",
                     [](BandArgs&, Inputs& in, int&) { replace(in, 9, make_array(mxDOUBLE_CLASS, {1, 4}, false, true)); }});
    cases.push_back({"logical_weight", "bandscore:argumentClass", "argument 8",
                     [](BandArgs&, Inputs& in, int&) { replace(in, 7, make_array(mxLOGICAL_CLASS, {1, 1})); }});
    for (int slot : {0, 1, 5, 6, 7}) {
        const std::string position = "argument " + std::to_string(slot + 1);
        cases.push_back({"empty_" + std::to_string(slot + 1), "bandscore:emptyArgument", position,
                         [slot](BandArgs&, Inputs& in, int&) { replace(in, slot, make_double({0, 0}, {})); }});
        cases.push_back({"pair_" + std::to_string(slot + 1), "bandscore:scalarSize",
                         ") must be a scalar, was 1x2",
                         [slot](BandArgs&, Inputs& in, int&) { replace(in, slot, make_double({1, 2}, {3, 4})); }});
    }
    for (int slot : {3, 4, 8, 9})
        cases.push_back({"short_" + std::to_string(slot + 1), "bandscore:columnCount",
                         "argument " + std::to_string(slot + 1),
                         [slot](BandArgs&, Inputs& in, int&) { replace(in, slot, make_double({1, 3}, {6, 6, 6})); }});
    return cases;
}

class InvalidArgumentTest : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidArgumentTest, RaisesItsErrorWithNothingLeaked) {
    const InvalidCase& c = GetParam();
    const long growth = heap_growth([&] {
        BandArgs b = valid_args();
        Inputs inputs = band_inputs(b);
        int nlhs = 1;
        c.spoil(b, inputs, nlhs);
        Outcome outcome = run_scorer(inputs, nlhs);
        EXPECT_FALSE(outcome.call.ok);
        EXPECT_EQ(outcome.call.error_id, c.identifier);
        EXPECT_NE(outcome.call.error_message.find(c.names_argument), std::string::npos)
            << outcome.call.error_message;
        EXPECT_EQ(outcome.call.leftover_arrays, 0u);
    });
    EXPECT_EQ(growth, 0);
}

INSTANTIATE_TEST_SUITE_P(Arguments, InvalidArgumentTest, ::testing::ValuesIn(invalid_cases()),
                         param_name);

TEST(BandScoreTest, PairsOutsideTheImageThatAreInadmissibleAreFine) {
    // Tops from -3, but every pair with a negative top is inadmissible.
    BandArgs b = valid_args();
    b.top_offset = -3;
    b.bottom_offset = 8;
    b.per_column(6, 2, 2, 8);  // a negative top spans at least 9 rows
    EXPECT_TRUE(planes_match(oracle_scores(b), scores_of(b), 5));
}

}  // namespace
