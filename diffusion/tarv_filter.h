// The anisotropic diffusion filter: one call over plain arrays, free of any
// host.
//
// An image is a column-major plane of `rows` x `cols` single-precision log
// intensities, element (i, j) at p[i + rows * j], with rows >= 1, cols >= 1
// and rows * cols < 2^31; a volume is `pages` such planes one after
// another, each filtered as an image of its own. The filter exponentiates
// every pixel, runs the iterations on the working values and takes the
// natural logarithm of each. In every iteration each pixel's conductance
// compares the local coefficient of variation with that of the reference
// region of its page, recomputed from the current working values. A border
// pixel is its own neighbour across the border, so no flux crosses the
// image's edge.
//
// The plain loops (kernel.cpp) define every result bit; the fast paths
// (kernel_fast.cpp) give the same bits on any instruction set and any
// number of threads (a NaN's sign bit aside: it depends on the order of
// operands, which vectors may change).
#pragma once

#include <stdint.h>

#include "core_call.h"

// The reference region of every page: 0-based inclusive bounds (rows below
// `rows`, columns below `cols`) and the caller's count of its pixels. A
// range whose first bound exceeds its last is empty, and every result pixel
// is then NaN once an iteration runs.
struct ReferenceRegion {
    uint32_t first_row;
    uint32_t last_row;
    uint32_t first_col;
    uint32_t last_col;
    uint32_t count;
};

struct FilterSettings {
    ReferenceRegion region;
    int32_t iterations;  // zero or less runs no iteration
    float lambda;        // time step
};

// A caller's view of a running filter, on the calling thread with no worker
// alive, so that it may call into a host that never returns from the call.
// `begin`, where given, runs once the call's memory is in hand, before the
// first pixel is touched; `advance` after every step of `steps`, step
// 0 .. steps - 1 (for an image, step k is the end of iteration k; a
// volume's steps are stretches of iterations of its pages). Either returns
// false to stop the filter there.
struct ProgressStep {
    bool (*begin)(void* context);
    bool (*advance)(void* context, int64_t step, int64_t steps);
    void* context;
};

struct FilterOptions {
    CoreOptions core;
    ProgressStep progress = {nullptr, nullptr, nullptr};
    // The fast paths exponentiate with their own routine (exponential.h),
    // which gives glibc's bits; this asks for the C library's exp instead,
    // as the plain loops take it (for tests and benchmarks).
    bool library_exponential = false;
};

// What the filter's own passes noticed on the way, so that a host can tell
// without another pass over the image whether there is anything to warn of.
struct FilterFindings {
    bool infinite_working_value;  // a pixel exponentiated to +Inf (an input above 88.72 or +Inf)
    bool nan_result;              // a result pixel is NaN
};

// Filters `pages` images of `source` into `result` (same size, not
// overlapping). The interrupt check is asked on the calling thread between
// stretches of about kPixelsBetweenChecks pixel-iterations. `findings`
// may be null. On any end but kCompleted the result holds nothing
// meaningful.
CoreEnd tarv_filter(const float* source, float* result, uint32_t rows, uint32_t cols,
                    uint32_t pages, const FilterSettings& settings, const FilterOptions& options,
                    FilterFindings* findings);

// Pixel-iterations between two questions of the interrupt check: some 5 ms
// of one thread of the fast paths, 30 to 60 ms of the plain loops. An
// iteration is never cut short, and no question follows the last.
constexpr uint64_t kPixelsBetweenChecks = uint64_t{1} << 22;
