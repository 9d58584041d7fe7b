// Bit-for-bit comparison of floating-point results: two NaNs match, +0 and
// -0 differ. A mismatch reports its row and column and both values in hex.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline bool same_bits(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}
inline bool same_bits(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

inline std::string hex_of(float x) {
    char text[64];
    snprintf(text, sizeof text, "%a (0x%08x)", static_cast<double>(x), std::bit_cast<uint32_t>(x));
    return text;
}
inline std::string hex_of(double x) {
    char text[64];
    snprintf(text, sizeof text, "%a (0x%016llx)", x,
             static_cast<unsigned long long>(std::bit_cast<uint64_t>(x)));
    return text;
}

// Compares two column-major planes (or volumes, with `rows` the first extent).
template <typename T>
::testing::AssertionResult planes_match(const std::vector<T>& expected, const std::vector<T>& actual,
                                        size_t rows) {
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure()
               << "sizes differ: expected " << expected.size() << ", got " << actual.size();
    for (size_t k = 0; k < expected.size(); ++k) {
        if (!same_bits(expected[k], actual[k]))
            return ::testing::AssertionFailure()
                   << "first difference at row " << k % rows << ", column " << k / rows
                   << " (index " << k << "): expected " << hex_of(expected[k]) << ", got "
                   << hex_of(actual[k]);
    }
    return ::testing::AssertionSuccess();
}
