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

#include "instruction_sets.h"
#include "interrupt_check.h"

// Neighbour tables: row_up and row_down have `rows` entries, col_left and
// col_right have `cols` entries.
struct NeighbourTables {
    int32_t* row_up;
    int32_t* row_down;
    int32_t* col_left;
    int32_t* col_right;
};

// Five scratch planes, owned by the caller and reused for every iteration:
// rows * cols floats each for the plain loops, or the columns of `rows`
// floats that a FilterPlan names.
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

// How a filter run ended.
enum class FilterEnd {
    kCompleted,    // `work` holds the result
    kCancelled,    // the progress step stopped it; `work` holds no meaningful result
    kInterrupted,  // the interrupt check stopped it; likewise
};

// The interrupt check is asked between two iterations once this many
// pixel-iterations (its unit of work here) have run since it was last
// asked, so after every iteration of an image of this size or more: some
// 5 ms of one thread of the fast paths, 30 to 60 ms of the plain loops. An
// iteration itself is never cut short, and no question follows the last.
constexpr uint64_t kPixelsBetweenChecks = uint64_t{1} << 22;

// The conductance as stored: below 0 becomes +0, above 1 becomes 1. NaN
// fails both tests and is kept, and so is -0.
inline float clamp_coefficient(float c) { return c < 0.0f ? 0.0f : (c > 1.0f ? 1.0f : c); }

void build_neighbour_tables(uint32_t rows, uint32_t cols, const NeighbourTables& tables);

// Filters `source` (log intensities) into `work` (same size): exponentiate,
// run the iterations, take the logarithm. `progress.advance` and
// `interrupt.pending` may be null; the progress step runs after every
// iteration, the interrupt check as kPixelsBetweenChecks says, on the
// calling thread. Takes the fastest path this machine has (diffuse_with and
// kAutomaticPath).
FilterEnd diffuse(const float* source, float* work, uint32_t rows, uint32_t cols,
                  const NeighbourTables& tables, const DiffusionScratch& scratch,
                  const DiffusionParams& params, ProgressStep progress,
                  InterruptCheck interrupt = kNoInterruptCheck);

// How one filter call runs: its path (never kAutomatic), its team size and
// the columns of `rows` floats each scratch plane must hold for it (all
// `cols` for the plain loops; a few per thread for the fast paths, which
// keep only the columns a sweep is working on). The fast paths exponentiate
// with their own routine (exponential.h) unless library_exponential asks
// for the C library's exp, as the plain loops take it, and take the
// logarithm with their own (logarithm.h, glibc's logf bit for bit).
struct FilterPlan {
    CpuPath path;
    int32_t threads;
    uint32_t scratch_columns;
    bool library_exponential = false;
};

// The plan for `choice` on an image of rows x cols: the widest path the
// processor has for kAutomatic, one thread per processor the process may
// use (fewer for small images) for a thread count of 0.
FilterPlan plan_filter(const PathChoice& choice, uint32_t rows, uint32_t cols);

// diffuse run as `plan` says, with scratch planes of plan.scratch_columns
// columns each. A fast plan needs the tables as build_neighbour_tables makes
// them. Every plan gives the bits of diffuse_reference (a NaN's sign bit
// aside: it depends on the order of operands, which vectors may change)
// where the C library's logf is glibc's and its (float) exp((double) x) is
// correctly rounded, as glibc's is when rounding to nearest (exponential.h
// says how near the two come in the other directions) or
// library_exponential is set.
// The progress step runs on the calling thread with no worker alive, so it
// may call into a host that does not return from such a call. The
// interrupt check runs on the calling thread between the team's phases,
// with no share running; the team ends when it says stop.
FilterEnd diffuse_planned(const FilterPlan& plan, const float* source, float* work, uint32_t rows,
                          uint32_t cols, const NeighbourTables& tables,
                          const DiffusionScratch& scratch, const DiffusionParams& params,
                          ProgressStep progress, InterruptCheck interrupt = kNoInterruptCheck);

// The same for the path `choice` names, with full scratch planes; tables
// other than the standard ones take the plain loops.
FilterEnd diffuse_with(const PathChoice& choice, const float* source, float* work, uint32_t rows,
                       uint32_t cols, const NeighbourTables& tables,
                       const DiffusionScratch& scratch, const DiffusionParams& params,
                       ProgressStep progress, InterruptCheck interrupt = kNoInterruptCheck);

// The plain loops: two passes per iteration through the five scratch
// planes. They define every result bit.
FilterEnd diffuse_reference(const float* source, float* work, uint32_t rows, uint32_t cols,
                            const NeighbourTables& tables, const DiffusionScratch& scratch,
                            const DiffusionParams& params, ProgressStep progress,
                            InterruptCheck interrupt = kNoInterruptCheck);

// Steps of the plain loops that the fast paths share.
// q0 of the reference region: the serial row-by-row sum over `work`.
float reference_q0(const float* work, uint32_t rows, const ReferenceRegion& region);
// work[k] = (float) exp((double) source[k]) for begin <= k < end, with the
// C library's exp.
void exponentiate_pixels(const float* source, float* work, uint32_t begin, uint32_t end);
// The exponentiation of a filter call on `choice`'s path and threads, for
// k < count: the fast paths' own routine, or exponentiate_pixels on one
// thread for the plain loops.
void exponentiate_with(const PathChoice& choice, const float* source, float* work,
                       uint32_t count);
// The final logarithm of work[k] for begin <= k < end.
void take_logarithms(float* work, uint32_t begin, uint32_t end);
