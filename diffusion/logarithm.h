// The fast paths' own logarithm: glibc's logf, bit for bit, for W floats at
// once, so that the fast paths give the same pixels on every platform
// whatever its C library's logf (Apple's and Microsoft's round some floats
// otherwise). glibc's logf is not correctly rounded (416,908 positive
// floats round the other way from log(x)), so this is its algorithm with
// its constants (sysdeps/ieee754/flt-32/e_logf.c and e_logf_data.c, from
// Arm's optimized-routines), operation for operation, nothing fused:
// x = 2^k z with z in [0x1.66p-1, 0x1.66p0), c near the middle of the
// sixteenth of that range that holds z, and in double
// log(x) = k ln2 + log(c) + log1p(r), r = z/c - 1 = z * (1/c) - 1,
// log1p(r) ~ r + A2 r^2 + A1 r^3 + A0 r^4.
//
// glibc builds that code twice for x86-64 and picks the build with fused
// multiply-adds on processors with FMA and AVX2; for aarch64 it fuses the
// same five products. The doubles differ on a quarter of the positive
// floats, but every float comes out the same from both builds (the nearest
// call, x = 0x1.c48398p+120: the unfused double lies exactly on a midpoint
// between floats and rounds to the even one, the fused one's side). This is
// the unfused build, so it gives every build's bits; tests/logarithm_test.cpp
// checks all 2^32 floats against digests of glibc's results.
//
// A negative x or -inf gives the NaN 0x7fc00000 on every processor, as the
// logf the plug-ins bind gives it (oldest_glibc.h): glibc's oldest logf
// checks for those in a wrapper that returns the constant NAN, where the
// newer logf@GLIBC_2.27 makes the processor's default NaN (sign bit set on
// x86-64, clear on aarch64). A NaN comes back quiet.
#pragma once

#include <stdint.h>

#include "vector_lanes.h"

// glibc's 1/c and log(c) for each sixteenth, its ln 2 and its polynomial.
alignas(64) inline constexpr double kLogInvc[16] = {
    0x1.661ec79f8f3bep+0, 0x1.571ed4aaf883dp+0, 0x1.49539f0f010bp+0,  0x1.3c995b0b80385p+0,
    0x1.30d190c8864a5p+0, 0x1.25e227b0b8eap+0,  0x1.1bb4a4a1a343fp+0, 0x1.12358f08ae5bap+0,
    0x1.0953f419900a7p+0, 0x1p+0,               0x1.e608cfd9a47acp-1, 0x1.ca4b31f026aap-1,
    0x1.b2036576afce6p-1, 0x1.9c2d163a1aa2dp-1, 0x1.886e6037841edp-1, 0x1.767dcf5534862p-1,
};
alignas(64) inline constexpr double kLogLogc[16] = {
    -0x1.57bf7808caadep-2, -0x1.2bef0a7c06ddbp-2, -0x1.01eae7f513a67p-2, -0x1.b31d8a68224e9p-3,
    -0x1.6574f0ac07758p-3, -0x1.1aa2bc79c81p-3,   -0x1.a4e76ce8c0e5ep-4, -0x1.1973c5a611cccp-4,
    -0x1.252f438e10c1ep-5, 0x0p+0,                0x1.aa5aa5df25984p-5,  0x1.c5e53aa362eb4p-4,
    0x1.526e57720db08p-3,  0x1.bc2860d22477p-3,   0x1.1058bc8a07ee1p-2,  0x1.4043057b6ee09p-2,
};
constexpr double kLogLn2 = 0x1.62e42fefa39efp-1;
constexpr double kLogA0 = -0x1.00ea348b88334p-2;
constexpr double kLogA1 = 0x1.5575b0be00b6ap-2;
constexpr double kLogA2 = -0x1.ffffef20a4123p-2;

// column[index] in each of W lanes. Unrolled: at -O2 GCC otherwise sends
// the lanes through the stack, which made the pass up to twice as slow.
template <int W>
ALWAYS_INLINE typename Vector<double, W>::V table_lanes(
    const double (&column)[16], const typename Vector<uint32_t, W>::V& index) {
    typename Vector<double, W>::V lanes;
#pragma GCC unroll 16
    for (int lane = 0; lane < W; ++lane) lanes[lane] = column[index[lane]];
    return lanes;
}

