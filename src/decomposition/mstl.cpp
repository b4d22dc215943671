#include "decomposition/mstl.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "common/dispatch.hpp"
#include "common/lanes.hpp"
#include "common/series_writer.hpp"

namespace lumetra::decomposition {

namespace {

// The non-finite values inside a moving window, kept up to date as the window
// slides: one count per kind, added when a value enters and taken off when it
// leaves.
struct NonFiniteCounts {
    std::size_t nan = 0;
    std::size_t positive = 0;
    std::size_t negative = 0;

    template <bool Enter>
    void update(double v) noexcept {
        if (std::isfinite(v)) return;
        std::size_t& count = std::isnan(v) ? nan : (v > 0.0 ? positive : negative);
        if constexpr (Enter) {
            ++count;
        } else {
            --count;
        }
    }

    bool any() const noexcept { return nan + positive + negative != 0; }

    // The mean of a window that holds non-finite values: NaN when they cannot
    // be summed (a NaN, or infinities of both signs), else the infinity.
    double mean() const noexcept {
        if (nan != 0 || (positive != 0 && negative != 0)) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return positive != 0 ? std::numeric_limits<double>::infinity()
                             : -std::numeric_limits<double>::infinity();
    }
};

// The prefix sum c[end] = y[0] + ... + y[end-1], formed in index order from
// 0.0. With Track, a non-finite value enters as 0.0, so that it cannot spoil
// the sums of windows that do not hold it (those windows are answered
// separately), and is counted in the window's non-finite values.
template <bool Track>
struct PrefixSum {
    double sum = 0.0;
    std::size_t end = 0;

