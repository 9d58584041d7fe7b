// TARV_c(image, iterations, lambda, first_row, last_row, first_col,
//        last_col, progress): the anisotropic diffusion filter's entry point.
// It checks and decodes the arguments, creates the result, gives the
// filter the host's allocator, drives the progress bar and gives the
// warnings; the arithmetic is the core's (tarv_filter.h). An image of
// M x N x P is P pages, each filtered as an image of its own.
#include "argument_slots.h"
#include "arguments.h"
#include "filter_diagnosis.h"
#include "host_api.h"
#include "progress_bar.h"
#include "tarv_filter.h"

namespace {

using namespace filter_arguments;

struct FilterArguments {
    const float* source;
    uint32_t rows;
    uint32_t cols;
    uint32_t pages;  // 1 for a matrix
    bool volume;     // given as an array of three dimensions
    FilterSettings params;
    bool show_progress;
    double lambda_argument;  // as passed, for messages
};

// The scalar of argument `slot`: any real numeric or logical class, read
// through the host as a double.
double scalar_argument(const mxArray* const prhs[], int slot) {
    const mxArray* array = prhs[slot];
    if (!is_numeric_or_logical_class(mxGetClassID(array)) || !is_real_full(array)) {
        char found[48];
        describe_class(array, found, sizeof found);
        raise_error("TARV_c:scalarClass",
                    "argument %d (%s) must be a real numeric or logical scalar, was %s",
                    slot + 1, kArgumentNames[slot], found);
    }
    require_one_element(array, slot, kArgumentNames[slot], "TARV_c:emptyArgument",
                        "TARV_c:scalarSize");
    return mxGetScalar(array);
}

// A 1-based region bound, truncated toward zero, must name a row (or
// column) of the image, 1 .. extent; returned 0-based. Bounds of an empty
// image name nothing and are not checked.
uint32_t region_bound(const mxArray* const prhs[], int slot, uint32_t extent) {
    const double value = scalar_argument(prhs, slot);
    if (extent == 0) return 0;
    // Truncation lands in 1 .. extent exactly when 1 <= value < extent + 1.
    if (!(value >= 1.0 && value < static_cast<double>(extent) + 1.0))
        raise_error("TARV_c:region", "argument %d (%s) must lie within 1..%u, was %s", slot + 1,
                    kArgumentNames[slot], extent, number_text(value).text);
    return static_cast<uint32_t>(value) - 1;
}

// The progress flag counts by the low 8 bits of its truncation; a NaN flag
// or one outside the 32-bit range converts to a value whose low 8 bits are
// 0, which is off.
bool progress_flag(double value) { return (truncate_flag(value) & 0xffu) != 0; }

FilterArguments decode_arguments(int nlhs, int nrhs, const mxArray* const prhs[]) {
    if (nrhs < kInputCount) {
        char names[256];
        join_names(kArgumentNames, kInputCount, names, sizeof names);
        raise_error("TARV_c:nrhs", "TARV_c needs %d input arguments (%s), got %d", kInputCount,
                    names, nrhs);
    }
    if (nlhs > 1)
        raise_error("TARV_c:nlhs", "TARV_c returns one output, %d were requested", nlhs);

    const mxArray* image = prhs[kImage];
    if (mxGetClassID(image) != mxSINGLE_CLASS || !is_real_full(image)) {
        char found[48];
        describe_class(image, found, sizeof found);
        raise_error("TARV_c:imageClass",
                    "argument %d (%s) must be a real single-precision matrix of log intensities "
                    "(for an intensity image img: single(log(1 + double(img)))), was %s",
                    kImage + 1, kArgumentNames[kImage], found);
    }
    // A volume's pages are filtered apart; a fourth dimension has no
    // meaning here.
    const int dimensions = host_dimension_count(image);
    if (dimensions > 3)
        raise_error("TARV_c:imageDimensions",
                    "argument %d (%s) must be a matrix or a volume of pages (rows x columns x "
                    "pages), was %s",
                    kImage + 1, kArgumentNames[kImage], size_text(image).text);
    // The rows and the columns of all pages come whole (size_t); the
    // dimension vector, whose entries may be 32 bits wide, splits the
    // columns into pages, and must account for all of them.
    const uint64_t rows = mxGetM(image);
    const uint64_t all_cols = mxGetN(image);
    const uint64_t cols = dimensions == 3 ? static_cast<uint64_t>(host_dimension(image, 1)) : all_cols;
    const uint64_t pages = dimensions == 3 ? static_cast<uint64_t>(host_dimension(image, 2)) : 1;
    // Each product stays below 2^62, so none wraps.
    if (rows >= 0x80000000u || cols >= 0x80000000u || pages >= 0x80000000u ||
        cols * pages != all_cols || rows * cols >= 0x80000000u ||
        rows * cols * pages >= 0x80000000u)
        raise_error("TARV_c:imageSize", "argument %d (%s) must have fewer than 2^31 elements, was %s",
                    kImage + 1, kArgumentNames[kImage], size_text(image).text);

    FilterArguments args{};
    args.source = host_single_data(image);
    args.rows = static_cast<uint32_t>(rows);
    args.cols = static_cast<uint32_t>(cols);
    args.pages = static_cast<uint32_t>(pages);
    args.volume = dimensions == 3;

    const double iterations = scalar_argument(prhs, kIterations);
    if (!truncate_to_int32(iterations, &args.params.iterations))
        raise_error("TARV_c:iterations",
                    "argument %d (%s) must be a finite number within the 32-bit integer range, "
                    "was %s",
                    kIterations + 1, kArgumentNames[kIterations], number_text(iterations).text);
    const double lambda = scalar_argument(prhs, kLambda);
    args.params.lambda = static_cast<float>(lambda);

    ReferenceRegion& region = args.params.region;
    const bool empty = args.rows == 0 || args.cols == 0 || args.pages == 0;
    region.first_row = region_bound(prhs, kFirstRow, empty ? 0 : args.rows);
    region.last_row = region_bound(prhs, kLastRow, empty ? 0 : args.rows);
    region.first_col = region_bound(prhs, kFirstCol, empty ? 0 : args.cols);
    region.last_col = region_bound(prhs, kLastCol, empty ? 0 : args.cols);
    // An inverted range gives a count of 0 or below, which wraps as the
    // unsigned count; the region is then empty and every result pixel NaN.
    region.count = (region.last_col - region.first_col + 1) * (region.last_row - region.first_row + 1);

    args.show_progress = progress_flag(scalar_argument(prhs, kProgress));
    args.lambda_argument = lambda;
    return args;
}

// Steps outside 0 < lambda <= 1 give results a user rarely wants.
void warn_of_lambda(const FilterArguments& args) {
    const float lambda = args.params.lambda;
    if (args.params.iterations <= 0 || args.rows == 0 || args.cols == 0 || args.pages == 0) return;
    const NumberText value = number_text(args.lambda_argument);
    if (lambda != lambda)
        raise_warning("TARV_c:lambda",
                      "argument %d (%s) is NaN: every result pixel will be NaN; 0 < lambda <= "
                      "1 is the useful range, 0.1 to 0.25 typical",
                      kLambda + 1, kArgumentNames[kLambda]);
    else if (lambda <= 0.0f)
        raise_warning("TARV_c:lambda",
                      "argument %d (%s) is %s: a step of 0 leaves the image as it is and a "
                      "negative one sharpens it without bound; 0 < lambda <= 1 is the useful "
                      "range, 0.1 to 0.25 typical",
                      kLambda + 1, kArgumentNames[kLambda], value.text);
    else if (lambda > 1.0f)
        raise_warning("TARV_c:lambda",
                      "argument %d (%s) is %s: steps above 1 can drive pixels below 0, which "
                      "come out NaN; 0 < lambda <= 1 is the useful range, 0.1 to 0.25 typical",
                      kLambda + 1, kArgumentNames[kLambda], value.text);
}

// A result that holds NaN, or an input the filter cannot exponentiate to a
// finite value, gets one warning that says how many pixels, why and what to
// do (filter_diagnosis.h finds the cause). The result stays as the
// arithmetic defines it.
void warn_of_non_finite(const FilterArguments& args, const float* result) {
    const FilterDiagnosis d =
        diagnose_filter(args.source, result, args.rows, args.cols, args.pages, args.params);
    const char* const id = "TARV_c:nonFinite";  // for the message's way to turn it off
    typedef unsigned long long Count;
    const Count pixels = d.pixels, nan_results = d.nan_results, cause_pixels = d.cause_pixels;
    const char* lambda_cause = "lambda is NaN";
    switch (d.cause) {
        case NanCause::kNone: return;
        case NanCause::kExponentialOverflow:
            raise_warning("TARV_c:nonFinite",
                          "%llu of %llu input pixels are above 88.72, where the exponential the "
                          "filter takes overflows single precision, and %llu result pixels are "
                          "NaN: the image looks like intensities rather than log intensities. "
                          "Pass single(log(1 + double(img))) instead. (warning('off', '%s') "
                          "turns this warning off.)",
                          cause_pixels, pixels, nan_results, id);
            return;
        case NanCause::kMinusInfinity:
            raise_warning("TARV_c:nonFinite",
                          "%llu of %llu input pixels are -Inf, the logarithm of a zero "
                          "intensity, and %llu result pixels are NaN (NaN spreads from such a "
                          "pixel with every iteration, and one in the reference region makes "
                          "every pixel NaN). Take the logarithm of 1 + the intensities: "
                          "single(log(1 + double(img))). (warning('off', '%s') turns this "
                          "warning off.)",
                          cause_pixels, pixels, nan_results, id);
            return;
        case NanCause::kNanOrInfinity:
            raise_warning("TARV_c:nonFinite",
                          "%llu of %llu input pixels are NaN or Inf, and %llu result pixels are "
                          "NaN (NaN spreads from such a pixel with every iteration, and one in "
                          "the reference region makes every pixel NaN). Replace them before "
                          "filtering. (warning('off', '%s') turns this warning off.)",
                          cause_pixels, pixels, nan_results, id);
            return;
        case NanCause::kSquareOverflow:
            raise_warning("TARV_c:nonFinite",
                          "%llu of %llu input pixels are 44.36 or above (the largest is %s), and "
                          "%llu result pixels are NaN: the filter squares the exponential of "
                          "each pixel, which overflows single precision from exp(44.36) = 2^64 "
                          "on. The image looks like intensities rather than natural-log "
                          "intensities: pass single(log(1 + double(img))) instead (for decibels "
                          "D: single(D * log(10) / 10)). (warning('off', '%s') turns this "
                          "warning off.)",
                          cause_pixels, pixels, number_text(d.extreme).text, nan_results, id);
            return;
        case NanCause::kSquareUnderflow:
            raise_warning("TARV_c:nonFinite",
                          "%llu of %llu input pixels are -51.99 or below (the smallest is %s), "
                          "and %llu result pixels are NaN: the filter squares the exponential of "
                          "each pixel, which is 0 in single precision from exp(-51.99) = 2^-75 "
                          "down. Shift the log image by a constant c, which only scales the "
                          "intensities: TARV_c(img + c, ...) - c, with img + c above -51.99. "
                          "(warning('off', '%s') turns this warning off.)",
                          cause_pixels, pixels, number_text(d.extreme).text, nan_results, id);
            return;
        case NanCause::kNeighbourSpread:
            raise_warning("TARV_c:nonFinite",
                          "%llu of %llu result pixels are NaN: neighbouring input pixels differ "
                          "by up to %s, and from 42.98 on (a ratio of intensities of 2^62) the "
                          "squares the filter takes of their ratios overflow single precision. "
                          "Natural-log intensities of a real image rarely span so much (log(1 + "
                          "double(img)) of a 16-bit image spans 0 to 11.1): check the image, or "
                          "clip outliers. (warning('off', '%s') turns this warning off.)",
                          nan_results, pixels, number_text(d.extreme).text, id);
            return;
        case NanCause::kRegionEmpty:
        case NanCause::kRegionSinglePixel:
        case NanCause::kRegionFlat:
            raise_warning("TARV_c:nonFinite",
                          "%llu of %llu result pixels are NaN, though every input pixel is a "
                          "finite log intensity: %s. Choose the rows and columns of a "
                          "homogeneous speckle area. (warning('off', '%s') turns this warning "
                          "off.)",
                          nan_results, pixels,
                          d.cause == NanCause::kRegionEmpty
                              ? "the reference region is empty (its first row or column lies "
                                "after its last)"
                          : d.cause == NanCause::kRegionSinglePixel
                              ? "the reference region is a single pixel, whose variance is 0"
                              : "the reference region is flat (every pixel the same), so its "
                                "variance is 0",
                          id);
            return;
        case NanCause::kLambdaNegative:
            lambda_cause = "a negative lambda sharpened the image without bound until its "
                           "values overflowed";
            [[fallthrough]];
        case NanCause::kLambdaAboveOne:
            if (d.cause == NanCause::kLambdaAboveOne) lambda_cause = "a lambda above 1 drove pixels below 0";
            [[fallthrough]];
        case NanCause::kLambdaNaN:
            raise_warning("TARV_c:nonFinite",
                          "%llu of %llu result pixels are NaN, though every input pixel is a "
                          "finite log intensity: %s. Choose 0 < lambda <= 1. (warning('off', "
                          "'%s') turns this warning off.)",
                          nan_results, pixels, lambda_cause, id);
            return;
        case NanCause::kWorkingRange:
            raise_warning("TARV_c:nonFinite",
                          "%llu of %llu result pixels are NaN, though every input pixel is a "
                          "finite log intensity within -51.99 .. 44.36, neighbours differ by "
                          "less than 42.98, the reference region varies and 0 <= lambda <= 1: a "
                          "working value left the range of single precision during the "
                          "iterations. Fewer iterations or a smaller lambda may avoid it. "
                          "(warning('off', '%s') turns this warning off.)",
                          nan_results, pixels, id);
            return;
    }
}

// The filter's memory comes from the host's allocator: a host that leaves
// the call early (an error raised while it allocates, an interrupt in the
// progress bar) frees it itself.
void* host_allocate(void*, size_t bytes) { return mxMalloc(bytes); }
void host_release(void*, void* block) { mxFree(block); }

bool open_bar_step(void* bar) { return open_bar(static_cast<ProgressBar*>(bar)); }

bool advance_bar_step(void* bar, int64_t step, int64_t steps) {
    return advance_bar(static_cast<ProgressBar*>(bar), step, steps);
}

}  // namespace

