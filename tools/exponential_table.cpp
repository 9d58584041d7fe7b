// Writes diffusion/exponential_table.h, the constants of the filter's own
// exponential (diffusion/exponential.h), from quadruple-precision values:
//
//   g++ -std=gnu++20 tools/exponential_table.cpp -lquadmath -o exponential_table
//   ./exponential_table > diffusion/exponential_table.h
//
// Needs GCC's __float128 and libquadmath (x86-64); the plug-ins never do.
#include <quadmath.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

constexpr int kTableBits = 7;
constexpr int kEntries = 1 << kTableBits;

// The double nearest to v and the double nearest to what is left.
void split(__float128 v, double* hi, double* lo) {
    *hi = static_cast<double>(v);
    *lo = static_cast<double>(v - *hi);
}

// The double nearest to v cut to its first `bits` significant bits.
double shortened(__float128 v, int bits) {
    double d = static_cast<double>(v);
    uint64_t u;
    memcpy(&u, &d, sizeof u);
    u &= ~((uint64_t{1} << (53 - bits)) - 1);
    memcpy(&d, &u, sizeof d);
    return d;
}

}  // namespace

int main() {
    const __float128 ln2 = logq(2);
    const __float128 step = ln2 / kEntries;
    // k * hi is exact for |k| < 2^15: the exponential clamps its input to
    // below 2^7 in magnitude, which gives |k| below 2^7 * 128 / ln 2 < 2^15.
    const double step_hi = shortened(step, 38);
    const double step_lo = static_cast<double>(step - step_hi);
    printf("// The constants of the filter's own exponential (exponential.h), written by\n"
           "// tools/exponential_table.cpp from quadruple-precision values; rewrite them\n"
           "// with that tool, not by hand.\n"
           "#pragma once\n\n"
           "// 2^(j/%d) for j = 0 .. %d as hi + lo: hi the double nearest to it, lo the\n"
           "// double nearest to the rest.\n"
           "struct ExpTableEntry {\n"
           "    double hi;\n"
           "    double lo;\n"
           "};\n\n"
           "constexpr int kExpTableBits = %d;\n\n"
           "alignas(64) inline constexpr ExpTableEntry kExpTable[%d] = {\n",
           kEntries, kEntries - 1, kTableBits, kEntries);
    for (int j = 0; j < kEntries; ++j) {
        double hi, lo;
        split(exp2q(static_cast<__float128>(j) / kEntries), &hi, &lo);
        printf("    {%a, %a},\n", hi, lo);
    }
    printf("};\n\n"
           "// %d / ln 2, the double nearest to it.\n"
           "constexpr double kExpStepsPerUnit = %a;\n"
           "// ln 2 / %d as hi + lo: hi with 38 significant bits, so that k * hi is exact\n"
           "// for |k| < 2^15; lo the double nearest to the rest.\n"
           "constexpr double kExpStepHi = %a;\n"
           "constexpr double kExpStepLo = %a;\n",
           kEntries, static_cast<double>(kEntries / ln2), kEntries, step_hi, step_lo);
    return 0;
}
