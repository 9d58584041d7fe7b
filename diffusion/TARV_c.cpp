// TARV_c(image, iterations, lambda, first_row, last_row, first_col,
//        last_col, progress): the anisotropic diffusion filter's entry point.
// It checks and decodes the arguments, creates the result, owns the
// scratch memory and drives the progress bar; the arithmetic is the
// kernel's.
#include "arguments.h"
#include "host_api.h"
#include "kernel.h"
#include "progress_bar.h"

namespace {

enum : int {
    kImage,
    kIterations,
    kLambda,
    kFirstRow,
    kLastRow,
    kFirstCol,
    kLastCol,
    kProgress,
    kInputCount
};

const char* const kArgumentNames[kInputCount] = {
    "image",           "iterations",  "lambda",      "first row of the region",
    "last row of the region", "first column of the region", "last column of the region",
    "progress flag"};

struct FilterArguments {
    const float* source;
    uint32_t rows;
    uint32_t cols;
    DiffusionParams params;
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
    if (mxGetNumberOfElements(array) == 0)
        raise_error("TARV_c:emptyArgument", "argument %d (%s) must not be empty", slot + 1,
                    kArgumentNames[slot]);
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
    // The filter diffuses across one plane; read as one, a volume's pages
    // would mix across their borders.
    if (host_dimension_count(image) > 2)
        raise_error("TARV_c:imageDimensions",
                    "argument %d (%s) must be a matrix, was an array of %d dimensions; filter a "
                    "volume V page by page: for p = 1:size(V, 3), out(:, :, p) = TARV_c(V(:, :, "
                    "p), ...); end",
                    kImage + 1, kArgumentNames[kImage], host_dimension_count(image));
    const size_t rows = mxGetM(image);
    const size_t cols = mxGetN(image);
    if (rows >= 0x80000000u || cols >= 0x80000000u ||
        static_cast<uint64_t>(rows) * cols >= 0x80000000u)
        raise_error("TARV_c:imageSize",
                    "argument %d (%s) must have fewer than 2^31 elements, was %zu x %zu",
                    kImage + 1, kArgumentNames[kImage], rows, cols);

    FilterArguments args{};
    args.source = host_single_data(image);
    args.rows = static_cast<uint32_t>(rows);
    args.cols = static_cast<uint32_t>(cols);

    const double iterations = scalar_argument(prhs, kIterations);
    if (!truncate_to_int32(iterations, &args.params.iterations))
        raise_error("TARV_c:iterations",
                    "argument %d (%s) must be a finite number within the 32-bit integer range, "
                    "was %s",
                    kIterations + 1, kArgumentNames[kIterations], number_text(iterations).text);
    const double lambda = scalar_argument(prhs, kLambda);
    args.params.lambda = static_cast<float>(lambda);

