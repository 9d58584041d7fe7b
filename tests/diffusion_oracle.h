// A plain transcription of the diffusion filter, written for the tests from
// the formulas alone: borders by clamping indices, no neighbour tables, no
// shared code with the kernel. It is the independent reference that the
// kernel and the plug-in are compared with bit for bit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

struct OracleRegion {
    int first_row, last_row, first_col, last_col;  // 0-based, inclusive
};

inline std::vector<float> oracle_diffusion(const std::vector<float>& source, int rows, int cols,
                                           OracleRegion region, int iterations, float lambda) {
    const size_t count = source.size();
    std::vector<float> w(count);
    for (size_t k = 0; k < count; ++k) w[k] = static_cast<float>(std::exp(static_cast<double>(source[k])));
    auto at = [&](const std::vector<float>& plane, int i, int j) {
        return plane[std::clamp(i, 0, rows - 1) + static_cast<size_t>(rows) * std::clamp(j, 0, cols - 1)];
    };
    std::vector<float> up(count), down(count), left(count), right(count), coef(count);
    for (int it = 0; it < iterations; ++it) {
        float sum = 0.0f, sum2 = 0.0f;
        for (int i = region.first_row; i <= region.last_row; ++i)
            for (int j = region.first_col; j <= region.last_col; ++j) {
                const float v = w[i + static_cast<size_t>(rows) * j];
                sum += v;
                sum2 += v * v;
            }
        const uint32_t region_count = static_cast<uint32_t>(region.last_row - region.first_row + 1) *
                                      static_cast<uint32_t>(region.last_col - region.first_col + 1);
        const float n = static_cast<float>(region_count);
        const float mean = sum / n;
        const float mean2 = mean * mean;
        const float var = sum2 / n - mean2;
        const float q0 = var / mean2;
        const float q0d = (q0 + 1.0f) * q0;
        for (int j = 0; j < cols; ++j)
            for (int i = 0; i < rows; ++i) {
                const size_t k = i + static_cast<size_t>(rows) * j;
                const float c0 = w[k];
                up[k] = at(w, i - 1, j) - c0;
                down[k] = at(w, i + 1, j) - c0;
                left[k] = at(w, i, j - 1) - c0;
                right[k] = at(w, i, j + 1) - c0;
                const float lap = (up[k] + down[k] + left[k] + right[k]) / c0;
                const float grad = (up[k] * up[k] + down[k] * down[k] + left[k] * left[k] +
                                    right[k] * right[k]) / (c0 * c0);
                const float lap2 = lap * lap;
                const float num = static_cast<float>(0.5 * grad - 0.0625 * lap2);
                const float den = static_cast<float>(1.0 + 0.25 * lap);
                const float q = num / (den * den);
                const float t = (q - q0) / q0d;
                const float c = static_cast<float>(1.0 / (1.0 + t));
                coef[k] = c < 0.0f ? 0.0f : c > 1.0f ? 1.0f : c;
            }
        for (int j = 0; j < cols; ++j)
            for (int i = 0; i < rows; ++i) {
                const size_t k = i + static_cast<size_t>(rows) * j;
                const float cC = coef[k], cD = at(coef, i + 1, j), cR = at(coef, i, j + 1);
                const float div = cC * up[k] + cD * down[k] + cC * left[k] + cR * right[k];
                w[k] = static_cast<float>(w[k] + 0.25 * lambda * div);
            }
    }
    for (float& v : w) v = std::log(v);
    return w;
}