MEX_ENTRY_POINT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    const FilterArguments args = decode_arguments(nlhs, nrhs, prhs);
    warn_of_lambda(args);

    // Every host array the call needs exists before its first scratch
    // block: a host whose creation functions raise an error when out of
    // memory then leaves nothing of ours behind.
    if (args.volume) {
        const int32_t dims[3] = {static_cast<int32_t>(args.rows), static_cast<int32_t>(args.cols),
                                 static_cast<int32_t>(args.pages)};
        plhs[0] = host_create_numeric_volume(dims, mxSINGLE_CLASS);
        if (plhs[0] == nullptr)
            raise_error("TARV_c:outOfMemory", "out of memory for the %u x %u x %u result",
                        args.rows, args.cols, args.pages);
    } else {
        plhs[0] = mxCreateNumericMatrix(static_cast<int>(args.rows), static_cast<int>(args.cols),
                                        mxSINGLE_CLASS, mxREAL);
        if (plhs[0] == nullptr)
            raise_error("TARV_c:outOfMemory", "out of memory for the %u x %u result", args.rows,
                        args.cols);
    }
    if (args.rows == 0 || args.cols == 0 || args.pages == 0) return;
    ProgressBar bar{};
    if (args.show_progress && !create_bar(&bar)) {
        close_bar(&bar);
        mxDestroyArray(plhs[0]);
        plhs[0] = nullptr;
        raise_error("TARV_c:outOfMemory", "out of memory for the progress bar");
    }

    HostInterruptQuery query = host_interrupt_query();
    FilterOptions options;
    options.core.interrupt = host_interrupt_check(&query);
    options.core.memory = {host_allocate, host_release, nullptr};
    if (args.show_progress) options.progress = {open_bar_step, advance_bar_step, &bar};
    float* work = host_single_data(plhs[0]);
    FilterFindings findings{};
    const CoreEnd end =
        tarv_filter(args.source, work, args.rows, args.cols, args.pages, args.params, options,
                    &findings);

    close_bar(&bar);
    if (end != CoreEnd::kCompleted) {
        mxDestroyArray(plhs[0]);
        plhs[0] = nullptr;
        if (end == CoreEnd::kOutOfMemory)
            raise_error("TARV_c:outOfMemory",
                        "out of memory for the scratch planes of a %u x %u image", args.rows,
                        args.cols);
        if (end == CoreEnd::kInterrupted)
            host_leave_interrupted("TARV_c:interrupted",
                                   "interrupted by the user (Ctrl-C); TARV_c returns no result");
        raise_error("TARV_c:cancelled",
                    "the progress bar could not be shown (was its window closed?); filtering "
                    "cancelled");
    }
    if (findings.infinite_working_value || findings.nan_result) warn_of_non_finite(args, work);
}
