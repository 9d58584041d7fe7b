#include "scorer.h"

#include <math.h>

int32_t candidate_row(int32_t index, double offset) {
    return static_cast<int32_t>(static_cast<double>(index) + offset);
}

double span_prior(double span, double span_mean, double span_sd, double prior_weight) {
    const double z = (span - span_mean) / span_sd;
    const double g = exp(z * z * -0.5);
    return g * prior_weight;
}

namespace {

bool fits_int32(double value) { return value > -2147483649.0 && value < 2147483648.0; }
bool fits_int32(int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }

// The admissibility test as a comparison with each limit; a comparison with
// NaN is false, so a NaN limit excludes nothing.
bool below_limits(double span, double span_min) { return span_min > span; }
bool above_limits(double span, double span_max) { return span > span_max; }

}  // namespace

bool candidate_rows_in_range(int32_t cols, const BandScoreParams& params, BandPair* offending) {
    const int32_t A = params.top_count;
    const int32_t B = params.bottom_count;
    if (A <= 0 || B <= 0 || cols <= 0) return true;
    // Candidate rows grow with their index, so the ends of each run bound it.
    const double first_top = 0.0 + params.top_offset;
    const double last_top = static_cast<double>(A - 1) + params.top_offset;
    const double first_bottom = 0.0 + params.bottom_offset;
    const double last_bottom = static_cast<double>(B - 1) + params.bottom_offset;
    *offending = BandPair{0, 0, 0, 0, 0};
    if (!fits_int32(first_top) || !fits_int32(last_top) || !fits_int32(first_bottom) ||
        !fits_int32(last_bottom))
        return false;
    const int64_t widest = static_cast<int64_t>(candidate_row(B - 1, params.bottom_offset)) -
                           candidate_row(0, params.top_offset);
    const int64_t narrowest = static_cast<int64_t>(candidate_row(0, params.bottom_offset)) -
                              candidate_row(A - 1, params.top_offset);
    return fits_int32(widest) && fits_int32(narrowest);
}

bool admissible_rows_in_image(int32_t rows, int32_t cols, const BandScoreParams& params,
                              BandPair* offending) {
    const int32_t A = params.top_count;
    const int32_t B = params.bottom_count;
    if (A <= 0 || B <= 0) return true;
    for (int32_t c = 0; c < cols; ++c) {
        // For a fixed top the span grows with b, so the pairs that are
        // admissible and read rows (span >= 0) form one run of bottoms
        // [first, last]. A larger top only moves both ends of the run right.
        int32_t first = 0;
        int32_t last = -1;
        for (int32_t a = 0; a < A; ++a) {
            const int32_t top = candidate_row(a, params.top_offset);
            auto span_of = [&](int32_t b) {
                return static_cast<double>(candidate_row(b, params.bottom_offset) - top);
            };
            while (first < B && (span_of(first) < 0.0 || below_limits(span_of(first), params.span_min[c])))
                ++first;
            while (last + 1 < B && !above_limits(span_of(last + 1), params.span_max[c])) ++last;
            if (first > last) continue;
            const int32_t bottom = candidate_row(last, params.bottom_offset);
            if (top < 0 || bottom >= rows) {
                *offending = BandPair{c, a, top < 0 ? first : last, top, bottom};
                return false;
            }
        }
    }
    return true;
}

CoreEnd score_bands_reference(const double* image, int32_t rows, int32_t cols,
                              const BandScoreParams& params, double* scores,
                              InterruptCheck interrupt) {
    const int32_t A = params.top_count;
    const int32_t B = params.bottom_count;
    if (A <= 0 || B <= 0) return CoreEnd::kCompleted;
    InterruptPoll poll(interrupt, kScoreWorkBetweenChecks);
    for (int32_t c = 0; c < cols; ++c) {
        const double* column = image + rows * c;
        for (int32_t a = 0; a < A; ++a) {
            const int32_t top = candidate_row(a, params.top_offset);
            // A cell's span term (its exp) costs about as much as 16 rows.
            uint64_t work = 16 * static_cast<uint64_t>(B);
            for (int32_t b = 0; b < B; ++b) {
                const int32_t bottom = candidate_row(b, params.bottom_offset);
                const int32_t span = bottom - top;
                const double s = static_cast<double>(span);
                double& cell = scores[a + A * b + A * B * c];
                if (below_limits(s, params.span_min[c]) || above_limits(s, params.span_max[c])) {
                    cell = kInadmissibleScore;
                    continue;
                }
                // Summed afresh for every cell, left to right from the top row.
                double sum = 0.0;
                for (int32_t r = top; r <= bottom; ++r) sum = sum + column[r];
                cell = span_prior(s, params.span_mean[c], params.span_sd[c], params.prior_weight) +
                       sum / static_cast<double>(span + 1);
                if (span >= 0) work += static_cast<uint64_t>(span) + 1;
            }
            if (poll.after(work)) return CoreEnd::kInterrupted;
        }
    }
    return CoreEnd::kCompleted;
}
