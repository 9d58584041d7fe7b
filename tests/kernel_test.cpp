// The diffusion kernel called directly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "case_support.h"
#include "bits.h"
#include "diffusion_oracle.h"
#include "kernel.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Everything one kernel call needs, owned by the test.
struct KernelRun {
    uint32_t rows, cols;
    std::vector<int32_t> row_up, row_down, col_left, col_right;
    std::vector<float> d_up, d_down, d_left, d_right, coef, work;
    std::vector<int64_t> progress_calls;
    int32_t stop_after = -1;  // the progress step stops the filter after this iteration

    KernelRun(uint32_t m, uint32_t n)
        : rows(m), cols(n), row_up(m), row_down(m), col_left(n), col_right(n),
          d_up(m * n), d_down(m * n), d_left(m * n), d_right(m * n), coef(m * n), work(m * n) {}

    NeighbourTables tables() {
        return {row_up.data(), row_down.data(), col_left.data(), col_right.data()};
    }

    static bool record(void* context, int64_t iteration, int64_t) {
        auto* run = static_cast<KernelRun*>(context);
        run->progress_calls.push_back(iteration);
        return iteration != run->stop_after;
    }

    // Filters `source` with a region given in 0-based inclusive bounds.
    bool filter(const std::vector<float>& source, OracleRegion region, int32_t iterations,
                float lambda) {
        build_neighbour_tables(rows, cols, tables());
        const uint32_t count = static_cast<uint32_t>(region.last_row - region.first_row + 1) *
                               static_cast<uint32_t>(region.last_col - region.first_col + 1);
        const FilterSettings params{
            {static_cast<uint32_t>(region.first_row), static_cast<uint32_t>(region.last_row),
             static_cast<uint32_t>(region.first_col), static_cast<uint32_t>(region.last_col), count},
            iterations,
            lambda};
        // The plain loops: their scratch planes keep the last iteration's
        // differences and coefficients, which these tests inspect (the fast
        // paths use the planes otherwise; fast_paths_test compares them).
        return diffuse_reference(source.data(), work.data(), rows, cols, tables(),
                                 {d_up.data(), d_down.data(), d_left.data(), d_right.data(),
                                  coef.data()},
                                 params, {{nullptr, record, this}, 0, iterations}, nullptr,
                                 nullptr) == CoreEnd::kCompleted;
    }
};

std::vector<float> random_image(uint32_t rows, uint32_t cols, unsigned seed, float low = 0.0f,
                                float high = 4.0f) {
    return uniform_values(rows * cols, low, high, seed);
}

std::vector<float> round_trip(const std::vector<float>& source) {
    std::vector<float> result;
    for (float v : source) result.push_back(std::log(static_cast<float>(std::exp(static_cast<double>(v)))));
    return result;
}

// --- neighbour tables ---------------------------------------------------------

class NeighbourTableTest : public ::testing::TestWithParam<std::pair<uint32_t, uint32_t>> {};

