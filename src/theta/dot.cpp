#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "common/dispatch.hpp"
#include "common/lanes.hpp"
#include "common/series_writer.hpp"
#include "common/simple_smoothing.hpp"
#include "theta/dot_recursion.hpp"
#include "theta/theta.hpp"

namespace lumetra::theta {

double dot_objective(View<double> y, double intercept, double slope, double theta, double alpha,
                     double drift) {
    if (y.size() < 2) return 0.0;
    double sse = 0.0;
    dot_recursion(y, intercept, slope, theta, alpha, drift,
                  [&sse](std::size_t, double e) { sse = sse + e * e; });
    return sse;
}

std::tuple<Series, double> dot_residuals(View<double> y, double intercept, double slope,
                                         double theta, double alpha, double drift) {
    const std::size_t n = y.size();
    if (n < 2) return {Series::zeros(0), 0.0};
    Series errors = Series::for_overwrite(n - 1);  // every error is written
    SeriesWriter<double> out(errors);
    const double level = dot_recursion(y, intercept, slope, theta, alpha, drift,
                                       [&](std::size_t i, double e) { out.store(i - 1, e); });
    out.finish();
    return {std::move(errors), level};
}

namespace {

// Values are floored here (at_least: NaN becomes the floor) before every
// power of the multiplicative mode, so that zero, negative and NaN values
// never reach pow.
constexpr double power_floor = 1e-10;
constexpr double golden = 0.6180339887498949;
constexpr int search_iterations = 50;

// The six smoothing weights that one pass of the search evaluates, and their
// sums of squared errors.
constexpr std::size_t weight_count = 6;
using SearchPoints = std::array<double, weight_count>;

// Sums of squared one-step errors of simple exponential smoothing of c, one
// for each of six weights, with start level c[0]. The six recursions are
// independent, so they run side by side in the lanes of as many vectors as
// they fill (lanes past the sixth smooth with the last weight again, and
// their sums are dropped).
template <class V>
[[gnu::always_inline]] inline SearchPoints search_sums(const std::vector<double>& c,
                                                       const SearchPoints& a) {
    constexpr std::size_t W = lanes::width<V>;
    constexpr std::size_t vectors = (weight_count + W - 1) / W;
    V weight[vectors];
    V sum[vectors];
    for (std::size_t j = 0; j < vectors; ++j) {
        lanes::fill(weight[j], [&](std::size_t l) LUMETRA_INLINE {
            return a[std::min(j * W + l, weight_count - 1)];
        });
    }
    smoothing_sse(c, c.size(), weight, sum);
    SearchPoints sums;
    for (std::size_t k = 0; k < weight_count; ++k) sums[k] = lanes::lane(sum[k / W], k % W);
    return sums;
}

// The two points at which an iteration of the search evaluates the
// interval [lo, hi].
std::array<double, 2> search_points(double lo, double hi) {
    const double d = (hi - lo) * golden;
    return {hi - d, lo + d};
}

// The smoothing weight of c found by golden-section search over
// [0.001, 0.999]: a fixed number of iterations and no tolerance test, both
// sums evaluated anew in every iteration. A tie or a NaN moves the lower end
// up.
//
// Each iteration's interval depends on the comparison of the previous one, so
// the passes over c cannot overlap by themselves. Two iterations are
// therefore taken per pass: with this iteration's two points go the points of
// the next iteration for either outcome, and the two sums of the outcome that
// did happen are used. Every sum used is the one the plain search computes;
// the other two are discarded.
//
// Each step of a pass waits on the latency of its multiply and add, which
// wider vectors do not shorten: there is no AVX2 build.
struct SearchWeight {
    static constexpr bool avx2 = false;

    template <class V>
    [[gnu::always_inline]] static double run(const std::vector<double>& c) {
        static_assert(search_iterations % 2 == 0);
        double lo = 0.001;
        double hi = 0.999;
        const auto narrow = [&lo, &hi](double x1, double x2, double s1, double s2) {
            if (s1 < s2) {
                hi = x2;
            } else {
                lo = x1;
            }
        };
        for (int iteration = 0; iteration < search_iterations; iteration += 2) {
            const auto [x1, x2] = search_points(lo, hi);
            const auto [low1, low2] = search_points(lo, x2);    // next, when s1 < s2
            const auto [high1, high2] = search_points(x1, hi);  // next, otherwise
            const SearchPoints s = search_sums<V>(c, {x1, x2, low1, low2, high1, high2});
            narrow(x1, x2, s[0], s[1]);
            if (s[0] < s[1]) {
                narrow(low1, low2, s[2], s[3]);
            } else {
                narrow(high1, high2, s[4], s[5]);
            }
        }
        return (hi + lo) * 0.5;
    }
};

}  // namespace

double dot_hybrid_objective(View<double> y, View<double> theta_line0, double theta,
                            bool is_additive) {
    const std::size_t n = y.size();
    // Too short to score: the worst value a minimiser can see.
    if (n < 3) return std::numeric_limits<double>::max();
    // Every element of theta_line0 up to n - 1 is read; a shorter line fails
    // where it ends.
    if (theta_line0.size() < n) fail_view_index();

    // The combined series mixes the observations with the line.
    std::vector<double> c = work_array<double>(n);
    const double rest_theta = 1.0 - theta;
    if (is_additive) {
        for (std::size_t i = 0; i < n; ++i) c[i] = theta * y[i] + rest_theta * theta_line0[i];
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            c[i] = std::pow(at_least(y[i], power_floor), theta) *
                   std::pow(at_least(theta_line0[i], power_floor), rest_theta);
        }
    }

    const double alpha = lanes::dispatch<SearchWeight>(c);

    // Smooth c (levels after absorbing c[i]), recombine with the line and
    // score against the observations, index 0 included. The smoothed weight
    // w = 1 / max(theta, 1) is not the mixing weight theta.
    const double w = 1.0 / std::fmax(theta, 1.0);
    const double rest_w = 1.0 - w;
    double total = 0.0;
    smoothing_levels(c, n, alpha, [&](std::size_t i, double level) {
        const double fitted = is_additive
                                  ? w * level + rest_w * theta_line0[i]
                                  : std::pow(at_least(level, power_floor), w) *
                                        std::pow(at_least(theta_line0[i], power_floor), rest_w);
        total = total + std::fabs(y[i] - fitted);
    });
    return total / static_cast<double>(n);
}

}  // namespace lumetra::theta
