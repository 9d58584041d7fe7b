// The C interface of tarvbandscore.h over both cores: its checks keep a
// call inside its arrays, its adapters turn the callbacks into the cores'
// interrupt check and progress step. Scratch memory comes from the C
// library's heap and is given back before each call returns.
#include "tarvbandscore.h"

#include "filter_diagnosis.h"
#include "scorer.h"
#include "tarv_filter.h"
#include "worker_team.h"

// The causes' numbers are the core's.
constexpr bool same_cause(int number, NanCause cause) { return number == static_cast<int>(cause); }
static_assert(same_cause(TBS_CAUSE_NONE, NanCause::kNone) &&
                  same_cause(TBS_CAUSE_EXPONENTIAL_OVERFLOW, NanCause::kExponentialOverflow) &&
                  same_cause(TBS_CAUSE_MINUS_INFINITY, NanCause::kMinusInfinity) &&
                  same_cause(TBS_CAUSE_NAN_OR_INFINITY, NanCause::kNanOrInfinity) &&
                  same_cause(TBS_CAUSE_SQUARE_OVERFLOW, NanCause::kSquareOverflow) &&
                  same_cause(TBS_CAUSE_SQUARE_UNDERFLOW, NanCause::kSquareUnderflow) &&
                  same_cause(TBS_CAUSE_NEIGHBOUR_SPREAD, NanCause::kNeighbourSpread) &&
                  same_cause(TBS_CAUSE_REGION_EMPTY, NanCause::kRegionEmpty) &&
                  same_cause(TBS_CAUSE_REGION_SINGLE_PIXEL, NanCause::kRegionSinglePixel) &&
                  same_cause(TBS_CAUSE_REGION_FLAT, NanCause::kRegionFlat) &&
                  same_cause(TBS_CAUSE_LAMBDA_NAN, NanCause::kLambdaNaN) &&
                  same_cause(TBS_CAUSE_LAMBDA_NEGATIVE, NanCause::kLambdaNegative) &&
                  same_cause(TBS_CAUSE_LAMBDA_ABOVE_ONE, NanCause::kLambdaAboveOne) &&
                  same_cause(TBS_CAUSE_WORKING_RANGE, NanCause::kWorkingRange),
              "the TBS_CAUSE_ numbers are NanCause's");

namespace {

constexpr uint64_t kMostElements = uint64_t{1} << 31;

int32_t status_of(CoreEnd end) {
    switch (end) {
        case CoreEnd::kCompleted: return TBS_COMPLETED;
        case CoreEnd::kCancelled: return TBS_CANCELLED;
        case CoreEnd::kInterrupted: return TBS_INTERRUPTED;
        case CoreEnd::kOutOfMemory: return TBS_OUT_OF_MEMORY;
    }
    return TBS_INVALID;
}

bool interrupt_pending(void* callbacks) {
    const TbsCallbacks* c = static_cast<const TbsCallbacks*>(callbacks);
    return c->interrupt_pending(c->context) != 0;
}

bool progress_begin(void* callbacks) {
    const TbsCallbacks* c = static_cast<const TbsCallbacks*>(callbacks);
    return c->progress_begin(c->context) != 0;
}

bool progress_advance(void* callbacks, int64_t step, int64_t steps) {
    const TbsCallbacks* c = static_cast<const TbsCallbacks*>(callbacks);
    return c->progress_advance(c->context, step, steps) != 0;
}

InterruptCheck interrupt_check(const TbsCallbacks* callbacks) {
    if (callbacks == nullptr || callbacks->interrupt_pending == nullptr) return kNoInterruptCheck;
    return {interrupt_pending, const_cast<TbsCallbacks*>(callbacks), 0};
}

// The filter's settings, or false where the sizes or the region are out of
// range. Zero extents pass.
bool filter_settings(uint32_t rows, uint32_t cols, uint32_t pages, int32_t iterations,
                     float lambda, const TbsRegion* region, FilterSettings* settings) {
    if (region == nullptr) return false;
    const uint64_t plane = uint64_t{rows} * cols;
    if (plane >= kMostElements || plane * pages >= kMostElements) return false;
    if (rows == 0 || cols == 0 || pages == 0) return true;
    if (!(region->first_row <= region->last_row && region->last_row < rows &&
          region->first_col <= region->last_col && region->last_col < cols))
        return false;
    settings->region = {region->first_row, region->last_row, region->first_col, region->last_col,
                        (region->last_row - region->first_row + 1) *
                            (region->last_col - region->first_col + 1)};
    settings->iterations = iterations;
    settings->lambda = lambda;
    return true;
}

BandScoreParams score_params(const TbsBands& bands) {
    return {bands.top_offset, bands.bottom_offset, bands.top_count, bands.bottom_count,
            bands.prior_weight, bands.span_mean, bands.span_sd, bands.span_min, bands.span_max};
}

}  // namespace

