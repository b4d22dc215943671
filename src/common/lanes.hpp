// Independent computations side by side in the lanes of a vector register:
// the one vector vocabulary of the kernels.
//
// Kernels that have many independent chains (candidate windows, reservoir
// units, series of a batch, smoothing weights) run several of them at once:
// each lane is IEEE arithmetic on its own, so a lane computes exactly what
// the same operations on a double would. Nothing here combines lanes of
// doubles; a sum is never split across lanes, and no multiply and add are
// fused.
//
// A kernel is written once as a template on its vector type V, which is
// either a plain double (one lane, for the scalar rest) or Vector<W>. The
// helpers below take the same arguments for both, so one body serves every
// width. dispatch.hpp builds such a kernel for the x86-64 baseline (W = 2, one
// SSE2 register) and for AVX2 (W = 4) and picks one per process.
//
// The helpers take vectors by reference and return none: passing a vector
// wider than the baseline registers by value would change the call ABI
// between code compiled for different instruction sets. Intrinsics and
// compiler barriers appear only here, each intrinsic with a portable
// equivalent for other targets.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/numeric.hpp"
#include "common/view.hpp"

// For the lambdas that a kernel body hands to tile() and the like: they are
// inlined into each build of the kernel, so that they are compiled for its
// instruction set (a lambda does not take its enclosing function's target).
#define LUMETRA_INLINE __attribute__((always_inline))

