// bandscore(top_offset, bottom_offset, image, span_mean, span_sd, top_count,
//           bottom_count, prior_weight, span_min, span_max): the band
// scorer's entry point. It checks and decodes the arguments, reads the
// arrays from copies of them, creates the (A, B, C) score volume and fills
// it; the arithmetic is the scorer's.
#include "argument_slots.h"
#include "arguments.h"
#include "host_api.h"
#include "scorer.h"

namespace {

using namespace score_arguments;

struct ScoreArguments {
    int32_t rows;  // R and C of the image
    int32_t cols;
    BandScoreParams params;  // the per-column arrays and the image are read from copies
};

bool is_scalar_slot(int slot) {
    for (int scalar : kScalarSlots)
        if (slot == scalar) return true;
    return false;
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

// The data of the arrays the scorer reads: the image and the per-column
// arrays, from `arrays` (the arguments or their copies).
const double* read_arrays(const mxArray* const arrays[], BandScoreParams* params) {
    params->span_mean = mxGetPr(arrays[kSpanMean]);
    params->span_sd = mxGetPr(arrays[kSpanSd]);
    params->span_min = mxGetPr(arrays[kSpanMin]);
    params->span_max = mxGetPr(arrays[kSpanMax]);
    return mxGetPr(arrays[kImage]);
}

ScoreArguments decode_arguments(int nlhs, int nrhs, const mxArray* const prhs[]) {
    if (nrhs < kInputCount) {
        char names[256];
        join_names(kArgumentNames, kInputCount, names, sizeof names);
        raise_error("bandscore:nrhs", "bandscore needs %d input arguments (%s), got %d",
                    kInputCount, names, nrhs);
    }
    if (nlhs > 1)
        raise_error("bandscore:nlhs", "bandscore returns one output, %d were requested", nlhs);
    for (int slot = 0; slot < kInputCount; ++slot) {
        if (mxGetClassID(prhs[slot]) != mxDOUBLE_CLASS || !is_real_full(prhs[slot])) {
            char found[48];
            describe_class(prhs[slot], found, sizeof found);
            // TARV_c's result is single: the likeliest image of this class.
            const bool single_image = slot == kImage &&
                                      mxGetClassID(prhs[slot]) == mxSINGLE_CLASS &&
                                      is_real_full(prhs[slot]);
            raise_error("bandscore:argumentClass",
                        "argument %d (%s) must be a real, non-sparse double array, was %s%s",
                        slot + 1, kArgumentNames[slot], found,
                        single_image ? "; pass a single image, such as TARV_c's result out, as "
                                       "double(out)"
                                     : "");
        }
        if (is_scalar_slot(slot))
            require_one_element(prhs[slot], slot, kArgumentNames[slot], "bandscore:emptyArgument",
                                "bandscore:scalarSize");
    }

    const mxArray* image = prhs[kImage];
    // The columns of a volume's pages would be scored as one image's.
    if (host_dimension_count(image) > 2)
        raise_error("bandscore:imageDimensions",
                    "argument %d (%s) must be a matrix, was %s; score a volume V page by page: "
                    "for p = 1:size(V, 3), S(:, :, :, p) = bandscore(..., V(:, :, p), ...); end",
                    kImage + 1, kArgumentNames[kImage], size_text(image).text);
    const size_t elements = mxGetNumberOfElements(image);
    const int32_t rows = static_cast<int32_t>(host_dimension(image, 0));
    const int32_t cols = static_cast<int32_t>(host_dimension(image, 1));
    // A row or column count of 2^31 or more (negative here) is outside the
    // 32-bit model.
    if (elements >= 0x80000000u || rows < 0 || cols < 0)
        raise_error("bandscore:imageSize",
                    "argument %d (%s) must have fewer than 2^31 elements, rows and columns, "
                    "has %zu elements",
                    kImage + 1, kArgumentNames[kImage], elements);

    ScoreArguments args{rows, cols, {}};
    BandScoreParams& params = args.params;
    params.top_count = candidate_count(prhs, kTopCount);
    params.bottom_count = candidate_count(prhs, kBottomCount);
    // The pair count is below 2^62; comparing it with a quotient keeps the
    // product with the column count from overflowing.
    const int64_t pairs = static_cast<int64_t>(params.top_count) * params.bottom_count;
    if (cols > 0 && pairs > INT32_MAX / cols)
        raise_error("bandscore:resultSize",
                    "the result of top_count x bottom_count x image columns = %d x %d x %d must "
                    "have fewer than 2^31 cells",
                    params.top_count, params.bottom_count, cols);
    for (int slot : kColumnSlots) {
        if (mxGetNumberOfElements(prhs[slot]) < static_cast<size_t>(cols))
            raise_error("bandscore:columnCount",
                        "argument %d (%s) must have a value for each of the image's %d columns, "
                        "has %zu",
                        slot + 1, kArgumentNames[slot], cols, mxGetNumberOfElements(prhs[slot]));
    }
    params.top_offset = *mxGetPr(prhs[kTopOffset]);
    params.bottom_offset = *mxGetPr(prhs[kBottomOffset]);
    params.prior_weight = *mxGetPr(prhs[kPriorWeight]);
    read_arrays(prhs, &params);

    BandPair pair;
    if (!candidate_rows_in_range(cols, params, &pair))
        raise_error("bandscore:offset",
                    "arguments %d and %d (%s = %s, %s = %s): every candidate row, and every span "
                    "between them, must lie within the 32-bit integer range",
                    kTopOffset + 1, kBottomOffset + 1, kArgumentNames[kTopOffset],
                    number_text(params.top_offset).text, kArgumentNames[kBottomOffset],
                    number_text(params.bottom_offset).text);
    if (!admissible_rows_in_image(rows, cols, params, &pair))
        raise_error("bandscore:rowRange",
                    "in column %d the admissible pair of top row %lld and bottom row %lld "
                    "(0-based) reads outside the image's rows 0..%d; adjust the offsets, counts "
                    "or span limits",
                    pair.column + 1, static_cast<long long>(pair.top_row),
                    static_cast<long long>(pair.bottom_row), rows - 1);
    return args;
}

}  // namespace

MEX_ENTRY_POINT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    ScoreArguments args = decode_arguments(nlhs, nrhs, prhs);

    // The arrays are read from copies of the arguments, which the host
    // releases after the call, also when it ends by an error.
    const mxArray* copies[kInputCount];
    for (int slot = 0; slot < kInputCount; ++slot) {
        copies[slot] = mxDuplicateArray(prhs[slot]);
        if (copies[slot] == nullptr)
            raise_error("bandscore:outOfMemory", "out of memory for a copy of argument %d (%s)",
                        slot + 1, kArgumentNames[slot]);
    }
    const double* image = read_arrays(copies, &args.params);

    const int32_t dims[3] = {args.params.top_count, args.params.bottom_count, args.cols};
    plhs[0] = host_create_numeric_volume(dims, mxDOUBLE_CLASS);
    if (plhs[0] == nullptr)
        raise_error("bandscore:outOfMemory", "out of memory for the %d x %d x %d result",
                    dims[0], dims[1], dims[2]);
    HostInterruptQuery query = host_interrupt_query();
    CoreOptions options;
    options.interrupt = host_interrupt_check(&query);
    options.memory = heap_memory();
    if (band_score(image, args.rows, args.cols, args.params, mxGetPr(plhs[0]), options) !=
        CoreEnd::kCompleted) {
        mxDestroyArray(plhs[0]);
        plhs[0] = nullptr;
        host_leave_interrupted("bandscore:interrupted",
                               "interrupted by the user (Ctrl-C); bandscore returns no result");
    }
}
