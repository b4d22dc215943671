#include "decomposition/mstl.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

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

// Fills out[i] with the mean of window [lo, hi) from the prefix sums c. With
// Track, the non-finite values of y (which c counts as 0.0) are followed
// through the window and decide the windows that hold any.
template <bool Track>
void window_means(View<double> y, const std::vector<double>& c, std::uint64_t h, Series& out) {
    const std::size_t n = out.size();
    NonFiniteCounts inside;
    std::size_t entered = 0;  // values y[0..entered) have entered the window
    std::size_t left = 0;     // values y[0..left) have left it again
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t lo = i > h ? i - static_cast<std::size_t>(h) : 0;
        // i + h + 1 <= n is tested as h < n - i, which cannot overflow.
        const std::size_t hi = h < n - i ? i + static_cast<std::size_t>(h) + 1 : n;
        if constexpr (Track) {
            for (; entered < hi; ++entered) inside.update<true>(y[entered]);
            for (; left < lo; ++left) inside.update<false>(y[left]);
            if (inside.any()) {
                out[i] = inside.mean();
                continue;
            }
        }
        out[i] = (c[hi] - c[lo]) / static_cast<double>(hi - lo);
    }
}

}  // namespace

Series mstl_moving_average(View<double> y, std::uint64_t window) {
    const std::size_t n = y.size();
    const std::uint64_t h = window / 2;
    std::vector<double> c = work_array<double>(n + 1);
    Series out = Series::zeros(n);

    // c[k] = y[0] + ... + y[k-1] in index order. A non-finite value enters as
    // 0.0, so that it cannot spoil the sums of windows that do not hold it;
    // those windows are answered separately.
    bool finite = true;
    double sum = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const double v = y[k];
        const bool v_finite = std::isfinite(v);
        finite = finite && v_finite;
        sum = sum + (v_finite ? v : 0.0);
        c[k + 1] = sum;
    }

    if (finite) {
        window_means<false>(y, c, h, out);
    } else {
        window_means<true>(y, c, h, out);
    }
    return out;
}

Series mstl_extract_seasonal(View<double> y, std::uint64_t period) {
    const std::size_t n = y.size();
    // The phase sums, counts and means are sized before the series is read,
    // so that a period too large to store fails whatever the series.
    check_capacity<double>(period);
    check_capacity<std::uint64_t>(period);
    if (n > 0 && period == 0) fail_remainder_by_zero();

    // Only phases that hold an observation need storage: when period > n the
    // phases n..period-1 are empty and their mean is exactly 0.
    const std::size_t used = static_cast<std::size_t>(std::min<std::uint64_t>(n, period));
    std::vector<double> means = work_array<double>(used);  // phase sums, then phase means
    std::vector<std::uint64_t> counts = work_array<std::uint64_t>(used);
    Series out = Series::zeros(n);

    // Phase 0 is the phase of the first observation; j runs as i mod period.
    for (std::size_t i = 0, j = 0; i < n; ++i) {
        means[j] = means[j] + y[i];
        counts[j] = counts[j] + 1;
        if (++j == period) j = 0;
    }
    for (std::size_t j = 0; j < used; ++j) {
        means[j] = means[j] / static_cast<double>(std::max<std::uint64_t>(counts[j], 1));
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

    for (std::size_t i = 0, j = 0; i < n; ++i) {
        out[i] = means[j];
        if (++j == period) j = 0;
    }
    return out;
}

}  // namespace lumetra::decomposition
