// The anisotropic diffusion kernel: plain functions over raw arrays.
//
// Every plane is column-major with `rows` rows and `cols` columns: element
// (i, j) lies at p[i + rows * j]. The kernel requires rows >= 1, cols >= 1
// and rows * cols < 2^31; index arithmetic is done in 32 bits.
//
// Borders: the neighbour tables make a border pixel its own neighbour
// across the border, so its difference to it is 0 and no flux crosses the
// image edge. The pixel loops themselves contain no border tests.
#pragma once

#include <stdint.h>

#include "fast_paths.h"

// Neighbour tables: row_up and row_down have `rows` entries, col_left and
// col_right have `cols` entries.
struct NeighbourTables {
    int32_t* row_up;
    int32_t* row_down;
    int32_t* col_left;
    int32_t* col_right;
};

// Five scratch planes of rows * cols floats each, owned by the caller and
// reused for every iteration.
struct DiffusionScratch {
    float* d_up;
    float* d_down;
    float* d_left;
    float* d_right;
    float* coef;
};

// The reference region: 0-based inclusive bounds (rows below `rows`,
// columns below `cols`) and the caller's count of its pixels. A range whose
// first bound exceeds its last is empty.
struct ReferenceRegion {
    uint32_t first_row;
    uint32_t last_row;
    uint32_t first_col;
    uint32_t last_col;
    uint32_t count;
};

struct DiffusionParams {
    ReferenceRegion region;
    int32_t iterations;  // zero or less runs no iteration
    float lambda;        // time step
};

// Called after every iteration with its 0-based number; returns false to
// stop the filter there.
struct ProgressStep {
    bool (*advance)(void* context, int32_t iteration);
    void* context;
};

// The conductance as stored: below 0 becomes +0, above 1 becomes 1. NaN
// fails both tests and is kept, and so is -0.
inline float clamp_coefficient(float c) { return c < 0.0f ? 0.0f : (c > 1.0f ? 1.0f : c); }

void build_neighbour_tables(uint32_t rows, uint32_t cols, const NeighbourTables& tables);

// Filters `source` (log intensities) into `work` (same size): exponentiate,
// run the iterations, take the logarithm. `progress.advance` may be null.
// Returns false if the progress step stopped the filter, in which case
// `work` holds no meaningful result. Takes the fastest path this machine
// has (diffuse_with and kAutomaticPath).
bool diffuse(const float* source, float* work, uint32_t rows, uint32_t cols,
             const NeighbourTables& tables, const DiffusionScratch& scratch,
             const DiffusionParams& params, ProgressStep progress);

// The same on the path `choice` names; every path gives the bits of
// diffuse_reference. The progress step always runs on the calling thread.
// The fast paths need the tables as build_neighbour_tables makes them and
// take the plain loops for any other tables. They use the scratch planes
// for a few columns of their own, so the planes hold nothing meaningful
// afterwards.
bool diffuse_with(const PathChoice& choice, const float* source, float* work, uint32_t rows,
                  uint32_t cols, const NeighbourTables& tables, const DiffusionScratch& scratch,
                  const DiffusionParams& params, ProgressStep progress);

// The plain loops: two passes per iteration through the five scratch
// planes. They define every result bit.
bool diffuse_reference(const float* source, float* work, uint32_t rows, uint32_t cols,
                       const NeighbourTables& tables, const DiffusionScratch& scratch,
                       const DiffusionParams& params, ProgressStep progress);

// Steps of the plain loops that the fast paths share.
// q0 of the reference region: the serial row-by-row sum over `work`.
float reference_q0(const float* work, uint32_t rows, const ReferenceRegion& region);
// work[k] = (float) exp((double) source[k]) for begin <= k < end.
void exponentiate_pixels(const float* source, float* work, uint32_t begin, uint32_t end);
// The final logarithm of work[k] for begin <= k < end.
void take_logarithms(float* work, uint32_t begin, uint32_t end);