// glibc's logf(x) in each of W lanes, W at least 2.
template <int W>
ALWAYS_INLINE typename Vector<float, W>::V logarithm(const typename Vector<float, W>::V& x) {
    static_assert(W >= 2, "vectors only; a tail goes through a vector of its own");
    typedef typename Vector<float, W>::V F;
    typedef typename Vector<double, W>::V D;
    typedef typename Vector<uint32_t, W>::V U;
    typedef typename Vector<int32_t, W>::V I;
    constexpr float kInfinity = __builtin_inff();
    const U bits = bits_as<U>(x);

    // A positive subnormal x is 2^-23 times the normal float x * 2^23.
    const U scaled = bits_as<U>(x * 0x1p23f) - (23u << 23);
    const U ix = bits < 0x00800000u ? scaled : bits;
    // The bits of x less those of 0x1.66p-1: k in the exponent field, z's
    // sixteenth in the top four bits of the mantissa field; z has the bits
    // of x less k in the exponent field.
    const U offset = ix - 0x3f330000u;
    const U index = (offset >> 19) & 15u;
    const I k = bits_as<I>(offset) >> 23;
    const D z = __builtin_convertvector(bits_as<F>(ix - (offset & 0xff800000u)), D);
    const D invc = table_lanes<W>(kLogInvc, index);
    const D logc = table_lanes<W>(kLogLogc, index);

    const D r = z * invc - 1.0;
    const D y0 = logc + __builtin_convertvector(k, D) * kLogLn2;
    const D r2 = r * r;
    D y = kLogA1 * r + kLogA2;
    y = kLogA0 * r2 + y;
    y = y * r2 + (y0 + r);
    const F result = __builtin_convertvector(y, F);

    // Above the bits of +inf: the NaNs and the negative floats (-0 aside).
    const F invalid = x != x ? x + x : F{} + __builtin_nanf("");
    const F beyond = bits > 0x7f800000u ? invalid : result;
    const F at_infinity = bits == 0x7f800000u ? x : beyond;
    const F at_zero = bits + bits == 0u ? -kInfinity : at_infinity;
    // log(1) is +0 in every rounding direction, as glibc makes it.
    return bits == 0x3f800000u ? F{} : at_zero;
}

// work[k] = logf(work[k]) (glibc's bits) for begin <= k < end; returns
// whether any result is NaN. The last vector ends at `end` and is loaded
// before any result is stored, so the pixels it shares with the vector
// before it come out again to the same bits. A range shorter than a vector
// goes through one vector whose other lanes repeat its first pixel. (Tails
// copied through a buffer would become calls of memcpy, which the plug-ins
// do not otherwise import.)
template <int W>
ALWAYS_INLINE bool logarithms_lanes(float* work, uint32_t begin, uint32_t end) {
    typedef Vector<float, W> L;
    typedef typename L::V F;
    typename Vector<int32_t, W>::V nan{};
    if (end - begin >= W) {
        const F last = L::load(work + end - W);
        uint32_t k = begin;
        for (; k + W <= end; k += W) {
            const F y = logarithm<W>(L::load(work + k));
            nan |= y != y;
            L::store(work + k, y);
        }
        if (k < end) {
            const F y = logarithm<W>(last);
            nan |= y != y;
            L::store(work + end - W, y);
        }
    } else if (begin != end) {
        F x = L::splat(work[begin]);
        for (uint32_t i = 1; i < end - begin; ++i) x[i] = work[begin + i];
        const F y = logarithm<W>(x);
        nan |= y != y;
        for (uint32_t i = 0; i < end - begin; ++i) work[begin + i] = y[i];
    }
    int32_t any = 0;
    for (int lane = 0; lane < W; ++lane) any |= nan[lane];
    return any != 0;
}

// logarithms_lanes over work[0 .. count) built for `path`, a fast path the
// processor has, on the calling thread: for the tests and the bench.
struct LogarithmPass {
    float* work;
    uint32_t count;
    bool any_nan;
};

struct LogarithmKernel {
    template <int kVectorBytes>
    static ALWAYS_INLINE void run(void* context, int32_t, int32_t) {
        LogarithmPass& pass = *static_cast<LogarithmPass*>(context);
        pass.any_nan = logarithms_lanes<kVectorBytes / static_cast<int>(sizeof(float))>(
            pass.work, 0, pass.count);
    }
};

inline bool logarithms_on(CpuPath path, float* work, uint32_t count) {
    LogarithmPass pass{work, count, false};
    ShareRunners<LogarithmKernel>::for_path(path)(&pass, 0, 0);
    return pass.any_nan;
}