namespace lumetra::lanes {

// W doubles in one GCC vector; elsewhere than x86-64 the compiler lowers the
// lanes to what the processor has.
template <std::size_t W>
struct VectorOf {
    typedef double type __attribute__((vector_size(W * sizeof(double))));
};
template <std::size_t W>
using Vector = typename VectorOf<W>::type;

// The result of comparing two Vector<W>: per lane, all bits set (-1) where
// the comparison holds, 0 where it does not (a NaN compares false).
template <std::size_t W>
struct MaskOf {
    typedef std::int64_t type __attribute__((vector_size(W * sizeof(std::int64_t))));
};
template <std::size_t W>
using Mask = typename MaskOf<W>::type;

// The two-lane vector of the x86-64 baseline.
using Double2 = Vector<2>;

// Lanes in a value: a plain double is one lane.
template <class V>
inline constexpr std::size_t width = sizeof(V) / sizeof(double);

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

template <class V, class Value, std::size_t... L>
[[gnu::always_inline]] inline void fill_lanes(V& v, Value& value, std::index_sequence<L...>) {
    v = V{value(L)...};  // evaluated in lane order
}

// Lane l = value(l) for every lane, called in increasing l.
template <class V, class Value>
[[gnu::always_inline]] inline void fill(V& v, Value&& value) {
    if constexpr (std::is_same_v<V, double>) {
        v = value(std::size_t{0});
    } else {
        fill_lanes(v, value, std::make_index_sequence<width<V>>{});
    }
}

// Every lane x.
template <class V>
[[gnu::always_inline]] inline void splat(V& v, double x) noexcept {
    if constexpr (std::is_same_v<V, double>) {
        v = x;
    } else {
        // x - 0 is x, bit for bit (a NaN keeps its payload): written so, the
        // compiler broadcasts x in one instruction, or folds a constant,
        // where a lane-by-lane constructor can make it assemble the vector
        // from halves at every use.
        v = x - V{};
    }
}

// v = p[0], ..., p[width - 1] (an unaligned load).
template <class V, class T>
[[gnu::always_inline]] inline void load(V& v, const T* p) noexcept {
    std::memcpy(&v, p, sizeof v);
}

// v = y[i], ..., y[i + width - 1] of a view, whatever its step: one load when
// the elements are adjacent.
template <class V>
[[gnu::always_inline]] inline void load(V& v, View<double> y, std::size_t i) noexcept {
    if (y.step() == 1) {
        load(v, y.data() + i);
    } else {
        fill(v, [&](std::size_t l) { return y[i + l]; });
    }
}

// p[0], ..., p[width - 1] = v.
template <class V, class T>
[[gnu::always_inline]] inline void store(T* p, const V& v) noexcept {
    std::memcpy(p, &v, sizeof v);
}

// A square block of width<V> rows by width<V> lanes transposed in registers:
// row l is read as the width<V> values at from(l), then put(k, column) is
// called for every k with the vector whose lane l is from(l)[k]. It moves
// values and computes nothing (every bit, NaN payloads included, is kept).
// The rows and columns are named values, never an array, so that they stay
// in registers.
template <class V, class From, class Put>
[[gnu::always_inline]] inline void transposed(From&& from, Put&& put) {
    if constexpr (width<V> == 1) {
        V r0;
        load(r0, from(std::size_t{0}));
        put(std::size_t{0}, r0);
    } else if constexpr (width<V> == 2) {
        V r0;
        V r1;
        load(r0, from(std::size_t{0}));
        load(r1, from(std::size_t{1}));
        put(std::size_t{0}, V(__builtin_shufflevector(r0, r1, 0, 2)));
        put(std::size_t{1}, V(__builtin_shufflevector(r0, r1, 1, 3)));
    } else {
        static_assert(width<V> == 4);
        V r0;
        V r1;
        V r2;
        V r3;
        load(r0, from(std::size_t{0}));
        load(r1, from(std::size_t{1}));
        load(r2, from(std::size_t{2}));
        load(r3, from(std::size_t{3}));
        const V low01 = __builtin_shufflevector(r0, r1, 0, 4, 2, 6);
        const V high01 = __builtin_shufflevector(r0, r1, 1, 5, 3, 7);
        const V low23 = __builtin_shufflevector(r2, r3, 0, 4, 2, 6);
        const V high23 = __builtin_shufflevector(r2, r3, 1, 5, 3, 7);
        put(std::size_t{0}, V(__builtin_shufflevector(low01, low23, 0, 1, 4, 5)));
        put(std::size_t{1}, V(__builtin_shufflevector(high01, high23, 0, 1, 4, 5)));
        put(std::size_t{2}, V(__builtin_shufflevector(low01, low23, 2, 3, 6, 7)));
        put(std::size_t{3}, V(__builtin_shufflevector(high01, high23, 2, 3, 6, 7)));
    }
}

// The mask whose first k lanes are set and whose others are clear (k at most
// the mask's width): the lanes of a last, partial vector that hold data.
// It is read from a table of W set lanes followed by W clear ones.
template <std::size_t W>
inline constexpr std::array<std::int64_t, 2 * W> ones_then_zeros = [] {
    std::array<std::int64_t, 2 * W> table{};
    for (std::size_t l = 0; l < W; ++l) table[l] = -1;
    return table;
}();

template <class M>
[[gnu::always_inline]] inline void first_lanes(M& mask, std::size_t k) noexcept {
    constexpr std::size_t W = sizeof(M) / sizeof(std::int64_t);
    load(mask, ones_then_zeros<W>.data() + (W - k));
}

// The sum of the lanes of an integer vector (counts kept per lane, a mask),
// formed by halving the vector: integer sums are exact, so unlike a sum of
// doubles this one may be formed in any order.
template <class M>
[[gnu::always_inline]] inline std::uint64_t lane_total(const M& counts) noexcept {
    constexpr std::size_t W = sizeof(M) / sizeof(std::int64_t);
    static_assert(W == 2 || W == 4);
    if constexpr (W == 4) {
        const Mask<2> half = __builtin_shufflevector(counts, counts, 0, 1) +
                             __builtin_shufflevector(counts, counts, 2, 3);
        const Mask<2> sum = half + __builtin_shufflevector(half, half, 1, 0);
        return static_cast<std::uint64_t>(sum[0]);
    } else {
        const M sum = counts + __builtin_shufflevector(counts, counts, 1, 0);
        return static_cast<std::uint64_t>(sum[0]);
    }
}

// How many lanes of a comparison's mask are set (a set lane is -1).
template <class M>
[[gnu::always_inline]] inline std::size_t set_lane_count(const M& mask) noexcept {
    return static_cast<std::size_t>(0 - lane_total(mask));
}

// In every lane, whether |v| <= bound: the sign bit cleared, as fabs does,
// then compared (false for a NaN lane).
template <class V, class M>
[[gnu::always_inline]] inline void magnitude_at_most(M& out, const V& v, double bound) noexcept {
    const M magnitude = reinterpret_cast<M>(v) & std::numeric_limits<std::int64_t>::max();
    out = reinterpret_cast<V>(magnitude) <= bound;
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
        Double2 r0;
        Double2 r1;
        load(r0, p);
        load(r1, p + stride);
        if constexpr (width<V> == 2) {
            c0 = __builtin_shufflevector(r0, r1, 0, 2);
            c1 = __builtin_shufflevector(r0, r1, 1, 3);
        } else {
            static_assert(width<V> == 4);
            Double2 r2;
            Double2 r3;
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
        // for AVX2 encodes in its own form); std::sqrt would keep a library
        // call per lane for the error flag of a negative argument.
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

// x = std::pow(x, exponent) in every lane.
template <class V>
[[gnu::always_inline]] inline void pow(V& x, const V& exponent) {
    fill(x, [&](std::size_t l) { return std::pow(lane(x, l), lane(exponent, l)); });
}

// out = per lane, every bit of `yes` where the mask is set and of `no` where
// it is clear, formed as no ^ (mask & (yes ^ no)): a choice made by bit
// operations, with no branch to mispredict. With SSE2 the operations are the
// processor's own, so that the compiler keeps this form, whose yes ^ no it
// forms once, outside a loop, where both are fixed (the and, and-not, or of a
// selection would take one more operation at every use).
template <class V, class M>
[[gnu::always_inline]] inline void select_bits(V& out, const M& mask, const V& yes,
                                               const V& no) noexcept {
#if defined(__SSE2__)
    if constexpr (width<V> == 2) {
        const __m128d y = reinterpret_cast<__m128d>(yes);
        const __m128d n = reinterpret_cast<__m128d>(no);
        const __m128d m = reinterpret_cast<__m128d>(mask);
        out = reinterpret_cast<V>(_mm_xor_pd(n, _mm_and_pd(m, _mm_xor_pd(y, n))));
        return;
    }
#endif
    const M y = reinterpret_cast<M>(yes);
    const M n = reinterpret_cast<M>(no);
    out = reinterpret_cast<V>(n ^ (mask & (y ^ n)));
}

// Placed in a rarely taken branch, keeps it a branch: the compiler may not
// drop or merge this empty statement, so it cannot turn the branch into a
// selection (a maximum or minimum instruction). On a chain of dependent
// operations a predicted branch adds no latency, where a selection adds its
// own at every step.
[[gnu::always_inline]] inline void keep_branch() noexcept { asm volatile(""); }

// The floors and clamps of numeric.hpp, lane by lane, with the same NaN
// rules: each is the one comparison and selection that the scalar form is,
// operand for operand, so every lane gives the scalar bits.

// v = rule(v, bound) with the bound in every lane.
template <class V, class Rule>
[[gnu::always_inline]] inline void bound_lanes(V& v, double bound, Rule rule) noexcept {
    V b;
    splat(b, bound);
    rule(v, b);
}

// v = at_least(v, floor): v > floor ? v : floor, a NaN lane becomes the floor.
template <class V>
[[gnu::always_inline]] inline void at_least(V& v, double floor) noexcept {
    bound_lanes(v, floor, [](V& x, const V& f) LUMETRA_INLINE { x = x > f ? x : f; });
}

// v = at_least_or_nan(v, floor): v < floor ? floor : v, a NaN lane stays.
template <class V>
[[gnu::always_inline]] inline void at_least_or_nan(V& v, double floor) noexcept {
    bound_lanes(v, floor, [](V& x, const V& f) LUMETRA_INLINE { x = x < f ? f : x; });
}

// v = at_most_or_nan(v, ceiling): v > ceiling ? ceiling : v, a NaN lane stays.
template <class V>
[[gnu::always_inline]] inline void at_most_or_nan(V& v, double ceiling) noexcept {
    bound_lanes(v, ceiling, [](V& x, const V& c) LUMETRA_INLINE { x = x > c ? c : x; });
}

// Runs step(i, index) over i = begin .. end-1 (begin <= end), width<V>
// indices at a time with index a V holding i, i + 1, ... as doubles, then the
// rest one at a time with index the double i. Every index of an array is
// below 2^53, so it is exact as a double, and counting it up gives the same
// values as converting it.
template <class V, class Step>
[[gnu::always_inline]] inline void for_each_index(std::size_t begin, std::size_t end, Step&& step) {
    constexpr std::size_t W = width<V>;
    std::size_t i = begin;
    V index;
    fill(index,
         [begin](std::size_t l) { return static_cast<double>(begin) + static_cast<double>(l); });
    for (; end - i >= W; i += W) {
        step(i, index);
        index = index + static_cast<double>(W);
    }
    for (; i < end; ++i) step(i, static_cast<double>(i));
}

// How tile() covers the indices left over after the whole vectors.
enum class Rest {
    one_by_one,  // one index at a time, as a double
    overlap,     // one more vector ending at the last index, when there is
                 // room for one: it repeats indices already covered
};

// Covers the indices begin .. end-1 (begin <= end) in increasing order:
// blocks of G vectors of V while they fit, then single vectors, then the rest
// as R says, calling block.template operator()<U, K>(first) for K vectors of
// U (U is V or double) starting at index first.
template <class V, std::size_t G, Rest R = Rest::one_by_one, class Block>
[[gnu::always_inline]] inline void tile(std::size_t begin, std::size_t end, Block&& block) {
    constexpr std::size_t W = width<V>;
    std::size_t i = begin;
    for (; end - i >= G * W; i += G * W) block.template operator()<V, G>(i);
    for (; end - i >= W; i += W) block.template operator()<V, 1>(i);
    if (i == end) return;
    if constexpr (R == Rest::overlap) {
        if (end - begin >= W) return block.template operator()<V, 1>(end - W);
    }
    for (; i < end; ++i) block.template operator()<double, 1>(i);
}

}  // namespace lumetra::lanes
