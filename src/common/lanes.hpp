// Independent computations side by side in the lanes of a vector register.
//
// Kernels that have many independent sums (candidate windows, reservoir
// units) run several of them at once: each lane is IEEE arithmetic on its
// own, so a lane computes exactly what the same operations on a scalar
// would. Nothing here combines lanes; a sum is never split across lanes.
//
// Such a kernel is written once as a template on its vector type and built
// twice on x86-64: for the baseline (two-lane SSE2 vectors) and, in a
// function marked LUMETRA_AVX2, for AVX2 (four lanes), which is chosen at run
// time when avx2() says the processor runs it. Neither build fuses a multiply
// and an add (AVX2 does not include FMA, and contraction is off), so both give
// the same bits.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__x86_64__) && defined(__GNUC__)
#define LUMETRA_AVX2_PATHS 1
#define LUMETRA_AVX2 __attribute__((target("avx2")))
#if __has_include(<sys/platform/x86.h>)
// The C library's header declares its tests with C's _Bool, which GCC also
// accepts in C++ and Clang accepts only outside strict standard mode.
#if defined(__clang__) && !defined(_Bool)
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif
#endif
#else
#define LUMETRA_AVX2_PATHS 0
#endif

namespace lumetra::lanes {

// Whether code built for AVX2 may run here: the processor has it and the
// operating system keeps its registers. Where the C library reports the
// features it uses itself, its answer is taken, so that the baseline path can
// also be run on a processor with AVX2 (GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,
// which the tests use to compare both paths).
inline bool avx2() noexcept {
#if LUMETRA_AVX2_PATHS && defined(CPU_FEATURE_ACTIVE)
    return CPU_FEATURE_ACTIVE(AVX2);
#elif LUMETRA_AVX2_PATHS
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

// W doubles in one GCC vector. W = 2 is one SSE2 register, the x86-64
// baseline; in code compiled for AVX2, W = 4 is one AVX register. Elsewhere
// the compiler lowers the lanes to what the processor has.
template <std::size_t W>
struct VectorOf {
    typedef double type __attribute__((vector_size(W * sizeof(double))));
};
template <std::size_t W>
using Vector = typename VectorOf<W>::type;

// The result of comparing two Vector<W>: per lane, all bits set (-1) where
// the comparison holds, 0 where it does not.
template <std::size_t W>
struct MaskOf {
    typedef std::int64_t type __attribute__((vector_size(W * sizeof(std::int64_t))));
};
template <std::size_t W>
using Mask = typename MaskOf<W>::type;

// Lanes in a value: a plain double is one lane.
template <class V>
inline constexpr std::size_t width = sizeof(V) / sizeof(double);

// The helpers take vectors by reference and return none: passing a vector
// wider than the baseline registers by value would change the call ABI
// between code compiled for different instruction sets.

// v = p[0], ..., p[width - 1] (an unaligned load).
template <class V, class T>
[[gnu::always_inline]] inline void load(V& v, const T* p) noexcept {
    std::memcpy(&v, p, sizeof v);
}

// p[0], ..., p[width - 1] = v.
template <class V, class T>
[[gnu::always_inline]] inline void store(T* p, const V& v) noexcept {
    std::memcpy(p, &v, sizeof v);
}

template <class V>
[[gnu::always_inline]] inline double lane(const V& v, std::size_t l) noexcept {
    if constexpr (std::is_same_v<V, double>) {
        return v;
    } else {
        return v[l];
    }
}

template <class V>
[[gnu::always_inline]] inline void set_lane(V& v, std::size_t l, double x) noexcept {
    if constexpr (std::is_same_v<V, double>) {
        v = x;
    } else {
        v[l] = x;
    }
}

// Two adjacent values from each of width<V> rows that lie `stride` apart:
// lane l of c0 is p[l * stride] and lane l of c1 is p[l * stride + 1]. Each
// row's pair is loaded at once and the pairs are interleaved in registers (a
// transposition), instead of gathering the lanes one value at a time.
template <class V>
[[gnu::always_inline]] inline void load_pairs_transposed(V& c0, V& c1, const double* p,
                                                         std::size_t stride) noexcept {
    if constexpr (std::is_same_v<V, double>) {
        c0 = p[0];
        c1 = p[1];
    } else {
        using Pair = Vector<2>;
        Pair r0;
        Pair r1;
        load(r0, p);
        load(r1, p + stride);
        if constexpr (width<V> == 2) {
            c0 = __builtin_shufflevector(r0, r1, 0, 2);
            c1 = __builtin_shufflevector(r0, r1, 1, 3);
        } else {
            static_assert(width<V> == 4);
            Pair r2;
            Pair r3;
            load(r2, p + 2 * stride);
            load(r3, p + 3 * stride);
            const V even = __builtin_shufflevector(r0, r2, 0, 1, 2, 3);
            const V odd = __builtin_shufflevector(r1, r3, 0, 1, 2, 3);
            c0 = __builtin_shufflevector(even, odd, 0, 4, 2, 6);
            c1 = __builtin_shufflevector(even, odd, 1, 5, 3, 7);
        }
    }
}

// v = sqrt(v) in every lane (IEEE square roots, the same in any register).
template <class V>
[[gnu::always_inline]] inline void sqrt(V& v) noexcept {
    if constexpr (std::is_same_v<V, double>) {
        v = std::sqrt(v);
#if defined(__SSE2__)
    } else if constexpr (width<V> % 2 == 0) {
        // Two lanes at a time with the baseline instruction (which code built
        // for AVX2 encodes in its own form).
        double x[width<V>];
        std::memcpy(x, &v, sizeof v);
        for (std::size_t l = 0; l < width<V>; l += 2) {
            _mm_storeu_pd(x + l, _mm_sqrt_pd(_mm_loadu_pd(x + l)));
        }
        std::memcpy(&v, x, sizeof v);
#endif
    } else {
        for (std::size_t l = 0; l < width<V>; ++l) v[l] = std::sqrt(v[l]);
    }
}

// v = std::fmax(v, floor) in every lane, for a floor that is not NaN: a NaN
// lane becomes the floor. A vector lane takes v >= floor ? v : floor, which is
// what fmax gives in that case, down to the sign of a zero (a lane equal to
// the floor is kept, as fmax keeps its first operand then).
template <class V>
[[gnu::always_inline]] inline void at_least(V& v, double floor) noexcept {
    if constexpr (std::is_same_v<V, double>) {
        v = std::fmax(v, floor);
    } else {
        V f;
        for (std::size_t l = 0; l < width<V>; ++l) f[l] = floor;
        v = v >= f ? v : f;
    }
}

}  // namespace lumetra::lanes
