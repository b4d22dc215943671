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

// Two doubles side by side in one register (SSE2 on x86-64; the compiler
// lowers it to scalar code where there is no vector unit). Each lane is IEEE
// arithmetic on its own, so a lane computes exactly what a scalar would.
using Pair = double __attribute__((vector_size(16)));

// Lanes: one segment per double, two per Pair; segment g of a block lies at
// x + g * lag.
template <class T>
struct Lanes;

template <>
struct Lanes<double> {
    static constexpr std::size_t width = 1;
    static double splat(double v) { return v; }
    static double load(const double* x, std::size_t) { return x[0]; }
    static double lane(double v, std::size_t) { return v; }
};

template <>
struct Lanes<Pair> {
    static constexpr std::size_t width = 2;
    static Pair splat(double v) { return Pair{v, v}; }
    static Pair load(const double* x, std::size_t lag) { return Pair{x[0], x[lag]}; }
    static double lane(Pair v, std::size_t i) { return v[i]; }
};

// R/S statistics of V * width consecutive segments of length lag starting at
// x, computed side by side: every segment keeps its own sums in its own index
// order, so each result is bit-identical to a segment computed alone, while
// the independent dependency chains keep the processor busy. The segments'
// contributions are added to the lag's sum in segment order.
template <class T, std::size_t V>
void add_segments(const double* x, std::size_t lag, LagSum& out) {
    using L = Lanes<T>;
    constexpr std::size_t block = L::width;  // segments per vector
    const double length = static_cast<double>(lag);
    T sum[V], mean[V], c[V], lo[V], hi[V], sq[V];
    for (std::size_t v = 0; v < V; ++v) sum[v] = L::splat(0.0);
    for (std::size_t t = 0; t < lag; ++t) {
        for (std::size_t v = 0; v < V; ++v) sum[v] = sum[v] + L::load(x + v * block * lag + t, lag);
    }
    for (std::size_t v = 0; v < V; ++v) {
        mean[v] = sum[v] / L::splat(length);
        c[v] = L::splat(0.0);
        sq[v] = L::splat(0.0);
        // The extremes of the cumulative deviation count only the partial sums
        // after each value, not the starting 0.
        lo[v] = L::splat(std::numeric_limits<double>::max());
        hi[v] = L::splat(-std::numeric_limits<double>::max());
    }
    for (std::size_t t = 0; t < lag; ++t) {
        for (std::size_t v = 0; v < V; ++v) {
            const T d = L::load(x + v * block * lag + t, lag) - mean[v];
            c[v] = c[v] + d;
            lo[v] = c[v] < lo[v] ? c[v] : lo[v];
            hi[v] = c[v] > hi[v] ? c[v] : hi[v];
            sq[v] = sq[v] + d * d;
        }
    }
    for (std::size_t v = 0; v < V; ++v) {
        for (std::size_t i = 0; i < L::width; ++i) {
            const double sd = std::sqrt(L::lane(sq[v], i) / static_cast<double>(lag - 1));
            if (sd > min_spread) {
                out.rs_sum = out.rs_sum + (L::lane(hi[v], i) - L::lane(lo[v], i)) / sd;
                ++out.used;
            }
        }
    }
}

LagSum lag_sum(const double* x, std::size_t n, std::size_t lag) {
    constexpr std::size_t vectors = 2;
    constexpr std::size_t group = vectors * Lanes<Pair>::width;
    const std::size_t segments = n / lag;
    LagSum out;
    std::size_t k = 0;
    for (; k + group <= segments; k += group) add_segments<Pair, vectors>(x + k * lag, lag, out);
    for (; k < segments; ++k) add_segments<double, 1>(x + k * lag, lag, out);
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
