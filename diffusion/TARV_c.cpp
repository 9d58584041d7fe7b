// TARV_c(image, iterations, lambda, first_row, last_row, first_col,
//        last_col, progress): the anisotropic diffusion filter's entry point.
// It checks and decodes the arguments, creates the result, owns the
// scratch memory and drives the progress bar; the arithmetic is the
// kernel's.
#include <stdlib.h>

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
    if (nrhs < kInputCount)
        raise_error("TARV_c:nrhs",
                    "TARV_c needs 8 input arguments (image, iterations, lambda, first row, last "
                    "row, first column, last column, progress flag), got %d",
                    nrhs);
    if (nlhs > 1)
        raise_error("TARV_c:nlhs", "TARV_c returns one output, %d were requested", nlhs);

    const mxArray* image = prhs[kImage];
    if (mxGetClassID(image) != mxSINGLE_CLASS || !is_real_full(image)) {
        char found[48];
        describe_class(image, found, sizeof found);
        raise_error("TARV_c:imageClass",
                    "argument 1 (image) must be a real single-precision matrix, was %s", found);
    }
    const size_t rows = mxGetM(image);
    const size_t cols = mxGetN(image);
    if (rows >= 0x80000000u || cols >= 0x80000000u ||
        static_cast<uint64_t>(rows) * cols >= 0x80000000u)
        raise_error("TARV_c:imageSize",
                    "argument 1 (image) must have fewer than 2^31 elements, was %zu x %zu", rows,
                    cols);

    FilterArguments args{};
    args.source = host_single_data(image);
    args.rows = static_cast<uint32_t>(rows);
    args.cols = static_cast<uint32_t>(cols);

    const double iterations = scalar_argument(prhs, kIterations);
    if (!truncate_to_int32(iterations, &args.params.iterations))
        raise_error("TARV_c:iterations",
                    "argument 2 (iterations) must be a finite number within the 32-bit integer "
                    "range, was %s",
                    number_text(iterations).text);
    args.params.lambda = static_cast<float>(scalar_argument(prhs, kLambda));

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
    return args;
}

// The neighbour tables and scratch planes of one call, allocated in this
// order and freed in the same order.
struct CallMemory {
    NeighbourTables tables;
    DiffusionScratch scratch;
};

void free_call_memory(CallMemory* memory) {
    free(memory->tables.row_up);
    free(memory->tables.row_down);
    free(memory->tables.col_left);
    free(memory->tables.col_right);
    free(memory->scratch.d_up);
    free(memory->scratch.d_down);
    free(memory->scratch.d_left);
    free(memory->scratch.d_right);
    free(memory->scratch.coef);
    *memory = CallMemory{};
}

bool allocate_call_memory(uint32_t rows, uint32_t cols, CallMemory* memory) {
    const size_t plane = sizeof(float) * rows * static_cast<size_t>(cols);
    *memory = CallMemory{};
    memory->tables.row_up = static_cast<int32_t*>(malloc(sizeof(int32_t) * rows));
    memory->tables.row_down = static_cast<int32_t*>(malloc(sizeof(int32_t) * rows));
    memory->tables.col_left = static_cast<int32_t*>(malloc(sizeof(int32_t) * cols));
    memory->tables.col_right = static_cast<int32_t*>(malloc(sizeof(int32_t) * cols));
    memory->scratch.d_up = static_cast<float*>(malloc(plane));
    memory->scratch.d_down = static_cast<float*>(malloc(plane));
    memory->scratch.d_left = static_cast<float*>(malloc(plane));
    memory->scratch.d_right = static_cast<float*>(malloc(plane));
    memory->scratch.coef = static_cast<float*>(malloc(plane));
    const bool complete = memory->tables.row_up && memory->tables.row_down &&
                          memory->tables.col_left && memory->tables.col_right &&
                          memory->scratch.d_up && memory->scratch.d_down &&
                          memory->scratch.d_left && memory->scratch.d_right &&
                          memory->scratch.coef;
    if (!complete) free_call_memory(memory);
    return complete;
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

    // The result exists before any scratch memory, so a host that fails to
    // create it cannot strand our allocations.
    plhs[0] = mxCreateNumericMatrix(static_cast<int>(args.rows), static_cast<int>(args.cols),
                                    mxSINGLE_CLASS, mxREAL);
    if (plhs[0] == nullptr)
        raise_error("TARV_c:outOfMemory", "out of memory for the %u x %u result", args.rows,
                    args.cols);
    if (args.rows == 0 || args.cols == 0) return;

    CallMemory memory;
    if (!allocate_call_memory(args.rows, args.cols, &memory)) {
        mxDestroyArray(plhs[0]);
        plhs[0] = nullptr;
        raise_error("TARV_c:outOfMemory", "out of memory for the scratch planes of a %u x %u image",
                    args.rows, args.cols);
    }
    build_neighbour_tables(args.rows, args.cols, memory.tables);
    float* work = host_single_data(plhs[0]);

    ProgressBar bar{};
    BarStep bar_step{&bar, args.params.iterations};
    ProgressStep progress{nullptr, nullptr};
    bool completed = true;
    if (args.show_progress) {
        progress = ProgressStep{advance_bar_step, &bar_step};
        completed = open_bar(&bar);
    }
    if (completed)
        completed = diffuse(args.source, work, args.rows, args.cols, memory.tables,
                            memory.scratch, args.params, progress);

    free_call_memory(&memory);
    if (args.show_progress) close_bar(&bar);
    if (!completed) {
        mxDestroyArray(plhs[0]);
        plhs[0] = nullptr;
        raise_error("TARV_c:cancelled",
                    "the progress bar could not be shown (was its window closed?); filtering "
                    "cancelled");
    }
}
