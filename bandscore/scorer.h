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

#include "core_call.h"

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

// The interrupt check is asked once about this much work has been done
// since it was last asked, counting one unit (its unit of work here) for
// each row added to a sum (some 1.5 ns): every 10 to 30 ms.
constexpr uint64_t kScoreWorkBetweenChecks = uint64_t{1} << 24;

// Fills all A * B * cols cells, on the path and threads of `options`; the
// scratch memory of the fast paths comes from options.memory (they fall
// back to the plain loop where it is refused). Requires both checks above
// to pass, A * B * cols < 2^31 and rows * cols < 2^31. Every path gives the
// bits of the plain loop. Ends kInterrupted, with some cells not written,
// where the interrupt check (asked on the calling thread,
// kScoreWorkBetweenChecks) stopped it.
//
// The fast paths write the cells in storage order, carry each top's sum
// from one bottom to the next (the same additions in the same order) and
// take the span term once per span and column. With an interrupt check,
// the team scores the columns in rounds of about kScoreWorkBetweenChecks a
// thread, and the calling thread asks between rounds, with no other
// thread at work.
CoreEnd band_score(const double* image, int32_t rows, int32_t cols, const BandScoreParams& params,
                   double* scores, const CoreOptions& options);

// --- inside the scorer and its tests ------------------------------------------

// The plain loop: every cell summed afresh from its top row, cells visited
// b fastest. It defines every result bit. The interrupt check is asked
// between tops.
CoreEnd score_bands_reference(const double* image, int32_t rows, int32_t cols,
                              const BandScoreParams& params, double* scores,
                              InterruptCheck interrupt = kNoInterruptCheck);

// Candidate row `index` of a run starting at `offset`: the sum truncated
// toward zero. Valid only where candidate_rows_in_range holds.
int32_t candidate_row(int32_t index, double offset);
// The weighted span preference prior_weight * exp(-z*z/2) of a span.
double span_prior(double span, double span_mean, double span_sd, double prior_weight);
