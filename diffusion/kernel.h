// Inside the filter (tarv_filter.h): the plain loops, which define every
// result bit, and the steps the fast paths share with them. For the
// filter's own files and its tests.
#pragma once

#include <stdint.h>

#include "tarv_filter.h"

// Neighbour tables: row_up and row_down have `rows` entries, col_left and
// col_right have `cols` entries. build_neighbour_tables makes a border
// pixel its own neighbour across the border, so its difference to it is 0;
// the pixel loops themselves contain no border tests.
struct NeighbourTables {
    int32_t* row_up;
    int32_t* row_down;
    int32_t* col_left;
    int32_t* col_right;
};

// The plain loops' five scratch planes of rows * cols floats, reused for
// every iteration.
struct DiffusionScratch {
    float* d_up;
    float* d_down;
    float* d_left;
    float* d_right;
    float* coef;
};

// The conductance as stored: below 0 becomes +0, above 1 becomes 1. NaN
// fails both tests and is kept, and so is -0.
inline float clamp_coefficient(float c) { return c < 0.0f ? 0.0f : (c > 1.0f ? 1.0f : c); }

void build_neighbour_tables(uint32_t rows, uint32_t cols, const NeighbourTables& tables);

// Where a page's iterations stand among the steps a progress step is told.
struct PageSteps {
    ProgressStep progress;
    int64_t first;  // the step of the page's first iteration
    int64_t steps;  // of the whole call
};

// The plain loops on one image: exponentiate `source` into `work` with the
// C library's exp, run the iterations through the scratch planes (two
// passes each), take the logarithm. The progress step runs after every
// iteration; `poll`, where given, is asked after every iteration but the
// last. `findings`, where given, gains what this page shows.
CoreEnd diffuse_reference(const float* source, float* work, uint32_t rows, uint32_t cols,
                          const NeighbourTables& tables, const DiffusionScratch& scratch,
                          const FilterSettings& settings, const PageSteps& steps,
                          InterruptPoll* poll, FilterFindings* findings);

// tarv_filter on the plain loops, page after page, with scratch memory
// from the options.
CoreEnd filter_plain(const float* source, float* result, uint32_t rows, uint32_t cols,
                     uint32_t pages, const FilterSettings& settings, const FilterOptions& options,
                     FilterFindings* findings);

// q0 of the reference region: the serial row-by-row sum over `work`.
float reference_q0(const float* work, uint32_t rows, const ReferenceRegion& region);
// work[k] = (float) exp((double) source[k]) for begin <= k < end, with the
// C library's exp; true if any is +Inf.
bool exponentiate_pixels(const float* source, float* work, uint32_t begin, uint32_t end);
// The final logarithm of work[k] for begin <= k < end, with the C
// library's; true if any result is NaN.
bool take_logarithms(float* work, uint32_t begin, uint32_t end);
// The call's exponentiation on the path and threads of `options`, for
// k < count: the fast paths' own routine (exponential.h), or
// exponentiate_pixels on one thread for the plain loops.
void exponentiate_with(const CoreOptions& options, const float* source, float* work,
                       uint32_t count);
