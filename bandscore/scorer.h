// Band scoring: for every column of an image, a score for every pair of an
// upper candidate row (top) and a lower candidate row (bottom).
//
// The image is column-major with `rows` rows and `cols` columns (element
// (r, c) at image[r + rows * c]); the score volume is column-major with
// extents (top_count, bottom_count, cols), cell (a, b, c) at
// scores[a + A * b + A * B * c].
//
// Top a is the row trunc(a + top_offset) and bottom b the row
// trunc(b + bottom_offset); their span is bottom - top. A pair is admissible
// in column c unless span_min[c] > span or span > span_max[c] (a NaN limit
// never excludes). An admissible pair scores the mean of rows top..bottom
// of the column plus prior_weight * exp(-z*z/2), z = (span - span_mean[c]) /
// span_sd[c]; any other pair gets kInadmissibleScore.
#pragma once

#include <stdint.h>

constexpr double kInadmissibleScore = -999999.0;

struct BandScoreParams {
    double top_offset;
    double bottom_offset;
    int32_t top_count;     // A
    int32_t bottom_count;  // B
    double prior_weight;
    const double* span_mean;  // each per-column array has at least `cols` values
    const double* span_sd;
    const double* span_min;
    const double* span_max;
};

// The first admissible pair found that would read outside the image.
struct BandPair {
    int32_t column;
    int32_t top_index;  // a
    int32_t bottom_index;  // b
    int64_t top_row;
    int64_t bottom_row;
};

// Checks that every top and bottom row, and every span, lies within the
// signed 32-bit range whenever a cell is to be scored. Returns false and the
// offending pair otherwise.
bool candidate_rows_in_range(int32_t cols, const BandScoreParams& params, BandPair* offending);

// Checks, with work of order A + B per column, that every admissible pair
// reads only rows 0 .. rows - 1. Requires candidate_rows_in_range. Returns
// false and the first offending pair otherwise.
bool admissible_rows_in_image(int32_t rows, int32_t cols, const BandScoreParams& params,
                              BandPair* offending);

// Fills all A * B * cols cells. Requires both checks above to pass and
// A * B * cols < 2^31 and rows * cols < 2^31.
void score_bands(const double* image, int32_t rows, int32_t cols, const BandScoreParams& params,
                 double* scores);