    ReferenceRegion& region = args.params.region;
    const bool empty = args.rows == 0 || args.cols == 0;
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

// The largest log intensity whose exponential is finite in single
// precision: above it the working value is +Inf and the result NaN.
constexpr float kLargestLogIntensity = 0x1.62e42ep+6f;  // 88.72283

// Steps outside 0 < lambda <= 1 give results a user rarely wants.
void warn_of_lambda(const FilterArguments& args) {
    const float lambda = args.params.lambda;
    if (args.params.iterations <= 0 || args.rows == 0 || args.cols == 0) return;
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
// do. The result stays as the arithmetic defines it.
void warn_of_non_finite(const FilterArguments& args, const float* result) {
    const uint32_t pixels = args.rows * args.cols;
    uint32_t nan_results = 0, too_large = 0, minus_infinite = 0, nan_or_infinite = 0;
    for (uint32_t k = 0; k < pixels; ++k) {
        const float x = args.source[k];
        nan_results += result[k] != result[k];
        if (x == -__builtin_inff()) ++minus_infinite;
        else if (x != x || x == __builtin_inff()) ++nan_or_infinite;
        else if (x > kLargestLogIntensity) ++too_large;
    }
    const char* const id = "TARV_c:nonFinite";  // for the message's way to turn it off
    if (too_large != 0)
        raise_warning("TARV_c:nonFinite",
                      "%u of %u input pixels are above 88.72, where the exponential the filter "
                      "takes overflows single precision, and %u result pixels are NaN: the image "
                      "looks like intensities rather than log intensities. Pass "
                      "single(log(1 + double(img))) instead. (warning('off', '%s') turns this "
                      "warning off.)",
                      too_large, pixels, nan_results, id);
    else if (minus_infinite != 0)
        raise_warning("TARV_c:nonFinite",
                      "%u of %u input pixels are -Inf, the logarithm of a zero intensity, and "
                      "%u result pixels are NaN (NaN spreads from such a pixel with every "
                      "iteration, and one in the reference region makes every pixel NaN). Take "
                      "the logarithm of 1 + the intensities: single(log(1 + double(img))). "
                      "(warning('off', '%s') turns this warning off.)",
                      minus_infinite, pixels, nan_results, id);
    else if (nan_or_infinite != 0)
        raise_warning("TARV_c:nonFinite",
                      "%u of %u input pixels are NaN or Inf, and %u result pixels are NaN "
                      "(NaN spreads from such a pixel with every iteration, and one in the "
                      "reference region makes every pixel NaN). Replace them before filtering. "
                      "(warning('off', '%s') turns this warning off.)",
                      nan_or_infinite, pixels, nan_results, id);
    else if (nan_results != 0)
        raise_warning("TARV_c:nonFinite",
                      "%u of %u result pixels are NaN, though every input pixel is a finite "
                      "log intensity: the reference region gives no usable statistic (a single "
                      "pixel, a flat area or an inverted range), or a lambda above 1 drove pixels "
                      "below 0. Choose the rows and columns of a homogeneous speckle area, and "
                      "0 < lambda <= 1. (warning('off', '%s') turns this warning off.)",
                      nan_results, pixels, id);
}

// The neighbour tables and scratch planes of one call, taken from the
// host's allocator in this order and freed in the same order. A host that
// leaves the call early (an error raised while it allocates, an interrupt
// in the progress bar) frees them itself.
struct CallMemory {
    NeighbourTables tables;
    DiffusionScratch scratch;
};

void free_call_memory(CallMemory* memory) {
    void* const blocks[] = {memory->tables.row_up,   memory->tables.row_down,
                            memory->tables.col_left, memory->tables.col_right,
                            memory->scratch.d_up,    memory->scratch.d_down,
                            memory->scratch.d_left,  memory->scratch.d_right,
                            memory->scratch.coef};
    for (void* block : blocks)
        if (block != nullptr) mxFree(block);
    *memory = CallMemory{};
}

// The five planes hold `scratch_columns` columns of `rows` floats each: the
// whole image for the plain loops, a few columns for the fast paths.
bool allocate_call_memory(uint32_t rows, uint32_t cols, uint32_t scratch_columns,
                          CallMemory* memory) {
    *memory = CallMemory{};
    // Once a block is refused, no more are asked for.
    bool refused = false;
    auto take = [&refused](size_t bytes) -> void* {
        void* block = refused ? nullptr : mxMalloc(bytes);
        refused = block == nullptr;
        return block;
    };
    const size_t row_table = sizeof(int32_t) * rows, col_table = sizeof(int32_t) * cols;
    const size_t plane = sizeof(float) * rows * static_cast<size_t>(scratch_columns);
    NeighbourTables& t = memory->tables;
    t.row_up = static_cast<int32_t*>(take(row_table));
    t.row_down = static_cast<int32_t*>(take(row_table));
    t.col_left = static_cast<int32_t*>(take(col_table));
    t.col_right = static_cast<int32_t*>(take(col_table));
    DiffusionScratch& p = memory->scratch;
    float** const planes[] = {&p.d_up, &p.d_down, &p.d_left, &p.d_right, &p.coef};
    for (float** block : planes) *block = static_cast<float*>(take(plane));
    if (refused) free_call_memory(memory);
    return !refused;
}

struct BarStep {
    ProgressBar* bar;
    int32_t iterations;
};

bool advance_bar_step(void* context, int32_t iteration) {
    const BarStep* step = static_cast<const BarStep*>(context);
    return advance_bar(step->bar, iteration, step->iterations);
}

}  // namespace

MEX_ENTRY_POINT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    const FilterArguments args = decode_arguments(nlhs, nrhs, prhs);
    warn_of_lambda(args);

    // Every host array the call needs exists before its first scratch
    // block: a host whose creation functions raise an error when out of
    // memory then leaves nothing of ours behind.
    plhs[0] = mxCreateNumericMatrix(static_cast<int>(args.rows), static_cast<int>(args.cols),
                                    mxSINGLE_CLASS, mxREAL);
    if (plhs[0] == nullptr)
        raise_error("TARV_c:outOfMemory", "out of memory for the %u x %u result", args.rows,
                    args.cols);
    if (args.rows == 0 || args.cols == 0) return;
    ProgressBar bar{};
    if (args.show_progress && !create_bar(&bar)) {
        close_bar(&bar);
        mxDestroyArray(plhs[0]);
        plhs[0] = nullptr;
        raise_error("TARV_c:outOfMemory", "out of memory for the progress bar");
    }

    const FilterPlan plan = plan_filter(kAutomaticPath, args.rows, args.cols);
    CallMemory memory;
    if (!allocate_call_memory(args.rows, args.cols, plan.scratch_columns, &memory)) {
        close_bar(&bar);
        mxDestroyArray(plhs[0]);
        plhs[0] = nullptr;
        raise_error("TARV_c:outOfMemory", "out of memory for the scratch planes of a %u x %u image",
                    args.rows, args.cols);
    }
    build_neighbour_tables(args.rows, args.cols, memory.tables);
    float* work = host_single_data(plhs[0]);

    BarStep bar_step{&bar, args.params.iterations};
    ProgressStep progress{nullptr, nullptr};
    bool completed = true;
    if (args.show_progress) {
        progress = ProgressStep{advance_bar_step, &bar_step};
        completed = open_bar(&bar);
    }
    if (completed)
        completed = diffuse_planned(plan, args.source, work, args.rows, args.cols, memory.tables,
                                    memory.scratch, args.params, progress);

    free_call_memory(&memory);
    close_bar(&bar);
    if (!completed) {
        mxDestroyArray(plhs[0]);
        plhs[0] = nullptr;
        raise_error("TARV_c:cancelled",
                    "the progress bar could not be shown (was its window closed?); filtering "
                    "cancelled");
    }
    warn_of_non_finite(args, work);
}
