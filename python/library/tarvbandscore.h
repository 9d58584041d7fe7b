// The plain C interface of libtarvbandscore, the shared library the Python
// package loads with ctypes: both numeric cores behind functions of plain
// arrays, numbers and small structs. It decodes nothing and formats
// nothing; the caller checks its arguments and words the messages (the
// checks here only keep a wrong call from reading or writing outside its
// arrays, and answer TBS_INVALID).
//
// Arrays are column-major: element (i, j) of a rows x cols plane at
// p[i + rows * j], a volume's pages one after another. Every function may
// be called from any thread, several at a time; each call joins every
// thread it started before it returns.
#ifndef TARVBANDSCORE_H
#define TARVBANDSCORE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define TBS_EXPORT
#else
#define TBS_EXPORT __attribute__((visibility("default")))
#endif

// Raised whenever a function, argument or struct below changes.
#define TARVBANDSCORE_API_VERSION 1

// How a call ended.
enum {
    TBS_COMPLETED = 0,      // the result is written
    TBS_CANCELLED = 1,      // a progress callback returned 0; the result holds nothing meaningful
    TBS_INTERRUPTED = 2,    // the interrupt callback returned nonzero; likewise
    TBS_OUT_OF_MEMORY = 3,  // scratch memory was refused; nothing was written
    TBS_INVALID = 4         // an argument fails the checks said below; nothing was read
};

// Questions a call asks on the thread that called it, with none of the
// threads it started at work, so that they may run the caller's own code:
// `interrupt_pending` every few milliseconds of work (nonzero stops the
// call); `progress_begin` once before the first pixel and
// `progress_advance` after each of `steps` steps (0 stops it). Any may be
// null.
typedef struct {
    int32_t (*interrupt_pending)(void* context);
    int32_t (*progress_begin)(void* context);
    int32_t (*progress_advance)(void* context, int64_t step, int64_t steps);
    void* context;
} TbsCallbacks;

// The reference region of every page: 0-based, inclusive bounds, with
// first_row <= last_row < rows and first_col <= last_col < cols.
typedef struct {
    uint32_t first_row;
    uint32_t last_row;
    uint32_t first_col;
    uint32_t last_col;
} TbsRegion;

// What the filter's own passes noticed (nonzero: yes): where either is
// set, tarvbandscore_diagnose_filter says why.
typedef struct {
    int32_t infinite_working_value; // a pixel exponentiated to +Inf
    int32_t nan_result;             // a result pixel is NaN
} TbsFindings;

// The anisotropic diffusion filter on `pages` planes of rows x cols single
// log intensities, each filtered as an image of its own, into `result`
// (same size, not overlapping `source`). `iterations` of 0 or less only
// exponentiates and takes the logarithm; `threads` at most (the calling
// thread included; 0 for as many as the process may use, which
// OMP_NUM_THREADS caps where set to a positive integer). Zero rows,
// columns or pages: nothing to do, TBS_COMPLETED. TBS_INVALID where
// rows * cols * pages is 2^31 or more or the region lies outside a page.
// `callbacks` and `findings` may be null.
TBS_EXPORT int32_t tarvbandscore_filter(const float* source, float* result, uint32_t rows,
                                        uint32_t cols, uint32_t pages, int32_t iterations,
                                        float lambda, const TbsRegion* region, int32_t threads,
                                        const TbsCallbacks* callbacks, TbsFindings* findings);

// Why a finished filter call's result holds NaN or its input leaves the
// filter's range: the first cause that applies.
enum {
    TBS_CAUSE_NONE = 0,
    TBS_CAUSE_EXPONENTIAL_OVERFLOW = 1, // input pixels above 88.72 (count: cause_pixels)
    TBS_CAUSE_MINUS_INFINITY = 2,       // input pixels of -Inf
    TBS_CAUSE_NAN_OR_INFINITY = 3,      // input pixels of NaN or +Inf
    TBS_CAUSE_SQUARE_OVERFLOW = 4,      // input pixels of 44.36 and above (extreme: the largest)
    TBS_CAUSE_SQUARE_UNDERFLOW = 5,     // input pixels of -51.99 and below (extreme: the smallest)
    TBS_CAUSE_NEIGHBOUR_SPREAD = 6,     // neighbours 42.98 or more apart (extreme: the widest step)
    TBS_CAUSE_REGION_EMPTY = 7,         // never here: an empty region is TBS_INVALID
    TBS_CAUSE_REGION_SINGLE_PIXEL = 8,  // a region of one pixel, whose variance is 0
    TBS_CAUSE_REGION_FLAT = 9,          // every pixel of a page's region the same
    TBS_CAUSE_LAMBDA_NAN = 10,
    TBS_CAUSE_LAMBDA_NEGATIVE = 11,     // sharpened without bound until values overflowed
    TBS_CAUSE_LAMBDA_ABOVE_ONE = 12,    // drove pixels below 0
    TBS_CAUSE_WORKING_RANGE = 13        // a working value left single precision
};

