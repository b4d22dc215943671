// Small numeric tools shared by the kernels: floors and clamps with a stated
// NaN rule, and checked sizes for the arrays a kernel allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/failure.hpp"

namespace lumetra {

// Floors and clamps. Two NaN rules, named apart, each written as the one
// comparison that gives it (a maximum or minimum instruction on x86-64, for a
// double as for a vector of them: see lanes.hpp):
//
//   at_least(x, floor)          x > floor ? x : floor    NaN becomes the floor
//   at_least_or_nan(x, floor)   x < floor ? floor : x    NaN stays NaN
//   at_most_or_nan(x, ceiling)  x > ceiling ? ceiling : x
//
// at_least is std::fmax(x, floor) for a nonzero floor and any x but a
// signalling NaN (which fmax would return quieted). The kernels keep
// std::fmax and std::fmin themselves where an input could reach them as a
// signalling NaN or where zeros of both signs meet.

[[gnu::always_inline]] inline double at_least(double x, double floor) noexcept {
    return x > floor ? x : floor;
}

[[gnu::always_inline]] inline double at_least_or_nan(double x, double floor) noexcept {
    return x < floor ? floor : x;
}

[[gnu::always_inline]] inline double at_most_or_nan(double x, double ceiling) noexcept {
    return x > ceiling ? ceiling : x;
}

// x limited to [lower, upper] by the two comparisons above; NaN passes.
[[gnu::always_inline]] inline double clamp_or_nan(double x, double lower, double upper) noexcept {
    return at_most_or_nan(at_least_or_nan(x, lower), upper);
}

// Checked sizes. Every array a kernel makes is sized through these before any
// allocation is attempted: a size whose bytes would pass the largest signed
// size fails with "capacity overflow".

// Fails unless n elements of T fit.
template <class T>
inline void check_capacity(std::size_t n, SourceLocation where = SourceLocation::current()) {
    if (n > static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(T)) fail_capacity_overflow(where);
}

// Fails unless rows * columns elements of T fit, tested without forming the
// product; returns the product.
template <class T>
inline std::size_t checked_product(std::size_t rows, std::size_t columns,
                                   SourceLocation where = SourceLocation::current()) {
    if (columns != 0 && rows > static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(T) / columns) {
        fail_capacity_overflow(where);
    }
    return rows * columns;
}

// a * b, or the largest size when the product does not fit.
inline std::size_t saturating_product(std::size_t a, std::size_t b) noexcept {
    if (b != 0 && a > std::numeric_limits<std::size_t>::max() / b) {
        return std::numeric_limits<std::size_t>::max();
    }
    return a * b;
}

// A zero-filled work array of n elements, sized with the capacity check.
template <class T>
inline std::vector<T> work_array(std::size_t n, SourceLocation where = SourceLocation::current()) {
    check_capacity<T>(n, where);
    return std::vector<T>(n);
}

}  // namespace lumetra
