// The filter as the 32-bit Windows build defines it, written plainly for
// the Windows test host (win_runner.cpp, --reference): every expression in
// the x87 registers (long double at the precision control in force),
// rounded to single precision through a memory store exactly where a named
// quantity is kept. exp and log are CRTDLL.DLL's, as the 32-bit plug-in's.
#pragma once

#include <stdint.h>
#include <windows.h>

#include <vector>

#include "test_host.h"

namespace x87_reference {

inline float stored(long double value) {
    volatile float slot = static_cast<float>(value);
    return slot;
}

using MathFunction = double (*)(double);

struct ReferenceInputs {
    const float* source;
    uint32_t rows, cols;
    int32_t iterations;
    float lambda;
    uint32_t first_row, last_row, first_col, last_col;
};

inline std::vector<float> filter(const ReferenceInputs& in, MathFunction exp_fn, MathFunction log_fn) {
    const uint32_t M = in.rows, N = in.cols, count = M * N;
    std::vector<float> work(count), d_up(count), d_down(count), d_left(count), d_right(count),
        coef(count);
    for (uint32_t k = 0; k < count; ++k) work[k] = stored(exp_fn(static_cast<double>(in.source[k])));
    const uint32_t region_count =
        (in.last_col - in.first_col + 1) * (in.last_row - in.first_row + 1);
    for (int32_t iteration = 0; iteration < in.iterations; ++iteration) {
        float sum = 0.0f, sum2 = 0.0f;
        for (uint32_t i = in.first_row; i <= in.last_row; ++i) {
            for (uint32_t j = in.first_col; j <= in.last_col; ++j) {
                const long double v = work[i + M * j];
                sum = stored(sum + v);
                sum2 = stored(sum2 + v * v);
            }
        }
        const float n = stored(region_count);
        const float mean = stored(sum / static_cast<long double>(n));
        const float var = stored(sum2 / static_cast<long double>(n) - static_cast<long double>(mean) * mean);
        const float q0 = stored(var / (static_cast<long double>(mean) * mean));
        for (uint32_t j = 0; j < N; ++j) {
            for (uint32_t i = 0; i < M; ++i) {
                const uint32_t k = i + M * j;
                const long double c0 = work[k];
                const uint32_t up = i > 0 ? k - 1 : k, down = i + 1 < M ? k + 1 : k;
                const uint32_t left = j > 0 ? k - M : k, right = j + 1 < N ? k + M : k;
                const float dU = stored(work[up] - c0), dD = stored(work[down] - c0);
                const float dL = stored(work[left] - c0), dR = stored(work[right] - c0);
                d_up[k] = dU;
                d_down[k] = dD;
                d_left[k] = dL;
                d_right[k] = dR;
                const long double u = dU, d = dD, l = dL, r = dR;
                const float lap = stored((((u + d) + l) + r) / c0);
                const float grad = stored((((u * u + d * d) + l * l) + r * r) / (c0 * c0));
                const float num = stored(0.5L * grad - 0.0625L * (static_cast<long double>(lap) * lap));
                const float den = stored(1.0L + 0.25L * lap);
                const float q = stored(num / (static_cast<long double>(den) * den));
                const float t = stored((q - static_cast<long double>(q0)) /
                                       ((static_cast<long double>(q0) + 1.0L) * q0));
                const float c = stored(1.0L / (1.0L + t));
                coef[k] = c < 0.0f ? 0.0f : (c > 1.0f ? 1.0f : c);
            }
        }
        for (uint32_t j = 0; j < N; ++j) {
            for (uint32_t i = 0; i < M; ++i) {
                const uint32_t k = i + M * j;
                const long double cC = coef[k];
                const long double cD = coef[i + 1 < M ? k + 1 : k];
                const long double cR = coef[j + 1 < N ? k + M : k];
                const float div =
                    stored(((cC * d_up[k] + cD * d_down[k]) + cC * d_left[k]) + cR * d_right[k]);
                work[k] = stored(work[k] + (0.25L * in.lambda) * div);
            }
        }
    }
    for (uint32_t k = 0; k < count; ++k) work[k] = stored(log_fn(static_cast<double>(work[k])));
    return work;
}

// The reference for the eight inputs of a valid call (nothing is checked).
inline mxArray* filter(const std::vector<mxArray*>& inputs) {
    HMODULE crtdll = LoadLibraryA("crtdll.dll");
    if (crtdll == nullptr || inputs.size() < 7) return nullptr;
    const auto exp_fn = reinterpret_cast<MathFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(crtdll, "exp")));
    const auto log_fn = reinterpret_cast<MathFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(crtdll, "log")));
    if (exp_fn == nullptr || log_fn == nullptr) return nullptr;
    const auto bound = [&](int slot) {
        return static_cast<uint32_t>(static_cast<int32_t>(mxGetScalar(inputs[slot])) - 1);
    };
    ReferenceInputs in{};
    in.source = static_cast<const float*>(mxGetData(inputs[0]));
    in.rows = static_cast<uint32_t>(mxGetM(inputs[0]));
    in.cols = static_cast<uint32_t>(mxGetN(inputs[0]));
    in.iterations = static_cast<int32_t>(mxGetScalar(inputs[1]));
    in.lambda = static_cast<float>(mxGetScalar(inputs[2]));
    in.first_row = bound(3);
    in.last_row = bound(4);
    in.first_col = bound(5);
    in.last_col = bound(6);
    const std::vector<float> values = filter(in, exp_fn, log_fn);
    return testhost::make_single(in.rows, in.cols, values);
}

}  // namespace x87_reference
