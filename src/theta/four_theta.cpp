#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "theta/theta.hpp"

namespace lumetra::theta {

namespace {

// Indices below this are raised to it in the multiplicative mode, so that no
// phase divides an observation by (nearly) zero.
constexpr double index_floor = 0.01;

}  // namespace

std::tuple<Series, bool, Series> four_theta_deseasonalize(View<double> y, std::uint64_t period) {
    const std::size_t n = y.size();
    const std::size_t p = period;
    // The result holds one index per phase: a period too large to size fails
    // before anything else is done.
    check_capacity<double>(p);

    // Multiplicative when every observation is positive; NaN never wins the
    // comparison, and with no number at all the minimum stays +inf.
    double smallest = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < n; ++i) {
        if (y[i] < smallest) smallest = y[i];
    }
    const bool multiplicative = smallest > 0.0;

    if (p == 0) {
        // Observation i belongs to phase i mod p.
        if (n > 0) fail_remainder_by_zero();
        return {Series::zeros(0), multiplicative, Series::zeros(0)};
    }

    // Windows of p observations; window j is matched with observation j + h,
    // h = floor((p - 1) / 2), so for even p the centre is rounded down. A
    // period longer than the series leaves no window at all.
    const double r = 1.0 / static_cast<double>(p);
    const std::size_t windows = p <= n ? n - p + 1 : 0;
    const std::size_t h = (p - 1) / 2;

    // Phase sums, turned into the indices in place below.
    Series indices = Series::zeros(p);
    std::vector<std::uint64_t> counts = work_array<std::uint64_t>(p);
    for (std::size_t j = 0; j < windows; ++j) {
        // Each observation is weighted by 1/p and the terms added in order;
        // every window is summed afresh.
        double average = 0.0;
        for (std::size_t k = 0; k < p; ++k) average = average + y[j + k] * r;
        const std::size_t t = j + h;
        const std::size_t s = t % p;
        if (multiplicative) {
            // A non-positive or NaN average says nothing about the ratio.
            if (average > 0.0) {
                indices[s] = indices[s] + y[t] / average;
                ++counts[s];
            }
        } else {
            indices[s] = indices[s] + (y[t] - average);
            ++counts[s];
        }
    }

    // Raw indices: the mean contribution per phase. A phase without any gets
    // the neutral index of its mode (1 for ratios, 0 for differences).
    for (std::size_t s = 0; s < p; ++s) {
        if (counts[s] == 0) {
            indices[s] = multiplicative ? 1.0 : 0.0;
        } else {
            indices[s] = indices[s] / static_cast<double>(counts[s]);
        }
    }

    double sum = -0.0;
    for (std::size_t s = 0; s < p; ++s) sum = sum + indices[s];
    const double mean = sum / static_cast<double>(p);
    if (multiplicative) {
        // Ratios are rescaled to average 1 only when their mean allows it; the
        // floor comes after, and a NaN index stays NaN.
        if (mean > 0.0) {
            for (std::size_t s = 0; s < p; ++s) indices[s] = indices[s] / mean;
        }
        for (std::size_t s = 0; s < p; ++s) {
            if (indices[s] < index_floor) indices[s] = index_floor;
        }
    } else {
        for (std::size_t s = 0; s < p; ++s) indices[s] = indices[s] - mean;
    }

    Series adjusted = Series::zeros(n);
    std::size_t s = 0;  // i mod p
    for (std::size_t i = 0; i < n; ++i) {
        adjusted[i] = multiplicative ? y[i] / indices[s] : y[i] - indices[s];
        if (++s == p) s = 0;
    }
    return {std::move(indices), multiplicative, std::move(adjusted)};
}

Series four_theta_fitted(std::uint64_t n, View<double> thetas, View<double> intercepts,
                         View<double> slopes, View<double> weights, View<double> filtered_flat,
                         View<std::int64_t> filtered_lengths, View<double> last_levels) {
    const std::size_t lines = thetas.size();

    // Line i's levels occupy filtered_flat[off_i .. off_i + len_i - 1]. The
    // lengths are unsigned 64-bit counts (a negative entry reads as a huge
    // one), and the offsets wrap modulo 2^64 rather than overflow.
    std::vector<std::uint64_t> offsets = work_array<std::uint64_t>(lines);
    for (std::size_t i = 1; i < lines; ++i) {
        offsets[i] = offsets[i - 1] + static_cast<std::uint64_t>(filtered_lengths.at(i - 1));
    }

    Series f = Series::zeros(n);
    const std::size_t flat_size = filtered_flat.size();
    for (std::size_t i = 0; i < lines; ++i) {
        const double w = weights.at(i);
        const double a = intercepts.at(i);
        const double b = slopes.at(i);
        const double theta = thetas[i];
        const std::uint64_t length = static_cast<std::uint64_t>(filtered_lengths.at(i));
        const std::uint64_t offset = offsets[i];

        // The level of every time point is looked up, also on a theta-0 line
        // that does not use it: t < len_i reads the line's piece of
        // filtered_flat, which must lie inside it, and later points read
        // last_levels[i], which must exist.
        const std::uint64_t from_piece = std::min<std::uint64_t>(length, n);
        if (from_piece > 0 && (offset >= flat_size || from_piece > flat_size - offset)) {
            fail_view_index();
        }
        const double last = from_piece < n ? last_levels.at(i) : 0.0;

        if (theta == 0.0) {
            // The trend line alone.
            for (std::size_t t = 0; t < n; ++t) {
                f[t] = f[t] + w * (a + b * static_cast<double>(t));
            }
            continue;
        }
        // The mean of trend and level, formed as (w * (T + L)) * 0.5.
        for (std::size_t t = 0; t < from_piece; ++t) {
            const double trend = a + b * static_cast<double>(t);
            f[t] = f[t] + (w * (trend + filtered_flat[offset + t])) * 0.5;
        }
        for (std::size_t t = from_piece; t < n; ++t) {
            const double trend = a + b * static_cast<double>(t);
            f[t] = f[t] + (w * (trend + last)) * 0.5;
        }
    }
    return f;
}

}  // namespace lumetra::theta
