// The arguments of both plug-ins by position, and their names in messages:
// the entry points decode them so, and the fuzz targets build them so.
#pragma once

namespace filter_arguments {

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

inline const char* const kArgumentNames[kInputCount] = {
    "image",           "iterations",  "lambda",      "first row of the region",
    "last row of the region", "first column of the region", "last column of the region",
    "progress flag"};

}  // namespace filter_arguments

namespace score_arguments {

enum : int {
    kTopOffset,
    kBottomOffset,
    kImage,
    kSpanMean,
    kSpanSd,
    kTopCount,
    kBottomCount,
    kPriorWeight,
    kSpanMin,
    kSpanMax,
    kInputCount
};

inline const char* const kArgumentNames[kInputCount] = {
    "top_offset", "bottom_offset", "image",        "span_mean", "span_sd",
    "top_count",  "bottom_count",  "prior_weight", "span_min",  "span_max"};

inline constexpr int kScalarSlots[] = {kTopOffset, kBottomOffset, kTopCount, kBottomCount,
                                       kPriorWeight};
inline constexpr int kColumnSlots[] = {kSpanMean, kSpanSd, kSpanMin, kSpanMax};

}  // namespace score_arguments
