#include "diagnostics/hurst.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "common/contiguous.hpp"
#include "common/dispatch.hpp"
#include "common/lanes.hpp"

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

// The segments of a lag are independent, so G * L of them are computed side
// by side: lane l of vector g holds segment g * L + l of a block, which lies
// at x + (g * L + l) * lag. Every segment keeps its own sums in its own index
// order, so each result is bit-identical to a segment computed alone, while
// the independent dependency chains keep the processor busy. The segments'
// contributions are added to the lag's sum in segment order.

// Value t of each segment of a vector: x[t], x[lag + t], x[2 lag + t], ...
template <class V>
[[gnu::always_inline]] inline void load_segments(V& v, const double* x, std::size_t lag) noexcept {
    for (std::size_t l = 0; l < lanes::width<V>; ++l) lanes::set_lane(v, l, x[l * lag]);
}

// Calls step(g, v) for the values t = 0..lag-1 of the G vectors of segments
// at x in index order, v holding value t of each segment of vector g; the
// values are read two at a time from each segment and transposed.
template <class V, std::size_t G, class Step>
[[gnu::always_inline]] inline void for_each_value(const double* x, std::size_t lag,
                                                  Step&& step) noexcept {
    constexpr std::size_t L = lanes::width<V>;
    std::size_t t = 0;
    for (; t + 2 <= lag; t += 2) {
        V v0[G];
        V v1[G];
        for (std::size_t g = 0; g < G; ++g) {
            lanes::load_pairs_transposed(v0[g], v1[g], x + g * L * lag + t, lag);
        }
        for (std::size_t g = 0; g < G; ++g) step(g, v0[g]);
        for (std::size_t g = 0; g < G; ++g) step(g, v1[g]);
    }
    if (t < lag) {
        for (std::size_t g = 0; g < G; ++g) {
            V v;
            load_segments(v, x + g * L * lag + t, lag);
            step(g, v);
        }
    }
}

// R/S statistics of G * L consecutive segments of length lag starting at x.
template <class V, std::size_t G>
[[gnu::always_inline]] inline void add_segments(const double* x, std::size_t lag,
                                                LagSum& out) noexcept {
    constexpr std::size_t L = lanes::width<V>;
    const double length = static_cast<double>(lag);
    V sum[G], mean[G], c[G], lo[G], hi[G], sq[G];
    for (std::size_t g = 0; g < G; ++g) sum[g] = V{};
    for_each_value<V, G>(x, lag,
                         [&](std::size_t g, const V& v) LUMETRA_INLINE { sum[g] = sum[g] + v; });
    for (std::size_t g = 0; g < G; ++g) {
        mean[g] = sum[g] / length;
        c[g] = V{};
        sq[g] = V{};
        // The extremes of the cumulative deviation count only the partial sums
        // after each value, not the starting 0.
        lo[g] = V{} + std::numeric_limits<double>::max();
        hi[g] = V{} - std::numeric_limits<double>::max();
    }
    for_each_value<V, G>(x, lag, [&](std::size_t g, const V& v) LUMETRA_INLINE {
        const V d = v - mean[g];
        c[g] = c[g] + d;
        lo[g] = c[g] < lo[g] ? c[g] : lo[g];
        hi[g] = c[g] > hi[g] ? c[g] : hi[g];
        sq[g] = sq[g] + d * d;
    });
    // sd = sqrt(sq / (L - 1)) and the segment's R/S = (hi - lo) / sd, in
    // every lane; a segment without usable spread is then left out.
    for (std::size_t g = 0; g < G; ++g) {
        V sd = sq[g] / static_cast<double>(lag - 1);
        lanes::sqrt(sd);
        const V rs = (hi[g] - lo[g]) / sd;
        for (std::size_t l = 0; l < L; ++l) {
            if (lanes::lane(sd, l) > min_spread) {
                out.rs_sum = out.rs_sum + lanes::lane(rs, l);
                ++out.used;
            }
        }
    }
}

// The least-squares sums over the points (log L, log mean R/S), accumulated
// as the lags are visited, in increasing lag order: the same terms in the
// same order as sums over stored point lists.
struct FitSums {
    double sx = 0.0;
    double sy = 0.0;
    double sxy = 0.0;
    double sxx = 0.0;
    std::size_t points = 0;
};

struct FitSumsOfLags {
    template <class V>
    [[gnu::always_inline]] static FitSums run(const double* x, std::size_t n,
                                              std::size_t max_k) noexcept {
        FitSums f;
        for (std::size_t lag = 2; lag <= max_k; ++lag) {
            // Blocks of two vectors of segments, then one vector, then the
            // rest one by one, in segment order.
            LagSum s;
            lanes::tile<V, 2>(0, n / lag,
                              [&]<class U, std::size_t G>(std::size_t k)
                                  LUMETRA_INLINE { add_segments<U, G>(x + k * lag, lag, s); });
            if (s.used == 0) continue;
            const double px = std::log(static_cast<double>(lag));
            const double py = std::log(s.rs_sum / static_cast<double>(s.used));
            f.sx = f.sx + px;
            f.sy = f.sy + py;
            f.sxy = f.sxy + px * py;
            f.sxx = f.sxx + px * px;
            ++f.points;
        }
        return f;
    }
};

}  // namespace

double hurst_exponent(View<double> y, std::uint64_t max_lag) {
    const std::size_t n = y.size();
    if (n < 20) return 0.5;
    const std::size_t max_k = std::min<std::size_t>(n / 4, max_lag);
    if (max_k < 2) return 0.5;

    // The segments are read as blocks.
    const Contiguous x(y);
    const FitSums f = lanes::dispatch<FitSumsOfLags>(x.data(), n, max_k);
    if (f.points < 2) return 0.5;

    const double m = static_cast<double>(f.points);
    const double den = f.sxx * m - f.sx * f.sx;
    // (Two lags or more lie apart: a net.)
    if (std::fabs(den) < 1e-15) return 0.5;  // GCOVR_EXCL_BR_LINE
    const double slope = (f.sxy * m - f.sx * f.sy) / den;
    // fmax/fmin ignore a NaN operand, so a NaN slope becomes 0.
    return std::fmin(std::fmax(slope, 0.0), 1.0);
}

}  // namespace lumetra::diagnostics