extern "C" {

int32_t tarvbandscore_filter(const float* source, float* result, uint32_t rows, uint32_t cols,
                             uint32_t pages, int32_t iterations, float lambda,
                             const TbsRegion* region, int32_t threads,
                             const TbsCallbacks* callbacks, TbsFindings* findings) {
    FilterSettings settings{};
    if (!filter_settings(rows, cols, pages, iterations, lambda, region, &settings))
        return TBS_INVALID;
    if (findings != nullptr) *findings = {0, 0};
    if (rows == 0 || cols == 0 || pages == 0) return TBS_COMPLETED;
    FilterOptions options;
    options.core.threads = threads;
    options.core.interrupt = interrupt_check(callbacks);
    options.core.memory = heap_memory();
    if (callbacks != nullptr && callbacks->progress_advance != nullptr)
        options.progress = {callbacks->progress_begin != nullptr ? progress_begin : nullptr,
                            progress_advance, const_cast<TbsCallbacks*>(callbacks)};
    FilterFindings found{};
    const CoreEnd end =
        tarv_filter(source, result, rows, cols, pages, settings, options, &found);
    if (findings != nullptr)
        *findings = {found.infinite_working_value ? 1 : 0, found.nan_result ? 1 : 0};
    return status_of(end);
}

int32_t tarvbandscore_diagnose_filter(const float* source, const float* result, uint32_t rows,
                                      uint32_t cols, uint32_t pages, int32_t iterations,
                                      float lambda, const TbsRegion* region,
                                      TbsDiagnosis* diagnosis) {
    FilterSettings settings{};
    if (diagnosis == nullptr ||
        !filter_settings(rows, cols, pages, iterations, lambda, region, &settings))
        return TBS_INVALID;
    *diagnosis = {TBS_CAUSE_NONE, 0.0f, uint64_t{rows} * cols * pages, 0, 0};
    if (rows == 0 || cols == 0 || pages == 0) return TBS_COMPLETED;
    const FilterDiagnosis d = diagnose_filter(source, result, rows, cols, pages, settings);
    *diagnosis = {static_cast<int32_t>(d.cause), d.extreme, d.pixels, d.nan_results,
                  d.cause_pixels};
    return TBS_COMPLETED;
}

int32_t tarvbandscore_check_bands(int32_t rows, int32_t cols, const TbsBands* bands,
                                  TbsBandPair* offending) {
    if (bands == nullptr || rows < 0 || cols < 0 || bands->top_count < 0 ||
        bands->bottom_count < 0)
        return TBS_INVALID;
    const BandScoreParams params = score_params(*bands);
    BandPair pair{};
    if (!candidate_rows_in_range(cols, params, &pair)) return TBS_BANDS_BEYOND_32_BITS;
    if (!admissible_rows_in_image(rows, cols, params, &pair)) {
        if (offending != nullptr)
            *offending = {pair.column, pair.top_index, pair.bottom_index, 0, pair.top_row,
                          pair.bottom_row};
        return TBS_BANDS_OUTSIDE_IMAGE;
    }
    return TBS_BANDS_VALID;
}

int32_t tarvbandscore_band_score(const double* image, int32_t rows, int32_t cols,
                                 const TbsBands* bands, double* scores, int32_t threads,
                                 const TbsCallbacks* callbacks) {
    if (tarvbandscore_check_bands(rows, cols, bands, nullptr) != TBS_BANDS_VALID)
        return TBS_INVALID;
    // The pair count is below 2^62; comparing it with a quotient keeps the
    // product with the column count from overflowing.
    const uint64_t pairs = uint64_t(bands->top_count) * uint64_t(bands->bottom_count);
    if (uint64_t(rows) * uint64_t(cols) >= kMostElements ||
        (cols > 0 && pairs > uint64_t{INT32_MAX} / uint64_t(cols)))
        return TBS_INVALID;
    CoreOptions options;
    options.threads = threads;
    options.interrupt = interrupt_check(callbacks);
    options.memory = heap_memory();
    return status_of(band_score(image, rows, cols, score_params(*bands), scores, options));
}

uint64_t tarvbandscore_threads_started(void) { return worker_threads_started(); }

int32_t tarvbandscore_processors_allowed(void) { return processors_allowed(); }

int32_t tarvbandscore_api_version(void) { return TARVBANDSCORE_API_VERSION; }

}  // extern "C"
