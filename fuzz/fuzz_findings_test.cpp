// Faults the fuzz targets found, each as a plain call through the test host
// with the built plug-in. Their fuzz inputs are kept in regressions/ too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_host.h"

namespace {

class BandscoreFindings : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        plugin = testhost::load_plugin(BANDSCORE_PLUGIN_PATH, &error);
        ASSERT_NE(plugin.entry, nullptr) << error;
    }

    // bandscore(0, 0, image, 1, 1, top_count, bottom_count, 1, span_min,
    // span_max), every per-column array of `cols` values, must raise
    // `error_id` and leave nothing behind.
    void expect_refused(mxArray* image, size_t cols, double top_count, double bottom_count,
                        double span_min, double span_max, const char* error_id) {
        auto per_column = [cols](double value) {
            return testhost::make_double({1, cols}, std::vector<double>(cols, value));
        };
        std::vector<mxArray*> inputs = {
            testhost::make_scalar(0),            testhost::make_scalar(0),
            image,                               per_column(1),
            per_column(1),                       testhost::make_scalar(top_count),
            testhost::make_scalar(bottom_count), testhost::make_scalar(1),
            per_column(span_min),                per_column(span_max)};
        const testhost::CallResult result = testhost::call(plugin, 1, inputs);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error_id, error_id);
        EXPECT_EQ(result.leftover_arrays, 0u);
        EXPECT_TRUE(result.inputs_unchanged);
        for (mxArray* input : inputs) mxDestroyArray(input);
    }

    testhost::Plugin plugin;
};

// Candidate counts of 2^31 - 1 each: the cell count of the result,
// (2^31 - 1)^2 x columns, overflowed 64 bits in the size check; with four
// columns it wrapped to a negative number and the call went on to create a
// result far beyond 2^31 cells.
TEST_F(BandscoreFindings, HugeCountsAreRefusedForAnyColumnCount) {
    for (size_t cols : {1, 2, 3, 4, 5, 8}) {
        SCOPED_TRACE(cols);
        expect_refused(testhost::make_double({3, cols}, {}), cols, 2147483647.0, 2147483647.0, 1,
                       0, "bandscore:resultSize");
    }
}

// Images of no pages: 5 x 2 x 0 elements, where admissible pairs were
// scored from absent data, and 2^31 x 2 x 0, whose row count is negative as
// a 32-bit entry and overflowed the arithmetic of the error message about
// rows outside the image. Now every image of more than two dimensions is
// refused.
TEST_F(BandscoreFindings, ImageWithoutPagesIsRefused) {
    for (size_t rows : {size_t{5}, size_t{1} << 31}) {
        SCOPED_TRACE(rows);
        expect_refused(testhost::make_array(mxDOUBLE_CLASS, {rows, 2, 0}), 2, 2, 2, 0, 5,
                       "bandscore:imageDimensions");
    }
}

}  // namespace
