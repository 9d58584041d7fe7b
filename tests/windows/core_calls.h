// The plug-ins' numeric cores called directly on a plug-in call's inputs,
// decoded as the entry points decode valid ones (nothing is checked), with
// buffers of their own: for the Windows test host's runs of the Windows
// cores, and for the Linux cores beside them.
#pragma once

#include <stdint.h>

#include <vector>

#include "core_support.h"
#include "kernel.h"
#include "scorer.h"
#include "test_host.h"

// The filter's core on the filter's eight inputs; each run starts again
// from the source, in the same buffer.
struct FilterCore {
    uint32_t rows, cols;
    const float* source;
    FilterSettings params{};
    std::vector<float> work;

    explicit FilterCore(const std::vector<mxArray*>& in)
        : rows(static_cast<uint32_t>(mxGetM(in[0]))),
          cols(static_cast<uint32_t>(mxGetN(in[0]))),
          source(static_cast<const float*>(mxGetData(in[0]))),
          work(static_cast<size_t>(rows) * cols) {
        const auto bound = [&](int slot) {
            return static_cast<uint32_t>(static_cast<int32_t>(mxGetScalar(in[slot])) - 1);
        };
        params.iterations = static_cast<int32_t>(mxGetScalar(in[1]));
        params.lambda = static_cast<float>(mxGetScalar(in[2]));
        params.region = region_of(bound(3), bound(4), bound(5), bound(6));
    }

    // The plain loops, or the fast paths of `choice`.
    void run(const PathChoice& choice, const ProgressStep& step = {nullptr, nullptr, nullptr}) {
        FilterOptions options = filter_options_for(choice);
        options.progress = step;
        tarv_filter(source, work.data(), rows, cols, 1, params, options, nullptr);
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
        band_score(image, rows, cols, params, scores, options_for(choice));
    }
};
