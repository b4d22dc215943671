#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "theta/lanes.hpp"
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

    if (p == 0) {
        // Observation i belongs to phase i mod p. With no observation the
        // mode is multiplicative: the minimum of nothing is +inf.
        if (n > 0) fail_remainder_by_zero();
        return {Series::zeros(0), true, Series::zeros(0)};
    }

    // The adjusted series is written last; until then its buffer holds the
    // window terms y[i] * r, which every window containing observation i
    // would otherwise form again: each is the same product.
    const double r = 1.0 / static_cast<double>(p);
    Series adjusted = Series::for_overwrite(n);
    double* const term = adjusted.data();

    // Multiplicative when every observation is positive, that is when the
    // smallest non-NaN value (+inf if there is none) is above 0: no
    // observation may be <= 0, a test that NaN never passes. Two observations
    // per step, in the same pass as the window terms.
    std::size_t i = 0;
    Mask2 nonpositive = {0, 0};
    for (; i + 1 < n; i += lane_count) {
        const Double2 value = pair_at(y, i);
        store(term + i, value * r);
        nonpositive = nonpositive | (value <= 0.0);
    }
    bool multiplicative = (nonpositive[0] | nonpositive[1]) == 0;
    if (i < n) {
        term[i] = y[i] * r;
        multiplicative = multiplicative && !(y[i] <= 0.0);
    }

    // Windows of p observations; window j is matched with observation j + h,
    // h = floor((p - 1) / 2), so for even p the centre is rounded down. A
    // period longer than the series leaves no window at all.
    const std::size_t windows = p <= n ? n - p + 1 : 0;
    const std::size_t h = (p - 1) / 2;

    // The average of window j: its terms added from 0.0 in increasing k, each
    // window summed afresh. The same code adds up one window (double) or two
    // neighbouring ones side by side (Double2).
    const auto window_average = [term, p](std::size_t j, auto zero) {
        auto average = zero;
#pragma GCC unroll 4
        for (std::size_t k = 0; k < p; ++k) average = average + load_as(zero, term + j + k);
        return average;
    };

    // Phase sums, turned into the indices in place below. Observation t of
    // window j has phase t mod p, counted along instead of divided out.
    Series indices = Series::zeros(p);
    std::vector<std::uint64_t> counts = work_array<std::uint64_t>(p);
    const auto next_phase = [p](std::size_t s) { return s + 1 == p ? 0 : s + 1; };
    std::size_t s = h;  // (0 + h) mod p, as h < p
    // A ratio counts only for a positive average (not for a non-positive or
    // NaN one, which says nothing about the ratio); a difference always does.
    const auto contribute = [&](double average, double contribution) {
        if (!multiplicative || average > 0.0) {
            indices[s] = indices[s] + contribution;
            ++counts[s];
        }
        s = next_phase(s);
    };
    // Two windows at a time: their averages and their ratios or differences
    // side by side, then added to their phases one after the other. A lane
    // whose average does not count computes a ratio that is never used.
    std::size_t j = 0;
    for (; j + 1 < windows; j += lane_count) {
        const Double2 average = window_average(j, both(0.0));
        const Double2 value = pair_at(y, j + h);
        const Double2 contribution = multiplicative ? value / average : value - average;
        contribute(average[0], contribution[0]);
        contribute(average[1], contribution[1]);
    }
    if (j < windows) {
        const double average = window_average(j, 0.0);
        const double value = y[j + h];
        contribute(average, multiplicative ? value / average : value - average);
    }

    // Raw indices: the mean contribution per phase. A phase without any gets
    // the neutral index of its mode (1 for ratios, 0 for differences).
    for (std::size_t phase = 0; phase < p; ++phase) {
        if (counts[phase] == 0) {
            indices[phase] = multiplicative ? 1.0 : 0.0;
        } else {
            indices[phase] = indices[phase] / static_cast<double>(counts[phase]);
        }
    }

    double sum = -0.0;
    for (std::size_t phase = 0; phase < p; ++phase) sum = sum + indices[phase];
    const double mean = sum / static_cast<double>(p);
    if (multiplicative) {
        // Ratios are rescaled to average 1 only when their mean allows it; the
        // floor comes after, and a NaN index stays NaN.
        if (mean > 0.0) {
            for (std::size_t phase = 0; phase < p; ++phase) indices[phase] = indices[phase] / mean;
        }
        for (std::size_t phase = 0; phase < p; ++phase) {
            if (indices[phase] < index_floor) indices[phase] = index_floor;
        }
    } else {
        for (std::size_t phase = 0; phase < p; ++phase) indices[phase] = indices[phase] - mean;
    }

    // The adjusted series, two observations at a time with the indices of
    // their phases (i mod p, counted along).
    const auto adjust = [multiplicative](auto value, auto index) {
        return multiplicative ? value / index : value - index;
    };
    s = 0;
    for (i = 0; i + 1 < n; i += lane_count) {
        const std::size_t s1 = next_phase(s);
        store(&adjusted[i], adjust(pair_at(y, i), Double2{indices[s], indices[s1]}));
        s = next_phase(s1);
    }
    if (i < n) adjusted[i] = adjust(y[i], indices[s]);
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

    // Every line is checked before any is accumulated: a failure returns no
    // result either way. Line i needs weights, intercepts, slopes and
    // filtered_lengths to have an element i; the level of every time point is
    // looked up, also on a theta-0 line that does not use it: t < len_i reads
    // the line's piece of filtered_flat, which must lie inside it, and later
    // points read last_levels[i], which must exist. The result is sized
    // before any line is checked.
    check_capacity<double>(n);
    const std::size_t flat_size = filtered_flat.size();
    for (std::size_t i = 0; i < lines; ++i) {
        (void)weights.at(i);
        (void)intercepts.at(i);
        (void)slopes.at(i);
        const std::uint64_t length = static_cast<std::uint64_t>(filtered_lengths.at(i));
        const std::uint64_t offset = offsets[i];
        const std::uint64_t from_piece = std::min<std::uint64_t>(length, n);
        if (from_piece > 0 && (offset >= flat_size || from_piece > flat_size - offset)) {
            fail_view_index();
        }
        if (from_piece < n) (void)last_levels.at(i);
    }

    // The lines are added into each f[t] in increasing i. The time points are
    // taken in blocks, all lines over one block before the next, so that the
    // block of f stays in the first-level cache instead of making one pass
    // over memory per line; within a line two time points are formed at a
    // time.
    //
    // f starts at 0.0: the first line adds its terms to 0.0 itself (which
    // turns -0.0 into +0.0 as the addition to a zeroed f would), so the
    // result needs no zeroing pass unless there is no line at all.
    Series f = lines == 0 ? Series::zeros(n) : Series::for_overwrite(n);
    constexpr std::size_t block = 1024;
    double* const out = f.data();
    for (std::size_t begin = 0; begin < n; begin += block) {
        const std::size_t end = std::min<std::size_t>(n, begin + block);
        for (std::size_t i = 0; i < lines; ++i) {
            const bool first = i == 0;
            const auto add = [first, out](std::size_t t, auto term) {
                const decltype(term) before = first ? decltype(term){} : load_as(term, out + t);
                store(out + t, before + term);
            };
            const double w = weights[i];
            const double a = intercepts[i];
            const double b = slopes[i];
            if (thetas[i] == 0.0) {
                // The trend line alone.
                for_each_pair(begin, end,
                              [=](std::size_t t, auto at) { add(t, w * (a + b * at)); });
                continue;
            }
            // The mean of trend and level, formed as (w * (T + L)) * 0.5:
            // levels from the line's piece of filtered_flat, then its last
            // level.
            const std::size_t from_piece =
                std::min<std::uint64_t>(static_cast<std::uint64_t>(filtered_lengths[i]), n);
            const std::size_t split = std::clamp(from_piece, begin, end);
            const std::uint64_t offset = offsets[i];
            for_each_pair(begin, split, [=](std::size_t t, auto at) {
                const auto level = load_as(at, filtered_flat, offset + t);
                add(t, (w * ((a + b * at) + level)) * 0.5);
            });
            if (split == end) continue;
            const double last = last_levels[i];
            for_each_pair(split, end, [=](std::size_t t, auto at) {
                add(t, (w * ((a + b * at) + last)) * 0.5);
            });
        }
    }
    return f;
}

}  // namespace lumetra::theta