    template <bool Enter>
    void add(View<double> y, NonFiniteCounts& inside) noexcept {
        const double v = y[end++];
        if constexpr (Track) {
            sum = sum + (std::isfinite(v) ? v : 0.0);
            inside.update<Enter>(v);
        } else {
            sum = sum + v;
        }
    }
};

// out[i] = (c[hi] - c[lo]) / (hi - lo) for the window [lo, hi) of position
// i, lo = max(0, i - h) and hi = min(n, i + h + 1). From one position to the
// next each end of the window moves forward by at most one, so the two prefix
// sums are carried along as running sums, one per end: each adds the same
// terms in the same order as a stored prefix sum would, and no array of
// prefix sums is needed; the two chains of additions are independent.
//
// Where the window lies inside the series (h < i < n - h), both ends move at
// every step and the count is 2h + 1: there the differences of width<V>
// positions are gathered in a vector and divided together. Elsewhere, and for
// a series with non-finite values, positions are taken in blocks, so that the
// divisions of a block, which are independent, run side by side.
template <bool Track>
struct WindowMeans {
    template <class V>
    [[gnu::always_inline]] static void run(View<double> y, std::uint64_t h,
                                           Series& means) noexcept {
        const std::size_t n = y.size();
        PrefixSum<Track> upper;  // c[hi]
        PrefixSum<Track> lower;  // c[lo]
        NonFiniteCounts inside;
        // The window of position 0 is [0, min(n, h + 1)); h < n - 0 is h + 1 <= n.
        const std::size_t first_hi = h < n ? static_cast<std::size_t>(h) + 1 : n;
        while (upper.end < first_hi) upper.template add<true>(y, inside);
        SeriesWriter<V> out(means);

        // Positions begin .. end-1, one at a time.
        const auto edge = [&](std::size_t begin, std::size_t end) LUMETRA_INLINE {
            constexpr std::size_t block = 16;
            for (std::size_t first = begin; first < end; first += block) {
                const std::size_t len = std::min(block, end - first);
                double difference[block];
                double count[block];
                for (std::size_t k = 0; k < len; ++k) {
                    const std::size_t i = first + k;
                    if (i > 0) {
                        // hi moves on while i + h + 1 <= n (tested as h < n - i,
                        // which cannot overflow), lo once i > h.
                        if (h < n - i) upper.template add<true>(y, inside);
                        if (i > h) lower.template add<false>(y, inside);
                    }
                    difference[k] = upper.sum - lower.sum;
                    count[k] = static_cast<double>(upper.end - lower.end);
                    if constexpr (Track) {
                        // A window holding a non-finite value takes its mean
                        // from them: NaN or an infinity, which the division by
                        // the (positive) count below leaves as it is.
                        if (inside.any()) difference[k] = inside.mean();
                    }
                }
                for (std::size_t k = 0; k < len; ++k) {
                    out.store(first + k, difference[k] / count[k]);
                }
            }
        };

        // The inner positions h + 1 .. n - h - 1, if any.
        const bool inner = !Track && h < n / 2 && 2 * h + 1 < n;  // GCOVR_EXCL_BR_LINE: h < n/2
        const std::size_t inner_begin = inner ? static_cast<std::size_t>(h) + 1 : n;
        const std::size_t inner_end = inner ? n - static_cast<std::size_t>(h) : n;
        edge(0, inner_begin);
        const double count = static_cast<double>(2 * h + 1);
        lanes::tile<V, 1>(inner_begin, inner_end,
                          [&]<class U, std::size_t>(std::size_t first) LUMETRA_INLINE {
                              U difference;
                              lanes::fill(difference, [&](std::size_t) LUMETRA_INLINE {
                                  upper.template add<true>(y, inside);
                                  lower.template add<false>(y, inside);
                                  return upper.sum - lower.sum;
                              });
                              out.store(first, difference / count);
                          });
        edge(inner_end, n);
        out.finish();
    }
};

// Whether no value of y is NaN or infinite: v - v is 0 for a finite v and NaN
// otherwise. Every value is tested (no early exit), a vector at a time over a
// contiguous block.
template <class V>
[[gnu::always_inline]] inline bool all_finite(View<double> y) noexcept {
    constexpr std::size_t W = lanes::width<V>;
    const std::size_t n = y.size();
    std::size_t i = 0;
    bool finite = true;
    if (y.contiguous()) {
        const double* p = y.data();
        lanes::Mask<W> bad = {};
        for (; i + W <= n; i += W) {
            V v;
            lanes::load(v, p + i);
            const V z = v - v;
            bad |= z != z;
        }
        for (std::size_t l = 0; l < W; ++l) finite = finite && bad[l] == 0;
    }
    for (; i < n; ++i) finite = finite && y[i] - y[i] == 0.0;
    return finite;
}

// The window means of a series, by the sums that skip non-finite values only
// where it has any.
struct MovingAverage {
    template <class V>
    [[gnu::always_inline]] static void run(View<double> y, std::uint64_t h,
                                           Series& means) noexcept {
        if (all_finite<V>(y)) {
            WindowMeans<false>::run<V>(y, h, means);
        } else {
            WindowMeans<true>::run<V>(y, h, means);
        }
    }
};

}  // namespace

Series mstl_moving_average(View<double> y, std::uint64_t window) {
    const std::size_t n = y.size();
    Series means = Series::for_overwrite(n);  // every position is written below
    lanes::dispatch<MovingAverage>(y, window / 2, means);
    return means;
}

Series mstl_extract_seasonal(View<double> y, std::uint64_t period) {
    const std::size_t n = y.size();
    // The phase sums, counts and means are sized before the series is read,
    // so that a period too large to store fails whatever the series.
    check_capacity<double>(period);
    check_capacity<std::uint64_t>(period);
    if (n > 0 && period == 0) fail_remainder_by_zero();

    // Only phases that hold an observation need storage: when period > n the
    // phases n..period-1 are empty and their mean is exactly 0. Phase 0 is
    // the phase of the first observation, and observation i belongs to phase
    // i mod period.
    const std::size_t used = static_cast<std::size_t>(std::min<std::uint64_t>(n, period));
    std::vector<double> means = work_array<double>(used);  // phase sums, then phase means
    Series out = Series::for_overwrite(n);                 // every position is written below

    // The series is read one period at a time: within a period every
    // observation belongs to its own phase, so the phase sums take one term
    // each, side by side, and every phase sum still adds its observations in
    // index order.
    const std::size_t whole = used == 0 ? 0 : n / used * used;
    for (std::size_t first = 0; first < whole; first += used) {
        for (std::size_t j = 0; j < used; ++j) means[j] = means[j] + y[first + j];
    }
    for (std::size_t j = 0; whole + j < n; ++j) means[j] = means[j] + y[whole + j];

    // Phase j has one observation per whole period, and one more for the
    // first n mod period phases.
    const std::size_t periods = used == 0 ? 0 : n / used;
    const std::size_t longer = n - whole;
    for (std::size_t j = 0; j < used; ++j) {
        const std::size_t count = periods + (j < longer ? 1 : 0);
        means[j] = means[j] / static_cast<double>(std::max<std::size_t>(count, 1));
    }

    if (period > 0) {
        // The pattern is centred on the mean of all period phase means, the
        // empty phases counting with their value +0.0. A sum started at +0.0
        // is never -0.0, so adding +0.0 leaves it unchanged: the empty phases
        // need neither storage nor a loop.
        double total = 0.0;
        for (std::size_t j = 0; j < used; ++j) total = total + means[j];
        const double centre = total / static_cast<double>(period);
        for (std::size_t j = 0; j < used; ++j) means[j] = means[j] - centre;
    }

    // Every value written is one of the phase means.
    SeriesWriter<double> written(out);
    for (std::size_t j = 0; j < used; ++j) written.see(means[j]);
    written.finish();

    double* o = out.data();
    for (std::size_t first = 0; first < whole; first += used) {
        std::copy(means.begin(), means.end(), o + first);
    }
    std::copy(means.begin(), means.begin() + static_cast<std::ptrdiff_t>(n - whole), o + whole);
    return out;
}

}  // namespace lumetra::decomposition
