// bandscore(top_offset, bottom_offset, image, span_mean, span_sd, top_count,
//           bottom_count, prior_weight, span_min, span_max): the band
// scorer's entry point. It checks the arguments, takes copies of them as
// the scorer always has, creates the (A, B, C) score volume and fills it.
#include "arguments.h"
#include "host_api.h"
#include "scorer.h"

namespace {

enum : int {
    kTopOffset,
    kBottomOffset,
    kImage,
    kSpanMean,
    kSpanSd,
    kTopCount,
    kBottomCount,
    kPriorWeight,
    kSpanMin,
    kSpanMax,
    kInputCount
};

const char* const kArgumentNames[kInputCount] = {
    "top_offset", "bottom_offset", "image",        "span_mean", "span_sd",
    "top_count",  "bottom_count",  "prior_weight", "span_min",  "span_max"};

bool is_scalar_slot(int slot) {
    return slot == kTopOffset || slot == kBottomOffset || slot == kTopCount ||
           slot == kBottomCount || slot == kPriorWeight;
}

// A count of candidates: a whole or fractional number from 0 up to but not
// including 2^31, truncated toward zero.
int32_t candidate_count(const mxArray* const prhs[], int slot) {
    const double value = *mxGetPr(prhs[slot]);
    if (!(value >= 0.0 && value < 2147483648.0))
        raise_error("bandscore:count",
                    "argument %d (%s) must be a number from 0 up to 2^31 - 1, was %s", slot + 1,
                    kArgumentNames[slot], number_text(value).text);
    return static_cast<int32_t>(value);
}

BandScoreParams decode_params(const mxArray* const args[], int32_t top_count,
                              int32_t bottom_count) {
    BandScoreParams params{};
    params.top_offset = *mxGetPr(args[kTopOffset]);
    params.bottom_offset = *mxGetPr(args[kBottomOffset]);
    params.top_count = top_count;
    params.bottom_count = bottom_count;
    params.prior_weight = *mxGetPr(args[kPriorWeight]);
    params.span_mean = mxGetPr(args[kSpanMean]);
    params.span_sd = mxGetPr(args[kSpanSd]);
    params.span_min = mxGetPr(args[kSpanMin]);
    params.span_max = mxGetPr(args[kSpanMax]);
    return params;
}

void check_arguments(int nlhs, int nrhs, const mxArray* const prhs[]) {
    if (nrhs < kInputCount)
        raise_error("bandscore:nrhs",
                    "bandscore needs 10 input arguments (top_offset, bottom_offset, image, "
                    "span_mean, span_sd, top_count, bottom_count, prior_weight, span_min, "
                    "span_max), got %d",
                    nrhs);
    if (nlhs > 1)
        raise_error("bandscore:nlhs", "bandscore returns one output, %d were requested", nlhs);
    for (int slot = 0; slot < kInputCount; ++slot) {
        if (mxGetClassID(prhs[slot]) != mxDOUBLE_CLASS || !is_real_full(prhs[slot])) {
            char found[48];
            describe_class(prhs[slot], found, sizeof found);
            raise_error("bandscore:argumentClass",
                        "argument %d (%s) must be a real, non-sparse double array, was %s",
                        slot + 1, kArgumentNames[slot], found);
        }
        if (is_scalar_slot(slot) && mxGetNumberOfElements(prhs[slot]) == 0)
            raise_error("bandscore:emptyArgument", "argument %d (%s) must not be empty",
                        slot + 1, kArgumentNames[slot]);
    }
}

}  // namespace

MEX_ENTRY_POINT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    check_arguments(nlhs, nrhs, prhs);

    const mxArray* image = prhs[kImage];
    if (mxGetNumberOfElements(image) >= 0x80000000u)
        raise_error("bandscore:imageSize",
                    "argument 3 (image) must have fewer than 2^31 elements, has %zu",
                    mxGetNumberOfElements(image));
    // Of an image with more than two dimensions only the first plane counts.
    const int32_t rows = static_cast<int32_t>(host_dimension(image, 0));
    const int32_t cols = static_cast<int32_t>(host_dimension(image, 1));
    // An image of R x C x 0 elements has no first plane, and a row or column
    // count of 2^31 or more (negative here) is outside the 32-bit model.
    if (rows < 0 || cols < 0 ||
        mxGetNumberOfElements(image) < static_cast<size_t>(rows) * static_cast<size_t>(cols))
        raise_error("bandscore:imageSize",
                    "argument 3 (image) must have fewer than 2^31 rows and columns and hold its "
                    "first %u x %u plane, has %zu elements",
                    static_cast<uint32_t>(rows), static_cast<uint32_t>(cols),
                    mxGetNumberOfElements(image));

    const int32_t top_count = candidate_count(prhs, kTopCount);
    const int32_t bottom_count = candidate_count(prhs, kBottomCount);
    // The pair count is below 2^62; comparing it with a quotient keeps the
    // product with the column count from overflowing.
    const int64_t pairs = static_cast<int64_t>(top_count) * bottom_count;
    if (cols > 0 && pairs > INT32_MAX / cols)
        raise_error("bandscore:resultSize",
                    "the result of top_count x bottom_count x image columns = %d x %d x %d must "
                    "have fewer than 2^31 cells",
                    top_count, bottom_count, cols);
    const int column_slots[] = {kSpanMean, kSpanSd, kSpanMin, kSpanMax};
    for (int slot : column_slots) {
        if (mxGetNumberOfElements(prhs[slot]) < static_cast<size_t>(cols))
            raise_error("bandscore:columnCount",
                        "argument %d (%s) must have a value for each of the image's %d columns, "
                        "has %zu",
                        slot + 1, kArgumentNames[slot], cols, mxGetNumberOfElements(prhs[slot]));
    }

    BandScoreParams params = decode_params(prhs, top_count, bottom_count);
    BandPair pair;
    if (!candidate_rows_in_range(cols, params, &pair))
        raise_error("bandscore:offset",
                    "arguments 1 and 2 (top_offset = %s, bottom_offset = %s): every candidate "
                    "row, and every span between them, must lie within the 32-bit integer range",
                    number_text(params.top_offset).text, number_text(params.bottom_offset).text);
    if (!admissible_rows_in_image(rows, cols, params, &pair))
        raise_error("bandscore:rowRange",
                    "in column %d the admissible pair of top row %lld and bottom row %lld "
                    "(0-based) reads outside the image's rows 0..%d; adjust the offsets, counts "
                    "or span limits",
                    pair.column + 1, static_cast<long long>(pair.top_row),
                    static_cast<long long>(pair.bottom_row), rows - 1);

    // The scorer has always read its arguments from copies; the host
    // releases them after the call.
    const mxArray* copies[kInputCount];
    for (int slot = 0; slot < kInputCount; ++slot) copies[slot] = mxDuplicateArray(prhs[slot]);
    params = decode_params(copies, top_count, bottom_count);

    const int32_t dims[3] = {top_count, bottom_count, cols};
    plhs[0] = host_create_double_volume(dims);
    if (plhs[0] == nullptr)
        raise_error("bandscore:outOfMemory", "out of memory for the %d x %d x %d result",
                    dims[0], dims[1], dims[2]);
    score_bands(mxGetPr(copies[kImage]), rows, cols, params, mxGetPr(plhs[0]));
}
