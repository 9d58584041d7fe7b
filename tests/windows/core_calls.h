// The plug-ins' numeric cores called directly on a plug-in call's inputs,
// decoded as the entry points decode valid ones (nothing is checked), with
// buffers of their own: for the Windows test host's runs of the Windows
// cores, and for the Linux cores beside them.
#pragma once

#include <stdint.h>

#include <vector>

#include "kernel.h"
#include "scorer.h"
#include "test_host.h"

// The filter's core on the filter's eight inputs; each run starts again
// from the source, in the same buffers.
struct FilterCore {
    uint32_t rows, cols;
    const float* source;
    DiffusionParams params{};
    std::vector<int32_t> row_up, row_down, col_left, col_right;
    std::vector<float> scratch, work;

    explicit FilterCore(const std::vector<mxArray*>& in)
        : rows(static_cast<uint32_t>(mxGetM(in[0]))),
          cols(static_cast<uint32_t>(mxGetN(in[0]))),
          source(static_cast<const float*>(mxGetData(in[0]))),
          row_up(rows), row_down(rows), col_left(cols), col_right(cols),
          scratch(5 * static_cast<size_t>(rows) * cols), work(static_cast<size_t>(rows) * cols) {
        const auto bound = [&](int slot) {
            return static_cast<uint32_t>(static_cast<int32_t>(mxGetScalar(in[slot])) - 1);
        };
        params.iterations = static_cast<int32_t>(mxGetScalar(in[1]));
        params.lambda = static_cast<float>(mxGetScalar(in[2]));
        ReferenceRegion& region = params.region;
        region = {bound(3), bound(4), bound(5), bound(6), 0};
        region.count = (region.last_col - region.first_col + 1) * (region.last_row - region.first_row + 1);
        build_neighbour_tables(rows, cols, tables());
    }

    NeighbourTables tables() { return {row_up.data(), row_down.data(), col_left.data(), col_right.data()}; }

    // The plain loops, or the fast paths of `choice`.
    void run(const PathChoice& choice, const ProgressStep& step = {nullptr, nullptr}) {
        const size_t plane = work.size();
        float* s = scratch.data();
        const DiffusionScratch planes{s, s + plane, s + 2 * plane, s + 3 * plane, s + 4 * plane};
        if (choice.path == CpuPath::kPlain)
            diffuse_reference(source, work.data(), rows, cols, tables(), planes, params, step);
        else
            diffuse_with(choice, source, work.data(), rows, cols, tables(), planes, params, step);
    }
};

// The scorer's core on the scorer's ten inputs, writing into `scores`.
struct ScoreCore {
    int32_t rows, cols;
    const double* image;
    BandScoreParams params{};

    explicit ScoreCore(const std::vector<mxArray*>& in)
        : rows(static_cast<int32_t>(mxGetM(in[2]))), cols(static_cast<int32_t>(mxGetN(in[2]))),
          image(mxGetPr(in[2])) {
        params.top_offset = mxGetScalar(in[0]);
        params.bottom_offset = mxGetScalar(in[1]);
        params.span_mean = mxGetPr(in[3]);
        params.span_sd = mxGetPr(in[4]);
        params.top_count = static_cast<int32_t>(mxGetScalar(in[5]));
        params.bottom_count = static_cast<int32_t>(mxGetScalar(in[6]));
        params.prior_weight = mxGetScalar(in[7]);
        params.span_min = mxGetPr(in[8]);
        params.span_max = mxGetPr(in[9]);
    }

    size_t volume() const { return static_cast<size_t>(params.top_count) * params.bottom_count * cols; }

    void run(const PathChoice& choice, double* scores) const {
        if (choice.path == CpuPath::kPlain)
            score_bands_reference(image, rows, cols, params, scores);
        else
            score_bands_with(choice, image, rows, cols, params, scores);
    }
};