typedef struct {
    int32_t cause;          // TBS_CAUSE_...
    float extreme;          // the cause's extreme value, where it has one
    uint64_t pixels;        // of the input
    uint64_t nan_results;   // result pixels that are NaN
    uint64_t cause_pixels;  // input pixels of the cause, where it counts them
} TbsDiagnosis;

// The diagnosis of a call of tarvbandscore_filter with the same arguments
// that returned TBS_COMPLETED: its own passes over `source` and `result`,
// so run it only where the call's findings are set. TBS_INVALID as for the
// filter.
TBS_EXPORT int32_t tarvbandscore_diagnose_filter(const float* source, const float* result,
                                                 uint32_t rows, uint32_t cols, uint32_t pages,
                                                 int32_t iterations, float lambda,
                                                 const TbsRegion* region, TbsDiagnosis* diagnosis);

// The band scorer's candidates and per-column arrays. Top a (0 <= a <
// top_count) is the row trunc(a + top_offset), bottom b the row trunc(b +
// bottom_offset); each per-column array has a value for every column.
typedef struct {
    double top_offset;
    double bottom_offset;
    int32_t top_count;
    int32_t bottom_count;
    double prior_weight;
    const double* span_mean;
    const double* span_sd;
    const double* span_min;
    const double* span_max;
} TbsBands;

// The first admissible pair found outside the rows it may read.
typedef struct {
    int32_t column;
    int32_t top_index;
    int32_t bottom_index;
    int32_t reserved;
    int64_t top_row;
    int64_t bottom_row;
} TbsBandPair;

// The scorer's range checks, in their order:
enum {
    TBS_BANDS_VALID = 0,
    TBS_BANDS_BEYOND_32_BITS = 1, // a candidate row or span outside the signed 32-bit range
    TBS_BANDS_OUTSIDE_IMAGE = 2   // an admissible pair reads outside rows 0 .. rows - 1
};

// Which check `bands` fails on an image of rows x cols, and where the
// second fails its first pair (`offending`, which may be null). Counts
// and extents of 0 and more only.
TBS_EXPORT int32_t tarvbandscore_check_bands(int32_t rows, int32_t cols, const TbsBands* bands,
                                             TbsBandPair* offending);

// For every column of the rows x cols double `image`, the score of every
// pair (a, b) into `scores`, column-major top_count x bottom_count x cols,
// cell (a, b, c) at scores[a + A * b + A * B * c]: the mean of rows top ..
// bottom of the column plus prior_weight * exp(-z * z / 2), z = (span -
// span_mean[c]) / span_sd[c], where span_min[c] <= span <= span_max[c]
// (a NaN limit never excludes), else -999999. `threads` as for the
// filter. TBS_INVALID where an extent or count is negative, rows * cols or
// top_count * bottom_count * cols is 2^31 or more, or
// tarvbandscore_check_bands fails.
TBS_EXPORT int32_t tarvbandscore_band_score(const double* image, int32_t rows, int32_t cols,
                                            const TbsBands* bands, double* scores,
                                            int32_t threads, const TbsCallbacks* callbacks);

// The threads the calls of this process have started so far, beside their
// calling threads.
TBS_EXPORT uint64_t tarvbandscore_threads_started(void);

// The threads a call may run on at most, its calling thread included: the
// processors of the process's affinity mask (and on Linux its CPU quota),
// fewer where OMP_NUM_THREADS is set to a positive integer.
TBS_EXPORT int32_t tarvbandscore_processors_allowed(void);

// TARVBANDSCORE_API_VERSION of the library.
TBS_EXPORT int32_t tarvbandscore_api_version(void);

#ifdef __cplusplus
}
#endif

#endif
