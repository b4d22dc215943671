// Simple exponential smoothing, the one recursion behind ses_sse, ses_filter
// and the hybrid theta objective's search and fit:
//
//   l[0] = x[0],   l[t] = (1 - a) * l[t-1] + a * x[t],
//
// each product formed before the sum that uses it, one IEEE operation at a
// time. The weight a is a double, or a lane vector of independent weights
// that are smoothed side by side, each lane exactly as alone.
#pragma once

#include <cstddef>

#include "common/lanes.hpp"

namespace lumetra {

// Sum of the squared one-step errors e[t] = x[t] - l[t-1], t = 1 .. n-1 (the
// error is formed with the level before x[t] is absorbed), added in
// increasing t from 0.0, for each of G weights; n >= 1. The G recursions are
// independent, so they advance together and their dependency chains overlap.
template <class V, std::size_t G, class Values>
[[gnu::always_inline]] inline void smoothing_sse(const Values& x, std::size_t n,
                                                 const V (&weight)[G], V (&sum)[G]) {
    V keep[G];
    V level[G];
    for (std::size_t g = 0; g < G; ++g) {
        keep[g] = 1.0 - weight[g];
        lanes::splat(level[g], x[0]);
        sum[g] = V{};
    }
    for (std::size_t t = 1; t < n; ++t) {
        const double value = x[t];
        for (std::size_t g = 0; g < G; ++g) {
            const V e = value - level[g];
            sum[g] = sum[g] + e * e;
            level[g] = keep[g] * level[g] + weight[g] * value;
        }
    }
}

// Calls on_level(t, l[t]) for t = 0 .. n-1 in increasing t; n >= 1.
template <class Values, class OnLevel>
[[gnu::always_inline]] inline void smoothing_levels(const Values& x, std::size_t n, double weight,
                                                    OnLevel&& on_level) {
    const double keep = 1.0 - weight;
    double level = x[0];
    on_level(std::size_t{0}, level);
    for (std::size_t t = 1; t < n; ++t) {
        level = keep * level + weight * x[t];
        on_level(t, level);
    }
}

}  // namespace lumetra
