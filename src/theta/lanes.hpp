// The theta kernels' use of two-lane vectors (common/lanes.hpp): two doubles
// side by side in one SSE2 register, the x86-64 baseline. Every operation
// acts on each lane separately with the same IEEE double arithmetic as scalar
// code, so a lane holds exactly the value that the scalar formula gives. They
// are used across independent elements or candidates only, never to split a
// sum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/lanes.hpp"
#include "common/view.hpp"

namespace lumetra::theta {

using Double2 = lanes::Vector<2>;
// The result of comparing two Double2: all bits set in a lane where the
// comparison holds, zero where it does not (NaN compares false).
using Mask2 = lanes::Mask<2>;

inline constexpr std::size_t lane_count = 2;

inline Double2 both(double x) noexcept { return Double2{x, x}; }

// Elements i and i + 1 of a view, whatever its step.
inline Double2 pair_at(View<double> v, std::size_t i) noexcept { return Double2{v[i], v[i + 1]}; }

// For code written once for one element (a double) and for two neighbouring
// ones (a Double2): the first argument only selects the width.
inline double load_as(double, const double* from) noexcept { return *from; }
inline Double2 load_as(Double2, const double* from) noexcept {
    Double2 x;
    std::memcpy(&x, from, sizeof x);  // one unaligned two-lane load
    return x;
}
inline double load_as(double, View<double> v, std::size_t i) noexcept { return v[i]; }
inline Double2 load_as(Double2, View<double> v, std::size_t i) noexcept { return pair_at(v, i); }
inline void store(double* to, double x) noexcept { *to = x; }
inline void store(double* to, Double2 x) noexcept {
    to[0] = x[0];
    to[1] = x[1];
}

// Runs step(i, index) for i = begin .. end-1: two indices at a time, with
// index a Double2 holding i and i + 1 as doubles, then a last one alone, with
// index the double i. Every index of an array is below 2^53, so it is exact as
// a double and counting it up by 2.0 gives the same values as converting it.
template <class Step>
inline void for_each_pair(std::size_t begin, std::size_t end, Step step) {
    std::size_t i = begin;
    Double2 index = {static_cast<double>(begin), static_cast<double>(begin) + 1.0};
    for (; i + 1 < end; i += lane_count) {
        step(i, index);
        index = index + 2.0;
    }
    if (i < end) step(i, static_cast<double>(i));
}

}  // namespace lumetra::theta
