// The fast paths' own exponential: (float) exp((double) x) for W floats at
// once, correctly rounded (to nearest), so that the fast paths give the same pixels on
// every platform whatever its C library's exp. glibc's (float) exp((double)
// x) is correctly rounded too, and the two agree on every float, NaN bits
// included (tests/exponential_test.cpp checks all 2^32). The plain loops
// keep the library's exp.
//
// x = k ln2/128 + r with |r| <= ln2/256, and exp(x) = 2^(k >> 7) *
// 2^((k & 127)/128) * (1 + p(r)), p the Taylor polynomial of expm1 to
// degree 6. A table entry is hi + lo, two doubles, and hi + (lo + hi * p)
// is formed exactly as s + e (Fast2Sum: hi > |lo + hi * p|), within about
// 2^-58 of exp(x), relative (2^-59.7 the most seen in 20 million samples).
// The exponential of a float comes no nearer than 2^-52.6 to a midpoint
// between two floats (measured over all of them in quadruple precision),
// so s + e rounds to the float nearest to exp(x). s is rounded to odd
// first, that is moved one unit toward e where e is not 0 and s's last bit
// is 0: then s lies strictly on the side of s + e of every midpoint between
// floats, normal or subnormal, and the conversion of s to float rounds as
// s + e would.
//
// The arithmetic rounds as the caller has set. In the other rounding
// directions the result is that direction's rounding of exp(x) but where
// exp(x) lies within about 2^-59 of a float. Over all 2^32 floats it
// differs from glibc's there on 5 rounding upward (exp(x) 2^-59.8 to
// 2^-70.6 from a float; glibc's is right) and on 3 rounding downward or
// toward zero (2^-55.6 to 2^-58.6 from a float; glibc's is wrong).
#pragma once

#include <stdint.h>

#include "exponential_table.h"
#include "vector_lanes.h"


// (float) exp((double) x) in each of W lanes, W at least 2.
template <int W>
ALWAYS_INLINE typename Vector<float, W>::V exponential(const typename Vector<float, W>::V& x) {
    static_assert(W >= 2, "vectors only; a tail goes through a vector of its own");
    typedef typename Vector<float, W>::V F;
    typedef typename Vector<double, W>::V D;
    typedef typename Vector<uint64_t, W>::V U;
    constexpr float kInfinity = __builtin_inff();
    // Beyond these exp(x) rounds to 0 or overflows in single precision;
    // inside them |k| < 2^15 and 2^(k >> 7) times s is a normal double.
    const F low = F{} - 110.0f;
    const F high = F{} + 90.0f;
    const F clamped = x < low ? low : (x > high ? high : x);
    const D xd = __builtin_convertvector(clamped, D);

    // k = x * 128 / ln 2 rounded to an integer by the addition of 1.5 *
    // 2^52, which leaves k in the low bits of `shifted`.
    const double kShift = 0x1.8p52;
    const D shifted = xd * kExpStepsPerUnit + kShift;
    const D k = shifted - kShift;
    const U k_bits = bits_as<U>(shifted);
    // x - k * hi is exact: both are multiples of 2^-45 and their difference
    // is below 2^-8.
    const D r = (xd - k * kExpStepHi) - k * kExpStepLo;
    const D p =
        r + (r * r) * ((((r * (1.0 / 720) + 1.0 / 120) * r + 1.0 / 24) * r + 1.0 / 6) * r + 0.5);

    const U index = k_bits & static_cast<uint64_t>((1 << kExpTableBits) - 1);
    D hi, lo;
    for (int lane = 0; lane < W; ++lane) {
        const ExpTableEntry& entry = kExpTable[index[lane]];
        hi[lane] = entry.hi;
        lo[lane] = entry.lo;
    }
    const D b = lo + hi * p;
    const D s = hi + b;
    const D e = b - (s - hi);

    // Round to odd: s and its neighbour on e's side are the doubles around
    // s + e, the lower one has its bits one below the upper one's (s > 0),
    // and setting the last bit of the lower one picks the odd one of the
    // two. Integer arithmetic: GCC compares double vectors wider than the
    // registers one lane at a time. e is -0 only when rounding downward
    // (x - x is -0 there); it then counts as below 0 and moves s down by a
    // unit, which changes the float s becomes only where s is a float
    // itself.
    const U e_bits = bits_as<U>(e);
    const U e_nonzero = (e_bits | (0u - e_bits)) >> 63;
    U s_bits = (bits_as<U>(s) - (e_bits >> 63)) | e_nonzero;
    // Times 2^(k >> 7), added to the exponent field: the bits of `shifted`
    // above k's are a multiple of 2^7 and shift out.
    s_bits += (k_bits >> kExpTableBits) << 52;
    const F result = __builtin_convertvector(bits_as<D>(s_bits), F);

    // Below 2^-25 in magnitude exp(x) and 1 + x lie on the same side of
    // every float and every midpoint between floats, and exp(x) may be too
    // near to 1 for s + e to tell the side: 1 + x in double, which the
    // conversion then rounds as the caller's rounding direction says.
    typedef typename Vector<uint32_t, W>::V I;
    const F magnitude = bits_as<F>(bits_as<I>(x) & 0x7fffffffu);
    const F near_one = __builtin_convertvector(1.0 + xd, F);
    const F finite = magnitude < 0x1p-25f ? near_one : result;

    // exp(-inf) = +0 and exp(+inf) = +inf in every rounding direction; a
    // NaN comes back quiet, as the library gives it.
    const F low_end = x == -kInfinity ? F{} : finite;
    const F both_ends = x == kInfinity ? x : low_end;
    return x == x ? both_ends : x + x;
}

// work[k] = (float) exp((double) source[k]) for begin <= k < end; source
// and work do not overlap. Returns whether any result is +Inf. The last
// vector ends at `end` and computes some pixels a second time, to the same
// bits; a range shorter than a vector goes through one vector whose other
// lanes repeat its first pixel. (Tails copied through a buffer would become
// calls of memcpy, which the plug-ins do not otherwise import.)
template <int W>
ALWAYS_INLINE bool exponentiate_lanes(const float* source, float* work, uint32_t begin,
                                      uint32_t end) {
    typedef Vector<float, W> L;
    typedef typename L::V F;
    typedef typename Vector<int32_t, W>::V I;
    const F infinity = L::splat(__builtin_inff());
    I infinite = I{};
    if (end - begin >= W) {
        uint32_t k = begin;
        for (; k + W <= end; k += W) {
            const F result = exponential<W>(L::load(source + k));
            infinite |= result == infinity;
            L::store(work + k, result);
        }
        if (k < end) {
            const F result = exponential<W>(L::load(source + end - W));
            infinite |= result == infinity;
            L::store(work + end - W, result);
        }
    } else if (begin != end) {
        F x = L::splat(source[begin]);
        for (uint32_t i = 1; i < end - begin; ++i) x[i] = source[begin + i];
        const F result = exponential<W>(x);
        infinite |= result == infinity;
        for (uint32_t i = 0; i < end - begin; ++i) work[begin + i] = result[i];
    }
    for (int lane = 0; lane < W; ++lane)
        if (infinite[lane] != 0) return true;
    return false;
}
