// The numeric cores called as the tests and benchmarks call them: on a
// path and a thread count of their choice, everything else as a host
// passes it.
#pragma once

#include <stdint.h>

#include <vector>

#include "core_call.h"
#include "tarv_filter.h"

struct PathChoice {
    CpuPath path;
    int32_t threads;  // 0: as many as allowed
};

constexpr PathChoice kAutomaticPath{CpuPath::kAutomatic, 0};

inline CoreOptions options_for(const PathChoice& choice) {
    CoreOptions options;
    options.path = choice.path;
    options.threads = choice.threads;
    options.memory = heap_memory();
    return options;
}

inline FilterOptions filter_options_for(const PathChoice& choice) {
    FilterOptions options;
    options.core = options_for(choice);
    return options;
}

// The reference region of 0-based inclusive bounds, with its pixel count
// computed as the entry point computes it.
inline ReferenceRegion region_of(uint32_t first_row, uint32_t last_row, uint32_t first_col,
                                 uint32_t last_col) {
    return {first_row, last_row, first_col, last_col,
            (last_col - first_col + 1) * (last_row - first_row + 1)};
}

// The filter's result on `pages` images of `source`, on `choice`'s path and
// threads, with nothing else asked.
inline std::vector<float> filter_result(const std::vector<float>& source, uint32_t rows,
                                        uint32_t cols, const FilterSettings& settings,
                                        const PathChoice& choice = {CpuPath::kPlain, 1},
                                        uint32_t pages = 1) {
    std::vector<float> result(source.size());
    tarv_filter(source.data(), result.data(), rows, cols, pages, settings,
                filter_options_for(choice), nullptr);
    return result;
}
