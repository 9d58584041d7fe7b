// Why a filter call's result holds NaN, or its input cannot be carried by
// the filter's single-precision arithmetic: the analysis behind the hosts'
// warnings, free of any host. It makes its own passes over the input, so a
// host runs it only where the call's findings (tarv_filter.h) say that a
// warning may be due.
#pragma once

#include <stdint.h>

#include "tarv_filter.h"

// Where the filter's single-precision arithmetic leaves the range of
// finite, nonzero values, as log intensities x of the input (the first three
// found to the ulp from (float) exp((double) x)):
// - above kLargestLogIntensity the working value exp(x) is +Inf;
// - from kSquareOverflowLog on exp(x) is 2^64 or more, and its square, which
//   the reference statistic and the gradient take, overflows;
// - at or below kSquareUnderflowLog exp(x) is 2^-75 or less, and its square
//   is 0, which the gradient divides by;
// - neighbours whose log intensities lie kSpreadLog or more apart have a
//   ratio of 2^62 or more, and the gradient and the squared Laplacian of a
//   pixel with four such differences overflow.
constexpr float kLargestLogIntensity = 0x1.62e42ep+6f;  // 88.72283
constexpr float kSquareOverflowLog = 0x1.62e43p+5f;     // 44.36142
constexpr float kSquareUnderflowLog = -0x1.9fe36ap+5f;  // -51.98604
constexpr float kSpreadLog = 0x1.57cd0ep+5f;            // 42.97512, log(2^62) rounded

// The first cause that applies, input values before the reference region,
// the region before lambda.
enum class NanCause {
    kNone,                // nothing to warn of
    kExponentialOverflow, // input pixels above 88.72 (count: cause_pixels)
    kMinusInfinity,       // input pixels of -Inf
    kNanOrInfinity,       // input pixels of NaN or +Inf
    kSquareOverflow,      // input pixels of 44.36 and above (extreme: the largest)
    kSquareUnderflow,     // input pixels of -51.99 and below (extreme: the smallest)
    kNeighbourSpread,     // neighbours 42.98 or more apart (extreme: the widest step)
    kRegionEmpty,         // the reference region's first row or column after its last
    kRegionSinglePixel,   // a region of one pixel, whose variance is 0
    kRegionFlat,          // every pixel of a page's region the same
    kLambdaNaN,
    kLambdaNegative,      // sharpened without bound until values overflowed
    kLambdaAboveOne,      // drove pixels below 0
    kWorkingRange,        // a working value left single precision during the iterations
};

struct FilterDiagnosis {
    NanCause cause;
    uint64_t pixels;        // of the input
    uint64_t nan_results;   // result pixels that are NaN
    uint64_t cause_pixels;  // input pixels of the cause, where it counts them
    float extreme;          // the cause's extreme value, where it has one
};

// The diagnosis of a finished call on `pages` images of rows x cols:
// kNone unless some input pixel exponentiates to +Inf (a finite one above
// kLargestLogIntensity) or some result pixel is NaN.
FilterDiagnosis diagnose_filter(const float* source, const float* result, uint32_t rows,
                                uint32_t cols, uint32_t pages, const FilterSettings& settings);
