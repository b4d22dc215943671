#include "pattern/dtsf.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumetra::pattern {

namespace {

// Mean and floored population standard deviation of a window, as used to
// z-normalise it: var = sumsq / w - mean^2, a negative var (from rounding)
// raised to 0, and sd floored at 1e-8 so that a constant window normalises to
// zeros. fmax also turns a NaN var or sd into the floor.
struct WindowScale {
    double mean;
    double sd;
};

WindowScale window_scale(View<double> y, std::size_t start, std::size_t w) noexcept {
    const double width = static_cast<double>(w);
    double sum = 0.0;
    double sumsq = 0.0;
    for (std::size_t i = 0; i < w; ++i) {
        const double v = y[start + i];
        sum = sum + v;
        sumsq = sumsq + v * v;
    }
    const double mean = sum / width;
    const double var = sumsq / width - mean * mean;
    const double sd = std::fmax(std::sqrt(std::fmax(var, 0.0)), 1e-8);
    return {mean, sd};
}

// An unsigned key whose order is the numeric order of doubles (-0.0 just
// before +0.0), with every NaN after +inf. Selection and sorting compare keys,
// so that values that do not compare (NaN) still have a fixed place and the
// standard algorithms always see a strict ordering.
std::uint64_t ascending_key(double v) noexcept {
    if (std::isnan(v)) return UINT64_MAX;
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

// A candidate window of dtsf_fit_residuals: its distance to the query (as an
// ascending key) and its start. Equal distances are ordered by start, so that
// the earlier window is preferred at the selection boundary.
struct Candidate {
    std::uint64_t key;
    std::size_t start;

    friend bool operator<(const Candidate& a, const Candidate& b) noexcept {
        return a.key < b.key || (a.key == b.key && a.start < b.start);
    }
};

}  // namespace

Series dtsf_distances(View<double> y, View<double> query_norm, std::uint64_t w,
                      std::uint64_t max_start, bool normalize, double time_decay,
                      std::uint64_t n_total) {
    if (max_start == 0) return Series::zeros(0);

    // The result's size is checked first, then the windows; both before any
    // allocation.
    if (max_start > static_cast<std::uint64_t>(PTRDIFF_MAX)) {
        fail("ndarray: Shape too large, product of non-zero axis lengths overflows isize");
    }
    check_capacity<double>(max_start);
    const std::size_t n = y.size();
    if (w > n) fail_range_end(w, n);
    if (w > 0 && query_norm.size() < w) fail_view_index();
    // The last start, max_start - 1, must leave room for its window: the
    // first start that does not is n - w + 1, whose window would end (or, for
    // w = 0, start) at n + 1.
    if (max_start - 1 > n - w) {
        if (w > 0) fail_range_end(n + 1, n);
        fail_range_start(n + 1, n);
    }

    Series out = Series::zeros(max_start);
    const double width = static_cast<double>(w);
    for (std::size_t s = 0; s < max_start; ++s) {
        double d = 0.0;
        if (normalize) {
            const WindowScale scale = window_scale(y, s, w);
            for (std::size_t i = 0; i < w; ++i) {
                const double e = query_norm[i] - (y[s + i] - scale.mean) / scale.sd;
                d = d + e * e;
            }
        } else {
            for (std::size_t i = 0; i < w; ++i) {
                const double e = query_norm[i] - y[s + i];
                d = d + e * e;
            }
        }
        const double dist = std::sqrt(d / width);
        // The age wraps modulo 2^64 when a start lies after n_total.
        const double age = static_cast<double>(n_total - s);
        const double weight = std::fmax(std::exp((-time_decay) * age), 1e-10);
        out[s] = dist / weight;
    }
    return out;
}

Series dtsf_fit_residuals(View<double> y, std::uint64_t w, std::uint64_t n_neighbors,
                          bool normalize) {
    const std::size_t n = y.size();
    Series out = Series::zeros(n);
    if (w >= n) return out;

    // Position t has the t - w candidate windows starting at 0..t-w-1, the
    // last position the most. Work storage is sized once for all positions.
    const std::size_t most = n - 1 - w;
    const double width = static_cast<double>(w);
    std::vector<Candidate> candidates = work_array<Candidate>(most);
    std::vector<double> next = work_array<double>(std::min<std::uint64_t>(n_neighbors, most));

    // With normalize, every window (candidate or query) is scaled by its own
    // mean and sd. They depend on the window alone, so each window's scale is
    // computed once, with exactly the arithmetic a fresh computation would do.
    const std::size_t windows = normalize ? n - w + 1 : 0;
    std::vector<WindowScale> scales = work_array<WindowScale>(windows);
    for (std::size_t s = 0; s < windows; ++s) scales[s] = window_scale(y, s, w);
    std::vector<double> query = work_array<double>(normalize ? w : 0);

    for (std::size_t t = w + 1; t < n; ++t) {
        const std::size_t count = t - w;
        const std::size_t k = std::min<std::uint64_t>(n_neighbors, count);
        if (k == 0) {
            // The k-th smallest of the candidates is asked for with k - 1
            // taken modulo 2^64.
            fail("partition_at_index index " + std::to_string(k - 1) +
                 " greater than length of slice " + std::to_string(count));
        }

        const std::size_t q = t - w;  // the query window is y[q..t)
        if (normalize) {
            const WindowScale qs = scales[q];
            for (std::size_t i = 0; i < w; ++i) query[i] = (y[q + i] - qs.mean) / qs.sd;
        }
        for (std::size_t s = 0; s < count; ++s) {
            double d = 0.0;
            if (normalize) {
                const WindowScale cs = scales[s];
                for (std::size_t i = 0; i < w; ++i) {
                    const double e = query[i] - (y[s + i] - cs.mean) / cs.sd;
                    d = d + e * e;
                }
            } else {
                for (std::size_t i = 0; i < w; ++i) {
                    const double e = y[q + i] - y[s + i];
                    d = d + e * e;
                }
            }
            candidates[s] = {ascending_key(std::sqrt(d / width)), s};
        }

        // The k nearest in expected linear time; their order does not matter.
        if (k < count) {
            std::nth_element(candidates.begin(),
                             candidates.begin() + static_cast<std::ptrdiff_t>(k),
                             candidates.begin() + static_cast<std::ptrdiff_t>(count));
        }
        for (std::size_t r = 0; r < k; ++r) next[r] = y[candidates[r].start + w];
        std::sort(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(k),
                  [](double a, double b) { return ascending_key(a) < ascending_key(b); });

        const std::size_t m = k / 2;
        const double median = k % 2 == 1 ? next[m] : (next[m - 1] + next[m]) * 0.5;
        out[t] = y[t] - median;
    }
    return out;
}

}  // namespace lumetra::pattern