TEST_P(NeighbourTableTest, InteriorNeighboursAndClampedBorders) {
    const auto [rows, cols] = GetParam();
    KernelRun run(rows, cols);
    build_neighbour_tables(rows, cols, run.tables());
    for (uint32_t i = 0; i < rows; ++i) {
        EXPECT_EQ(run.row_up[i], i == 0 ? 0 : static_cast<int32_t>(i) - 1) << "row " << i;
        EXPECT_EQ(run.row_down[i], i + 1 == rows ? static_cast<int32_t>(i) : static_cast<int32_t>(i) + 1)
            << "row " << i;
    }
    for (uint32_t j = 0; j < cols; ++j) {
        EXPECT_EQ(run.col_left[j], j == 0 ? 0 : static_cast<int32_t>(j) - 1) << "column " << j;
        EXPECT_EQ(run.col_right[j], j + 1 == cols ? static_cast<int32_t>(j) : static_cast<int32_t>(j) + 1)
            << "column " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, NeighbourTableTest,
                         ::testing::Values(std::pair{1u, 1u}, std::pair{1u, 5u}, std::pair{5u, 1u},
                                           std::pair{2u, 2u}, std::pair{4u, 7u}));

// --- against the oracle ---------------------------------------------------------

struct OracleCase {
    uint32_t rows, cols;
    OracleRegion region;
    int32_t iterations;
    float lambda;
    unsigned seed;
};

class OracleTest : public ::testing::TestWithParam<OracleCase> {};

TEST_P(OracleTest, MatchesPlainTranscriptionBitForBit) {
    const OracleCase c = GetParam();
    const std::vector<float> source = random_image(c.rows, c.cols, c.seed);
    KernelRun run(c.rows, c.cols);
    ASSERT_TRUE(run.filter(source, c.region, c.iterations, c.lambda));
    EXPECT_TRUE(planes_match(oracle_diffusion(source, c.rows, c.cols, c.region, c.iterations, c.lambda),
                             run.work, c.rows));
}

INSTANTIATE_TEST_SUITE_P(
    SmallImages, OracleTest,
    ::testing::Values(OracleCase{3, 3, {0, 2, 0, 2}, 1, 0.25f, 1},
                      OracleCase{5, 7, {1, 3, 2, 5}, 1, 0.2f, 2},
                      OracleCase{8, 6, {0, 7, 0, 0}, 3, 0.1f, 3},
                      OracleCase{1, 9, {0, 0, 2, 6}, 2, 0.5f, 4},
                      OracleCase{9, 1, {2, 6, 0, 0}, 2, 0.5f, 5},
                      OracleCase{16, 16, {4, 11, 4, 11}, 5, 0.3f, 6},
                      OracleCase{33, 17, {0, 32, 0, 16}, 4, 1.0f, 7}));

// --- defined edge cases ---------------------------------------------------------

TEST(KernelTest, NoIterationIsTheExpLogRoundTrip) {
    const std::vector<float> source = {0.0f, -0.0f, 1.0f, -1.0f, 0.1f, 44.0f, 88.7f, 89.0f,
                                       -103.0f, -104.0f, -200.0f, 1e-40f, kNaN, kInf, -kInf, 3.3f};
    for (int32_t iterations : {0, -1, std::numeric_limits<int32_t>::min()}) {
        KernelRun run(4, 4);
        ASSERT_TRUE(run.filter(source, {0, 3, 0, 3}, iterations, 0.25f));
        EXPECT_TRUE(planes_match(round_trip(source), run.work, 4)) << iterations << " iterations";
        EXPECT_TRUE(run.progress_calls.empty());
    }
}

TEST(KernelTest, OneRowAndOneColumnDiffuseAlongTheirOnlyAxis) {
    // Transposing a line swaps the roles of the vertical and horizontal
    // differences, so a row and a column of the same values filter alike,
    // and the vertical differences of a row are all zero.
    const std::vector<float> line = random_image(1, 12, 11);
    KernelRun as_row(1, 12), as_column(12, 1);
    ASSERT_TRUE(as_row.filter(line, {0, 0, 0, 11}, 3, 0.25f));
    ASSERT_TRUE(as_column.filter(line, {0, 11, 0, 0}, 3, 0.25f));
    EXPECT_TRUE(planes_match(as_row.work, as_column.work, 1));
    EXPECT_TRUE(planes_match(std::vector<float>(12, 0.0f), as_row.d_up, 1));
    EXPECT_TRUE(planes_match(std::vector<float>(12, 0.0f), as_row.d_down, 1));
    EXPECT_TRUE(planes_match(std::vector<float>(12, 0.0f), as_column.d_left, 12));
    EXPECT_TRUE(planes_match(std::vector<float>(12, 0.0f), as_column.d_right, 12));
    EXPECT_FALSE(planes_match(round_trip(line), as_row.work, 1)) << "the line did not diffuse";
}

TEST(KernelTest, CoefficientClamp) {
    struct Case { float computed, stored; };
    const Case cases[] = {{1.7f, 1.0f}, {-0.2f, 0.0f}, {0.5f, 0.5f}, {1.0f, 1.0f},
                          {0.0f, 0.0f}, {-0.0f, -0.0f}, {kInf, 1.0f}, {-kInf, 0.0f},
                          {kNaN, kNaN}};
    for (const Case& c : cases)
        EXPECT_TRUE(same_bits(c.stored, clamp_coefficient(c.computed))) << c.computed;
}

TEST(KernelTest, FlatPixelsNextToANoisyRegionConductFully) {
    // A flat pixel has q = 0 < q0, so its coefficient computes above 1 and is
    // stored as 1.
    std::vector<float> source(6 * 6, 1.0f);
    const std::vector<float> noise = random_image(3, 6, 12, 0.0f, 3.0f);
    std::copy(noise.begin(), noise.end(), source.begin());  // column 0 and half of column 1
    KernelRun run(6, 6);
    ASSERT_TRUE(run.filter(source, {0, 5, 0, 1}, 1, 0.25f));
    EXPECT_TRUE(same_bits(1.0f, run.coef[2 + 6 * 4])) << run.coef[2 + 6 * 4];
    EXPECT_TRUE(same_bits(1.0f, run.coef[5 + 6 * 5])) << run.coef[5 + 6 * 5];
}

TEST(KernelTest, EmptyRegionMakesEveryPixelNaN) {
    const std::vector<float> source = random_image(5, 4, 13);
    for (OracleRegion region : {OracleRegion{3, 2, 0, 3}, OracleRegion{0, 4, 2, 1}}) {
        KernelRun run(5, 4);
        ASSERT_TRUE(run.filter(source, region, 1, 0.25f));
        for (float v : run.work) EXPECT_TRUE(std::isnan(v));
    }
}

TEST(KernelTest, RegionWithZeroVarianceStopsEveryFiniteCoefficient) {
    // A one-pixel region has var = 0, so q0 = 0: a pixel with q > 0 gets +0,
    // a flat pixel NaN. Pixels with no NaN coefficient around them keep their
    // value; the others become NaN.
    std::vector<float> source = random_image(6, 5, 14);
    for (int k : {14, 13, 15, 8, 20}) source[k] = 0.5f;  // pixel (2, 2) and its four neighbours
    KernelRun run(6, 5);
    ASSERT_TRUE(run.filter(source, {2, 2, 3, 3}, 1, 0.25f));
    const std::vector<float> unchanged = round_trip(source);
    for (uint32_t j = 0; j < 5; ++j)
        for (uint32_t i = 0; i < 6; ++i) {
            const uint32_t k = i + 6 * j;
            const float c = run.coef[k];
            EXPECT_TRUE(std::isnan(c) || same_bits(0.0f, c)) << "coefficient " << i << "," << j;
            const bool touched_by_nan = std::isnan(c) || std::isnan(run.coef[std::min(i + 1, 5u) + 6 * j]) ||
                                        std::isnan(run.coef[i + 6 * std::min(j + 1, 4u)]);
            if (touched_by_nan) {
                EXPECT_TRUE(std::isnan(run.work[k])) << i << "," << j;
            } else {
                EXPECT_TRUE(same_bits(unchanged[k], run.work[k])) << i << "," << j;
            }
        }
    EXPECT_TRUE(std::isnan(run.coef[14])) << "the flat pixel";
}

TEST(KernelTest, UniformZeroImageBecomesNaN) {
    KernelRun run(4, 5);
    ASSERT_TRUE(run.filter(std::vector<float>(20, 0.0f), {0, 3, 0, 4}, 1, 0.25f));
    for (float v : run.work) EXPECT_TRUE(std::isnan(v));
}

TEST(KernelTest, UniformImageWithNonzeroVarianceStaysUniform) {
    // Rounding makes sum2 / n - mean * mean nonzero for most values over a
    // large enough region; pick such a value with a plain float computation.
    const uint32_t rows = 9, cols = 7;
    float value = 0.0f;
    for (float candidate = 0.3f; candidate < 3.0f; candidate += 0.07f) {
        const float v = static_cast<float>(std::exp(static_cast<double>(candidate)));
        float sum = 0.0f, sum2 = 0.0f;
        for (uint32_t k = 0; k < rows * cols; ++k) {
            sum += v;
            sum2 += v * v;
        }
        const float n = static_cast<float>(rows * cols), mean = sum / n;
        const float var = sum2 / n - mean * mean;
        if (var != 0.0f && std::isfinite(var / (mean * mean))) {
            value = candidate;
            break;
        }
    }
    ASSERT_NE(value, 0.0f);
    const std::vector<float> source(rows * cols, value);
    KernelRun run(rows, cols);
    ASSERT_TRUE(run.filter(source, {0, 8, 0, 6}, 4, 0.25f));
    EXPECT_TRUE(planes_match(round_trip(source), run.work, rows));
}

TEST(KernelTest, LambdaAboveOneDrivesAPeakNegative) {
    // A bright pixel in a dark neighbourhood with a very noisy reference
    // region: its lower and right neighbours conduct fully, so with lambda
    // large enough its update overshoots below zero and the log is NaN.
    std::vector<float> source(5 * 5, 0.0f);
    source[2 + 5 * 2] = 2.0f;
    source[0] = 7.0f;  // inside the region, making q0 large
    for (float lambda : {0.25f, 3.5f}) {
        KernelRun run(5, 5);
        ASSERT_TRUE(run.filter(source, {0, 4, 0, 1}, 1, lambda));
        EXPECT_TRUE(planes_match(oracle_diffusion(source, 5, 5, {0, 4, 0, 1}, 1, lambda), run.work, 5));
        EXPECT_EQ(std::isnan(run.work[2 + 5 * 2]), lambda > 1.0f) << "lambda " << lambda;
    }
}

TEST(KernelTest, ProgressStepRunsAfterEveryIteration) {
    const std::vector<float> source = random_image(4, 4, 15);
    KernelRun run(4, 4);
    ASSERT_TRUE(run.filter(source, {0, 3, 0, 3}, 5, 0.25f));
    EXPECT_EQ(run.progress_calls, (std::vector<int64_t>{0, 1, 2, 3, 4}));
}

TEST(KernelTest, ProgressStepCanStopTheFilter) {
    const std::vector<float> source = random_image(4, 4, 16);
    KernelRun run(4, 4);
    run.stop_after = 2;
    EXPECT_FALSE(run.filter(source, {0, 3, 0, 3}, 5, 0.25f));
    EXPECT_EQ(run.progress_calls, (std::vector<int64_t>{0, 1, 2}));
}

}  // namespace
