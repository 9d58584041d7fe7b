// What the fast paths of both cores share: vectors of W lanes with exact
// one-lane tails.
//
// A kernel is written once as a template over the vector width in bytes
// (16 for the x86-64 baseline and for NEON, 32 for AVX2, 64 for AVX-512);
// its processor family's ShareRunners builds it for each instruction set
// (platform/processor_family.h), so that one binary carries every width
// and picks one at run time. A vector wider than the processor's registers
// (the double-precision lanes of four single-precision ones on NEON) is
// held in several registers. Only files built with fast paths include this.
#pragma once

#include <string.h>

#include "instruction_sets.h"
#include "worker_team.h"

#define ALWAYS_INLINE __attribute__((always_inline)) inline

// The helpers of the fast paths handle vectors by value but are always
// inlined into functions built for the vector width they use, so no vector
// crosses a call and the ABI note GCC gives for such signatures does not
// apply.
#pragma GCC diagnostic ignored "-Wpsabi"

// W lanes of T, W a power of two; Vector<T, 1> is the plain T, for tails.
template <typename T, int W>
struct Vector {
    typedef T V __attribute__((vector_size(sizeof(T) * W)));
    // Unaligned loads and stores: memcpy of a fixed size compiles to one
    // vector move.
    static ALWAYS_INLINE V load(const T* p) {
        V v;
        memcpy(&v, p, sizeof v);
        return v;
    }
    static ALWAYS_INLINE void store(T* p, const V& v) { memcpy(p, &v, sizeof v); }
    static ALWAYS_INLINE V splat(T x) { return V{} + x; }
};

template <typename T>
struct Vector<T, 1> {
    typedef T V;
    static ALWAYS_INLINE V load(const T* p) { return *p; }
    static ALWAYS_INLINE void store(T* p, V v) { *p = v; }
    static ALWAYS_INLINE V splat(T x) { return x; }
};

// The bits of `from` as a vector or value of the same size.
template <typename To, typename From>
ALWAYS_INLINE To bits_as(const From& from) {
    static_assert(sizeof(To) == sizeof(From), "same size");
    To to;
    memcpy(&to, &from, sizeof to);
    return to;
}
