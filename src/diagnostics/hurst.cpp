#include "diagnostics/hurst.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "common/series.hpp"

namespace lumetra::diagnostics {

namespace {

// Segments below this sample standard deviation have no usable spread. The
// test is written so that a NaN deviation (a segment holding NaN or an
// infinity) fails it as well.
constexpr double min_spread = 1e-10;

// Sum of R/S over the usable segments of one lag, and how many there were.
struct LagSum {
    double rs_sum = 0.0;
    std::size_t used = 0;
};

// R/S statistics of G consecutive segments of length lag starting at x,
// computed side by side: every segment keeps its own sums in its own index
// order, so each result is bit-identical to a segment computed alone, while
// the G independent dependency chains keep the processor busy. The segments'
// contributions are added to the lag's sum in segment order.
template <std::size_t G>
void add_segments(const double* x, std::size_t lag, LagSum& out) {
    const double length = static_cast<double>(lag);
    double sum[G];
    for (std::size_t g = 0; g < G; ++g) sum[g] = 0.0;
    for (std::size_t t = 0; t < lag; ++t) {
        for (std::size_t g = 0; g < G; ++g) sum[g] = sum[g] + x[g * lag + t];
    }
    double mean[G], c[G], lo[G], hi[G], sq[G];
    for (std::size_t g = 0; g < G; ++g) {
        mean[g] = sum[g] / length;
        c[g] = 0.0;
        sq[g] = 0.0;
        // The extremes of the cumulative deviation count only the partial sums
        // after each value, not the starting 0.
        lo[g] = std::numeric_limits<double>::max();
        hi[g] = -std::numeric_limits<double>::max();
    }
    for (std::size_t t = 0; t < lag; ++t) {
        for (std::size_t g = 0; g < G; ++g) {
            const double d = x[g * lag + t] - mean[g];
            c[g] = c[g] + d;
            lo[g] = c[g] < lo[g] ? c[g] : lo[g];
            hi[g] = c[g] > hi[g] ? c[g] : hi[g];
            sq[g] = sq[g] + d * d;
        }
    }
    for (std::size_t g = 0; g < G; ++g) {
        const double sd = std::sqrt(sq[g] / static_cast<double>(lag - 1));
        if (sd > min_spread) {
            out.rs_sum = out.rs_sum + (hi[g] - lo[g]) / sd;
            ++out.used;
        }
    }
}

LagSum lag_sum(const double* x, std::size_t n, std::size_t lag) {
    constexpr std::size_t group = 4;
    const std::size_t segments = n / lag;
    LagSum out;
    std::size_t k = 0;
    for (; k + group <= segments; k += group) add_segments<group>(x + k * lag, lag, out);
    for (; k < segments; ++k) add_segments<1>(x + k * lag, lag, out);
    return out;
}

}  // namespace

double hurst_exponent(View<double> y, std::uint64_t max_lag) {
    const std::size_t n = y.size();
    if (n < 20) return 0.5;
    const std::size_t max_k = std::min<std::size_t>(n / 4, max_lag);
    if (max_k < 2) return 0.5;

    // The segments are read as blocks; a strided, reversed or broadcast view
    // is first copied into index order, which gives the same values.
    std::vector<double> copy;
    const double* x = y.data();
    if (!y.contiguous()) {
        copy = work_array<double>(n);
        for (std::size_t i = 0; i < n; ++i) copy[i] = y[i];
        x = copy.data();
    }

    // The least-squares sums over the points (log L, log mean R/S) are
    // accumulated as the lags are visited, in increasing lag order: the same
    // terms in the same order as sums over stored point lists.
    double sx = 0.0, sy = 0.0, sxy = 0.0, sxx = 0.0;
    std::size_t points = 0;
    for (std::size_t lag = 2; lag <= max_k; ++lag) {
        const LagSum s = lag_sum(x, n, lag);
        if (s.used == 0) continue;
        const double px = std::log(static_cast<double>(lag));
        const double py = std::log(s.rs_sum / static_cast<double>(s.used));
        sx = sx + px;
        sy = sy + py;
        sxy = sxy + px * py;
        sxx = sxx + px * px;
        ++points;
    }
    if (points < 2) return 0.5;

    const double m = static_cast<double>(points);
    const double den = sxx * m - sx * sx;
    if (std::fabs(den) < 1e-15) return 0.5;
    const double slope = (sxy * m - sx * sy) / den;
    // fmax/fmin ignore a NaN operand, so a NaN slope becomes 0.
    return std::fmin(std::fmax(slope, 0.0), 1.0);
}

}  // namespace lumetra::diagnostics
