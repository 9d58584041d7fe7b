#include "filter_diagnosis.h"

namespace {

// What the input holds that the filter's arithmetic cannot carry.
struct InputSurvey {
    uint64_t exp_overflow = 0;     // above kLargestLogIntensity
    uint64_t square_overflow = 0;  // kSquareOverflowLog and above (those above included)
    uint64_t square_underflow = 0;
    uint64_t minus_infinite = 0;
    uint64_t nan_or_infinite = 0;  // NaN or +Inf
    float largest = -__builtin_inff();  // of the finite pixels
    float smallest = __builtin_inff();
    float widest_step = 0.0f;  // between finite neighbours of a page
};

bool finite(float x) { return x - x == 0.0f; }

void survey_page(const float* source, uint32_t rows, uint32_t cols, InputSurvey* survey) {
    for (uint32_t j = 0; j < cols; ++j) {
        for (uint32_t i = 0; i < rows; ++i) {
            const uint32_t k = i + rows * j;
            const float x = source[k];
            if (!finite(x)) {
                if (x == -__builtin_inff()) ++survey->minus_infinite;
                else ++survey->nan_or_infinite;
                continue;
            }
            survey->exp_overflow += x > kLargestLogIntensity;
            survey->square_overflow += x >= kSquareOverflowLog;
            survey->square_underflow += x <= kSquareUnderflowLog;
            if (x > survey->largest) survey->largest = x;
            if (x < survey->smallest) survey->smallest = x;
            const float neighbours[2] = {i + 1 < rows ? source[k + 1] : x,
                                         j + 1 < cols ? source[k + rows] : x};
            for (float neighbour : neighbours) {
                const float step = neighbour > x ? neighbour - x : x - neighbour;
                if (finite(neighbour) && step > survey->widest_step) survey->widest_step = step;
            }
        }
    }
}

// Whether every pixel of the page's reference region is the same.
bool flat_region(const float* source, uint32_t rows, const ReferenceRegion& region) {
    const float first = source[region.first_row + rows * region.first_col];
    for (uint32_t j = region.first_col; j <= region.last_col; ++j)
        for (uint32_t i = region.first_row; i <= region.last_row; ++i)
            if (!(source[i + rows * j] == first)) return false;
    return true;
}

NanCause region_cause(const float* source, uint32_t rows, uint32_t cols, uint32_t pages,
                      const ReferenceRegion& region) {
    if (region.first_row > region.last_row || region.first_col > region.last_col)
        return NanCause::kRegionEmpty;
    if (region.count == 1) return NanCause::kRegionSinglePixel;
    const size_t plane = static_cast<size_t>(rows) * cols;
    for (uint32_t page = 0; page < pages; ++page)
        if (flat_region(source + plane * page, rows, region)) return NanCause::kRegionFlat;
    return NanCause::kNone;
}

}  // namespace

FilterDiagnosis diagnose_filter(const float* source, const float* result, uint32_t rows,
                                uint32_t cols, uint32_t pages, const FilterSettings& settings) {
    const size_t plane = static_cast<size_t>(rows) * cols;
    FilterDiagnosis diagnosis{NanCause::kNone, plane * pages, 0, 0, 0.0f};
    for (size_t k = 0; k < diagnosis.pixels; ++k) diagnosis.nan_results += result[k] != result[k];
    InputSurvey in;
    for (uint32_t page = 0; page < pages; ++page) survey_page(source + plane * page, rows, cols, &in);
    if (in.exp_overflow == 0 && diagnosis.nan_results == 0) return diagnosis;

    const float lambda = settings.lambda;
    NanCause region = NanCause::kNone;
    if (in.exp_overflow != 0) {
        diagnosis.cause = NanCause::kExponentialOverflow;
        diagnosis.cause_pixels = in.exp_overflow;
    } else if (in.minus_infinite != 0) {
        diagnosis.cause = NanCause::kMinusInfinity;
        diagnosis.cause_pixels = in.minus_infinite;
    } else if (in.nan_or_infinite != 0) {
        diagnosis.cause = NanCause::kNanOrInfinity;
        diagnosis.cause_pixels = in.nan_or_infinite;
    } else if (in.square_overflow != 0) {
        diagnosis.cause = NanCause::kSquareOverflow;
        diagnosis.cause_pixels = in.square_overflow;
        diagnosis.extreme = in.largest;
    } else if (in.square_underflow != 0) {
        diagnosis.cause = NanCause::kSquareUnderflow;
        diagnosis.cause_pixels = in.square_underflow;
        diagnosis.extreme = in.smallest;
    } else if (in.widest_step >= kSpreadLog) {
        diagnosis.cause = NanCause::kNeighbourSpread;
        diagnosis.extreme = in.widest_step;
    } else if ((region = region_cause(source, rows, cols, pages, settings.region)) !=
               NanCause::kNone) {
        diagnosis.cause = region;
    } else if (lambda != lambda) {
        diagnosis.cause = NanCause::kLambdaNaN;
    } else if (lambda < 0.0f) {
        diagnosis.cause = NanCause::kLambdaNegative;
    } else if (lambda > 1.0f) {
        diagnosis.cause = NanCause::kLambdaAboveOne;
    } else {
        diagnosis.cause = NanCause::kWorkingRange;
    }
    return diagnosis;
}
