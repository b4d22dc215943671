#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "theta/dot_recursion.hpp"
#include "theta/lanes.hpp"
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
    const double level = dot_recursion(y, intercept, slope, theta, alpha, drift,
                                       [&errors](std::size_t i, double e) { errors[i - 1] = e; });
    return {std::move(errors), level};
}

namespace {

// Values are floored here before every power of the multiplicative mode, so
// that zero, negative and NaN values never reach pow (as with fmax, NaN
// becomes the floor).
constexpr double power_floor = 1e-10;

// fmax(value, power_floor), exactly: the comparison is false for NaN, which
// gives the floor, and for every value below the floor (-0.0 and +0.0
// included, as the floor is a positive number); a value equal to the floor is
// the same double. Written as a comparison because std::fmax is a call into
// the math library.
inline double floored(double value) noexcept { return value > power_floor ? value : power_floor; }
constexpr double golden = 0.6180339887498949;
constexpr int search_iterations = 50;

// Sums of squared one-step errors of simple exponential smoothing of c, one
// for each of six weights a, with start level c[0]:
//   e = c[i] - level; sum = sum + e * e; level = (1 - a) * level + a * c[i]
// for i = 1 .. n-1. The six recursions are independent, so they run side by
// side in three two-lane vectors: their dependency chains overlap, and each
// lane sees exactly the operations of its own scalar pass.
constexpr std::size_t weight_count = 6;
using Weights = std::array<double, weight_count>;

Weights sse_six(const std::vector<double>& c, const Weights& a) {
    constexpr std::size_t vectors = weight_count / lane_count;
    Double2 weight[vectors], keep[vectors], level[vectors], sum[vectors];
    for (std::size_t j = 0; j < vectors; ++j) {
        weight[j] = Double2{a[lane_count * j], a[lane_count * j + 1]};
        keep[j] = 1.0 - weight[j];
        level[j] = both(c[0]);
        sum[j] = both(0.0);
    }
    for (std::size_t i = 1; i < c.size(); ++i) {
        const double x = c[i];
        for (std::size_t j = 0; j < vectors; ++j) {
            const Double2 e = x - level[j];
            sum[j] = sum[j] + e * e;
            level[j] = keep[j] * level[j] + weight[j] * x;
        }
    }
    Weights sums;
    for (std::size_t j = 0; j < vectors; ++j) store(&sums[lane_count * j], sum[j]);
    return sums;
}

// The two points at which an iteration of the search evaluates the
// interval [lo, hi].
std::array<double, 2> search_points(double lo, double hi) {
    const double d = (hi - lo) * golden;
    return {hi - d, lo + d};
}

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
            c[i] = std::pow(floored(y[i]), theta) * std::pow(floored(theta_line0[i]), rest_theta);
        }
    }

    // Golden-section search for the smoothing weight of c over [0.001, 0.999]:
    // a fixed number of iterations and no tolerance test, both sums evaluated
    // anew in every iteration. A tie or a NaN moves the lower end up.
    //
    // Each iteration's interval depends on the comparison of the previous
    // one, so the passes over c cannot overlap by themselves. Two iterations
    // are therefore taken per pass: with this iteration's two points go the
    // points of the next iteration for either outcome, and the two sums of
    // the outcome that did happen are used. Every sum used is the one the
    // plain search computes; the other two are discarded.
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
        const Weights s = sse_six(c, {x1, x2, low1, low2, high1, high2});
        narrow(x1, x2, s[0], s[1]);
        if (s[0] < s[1]) {
            narrow(low1, low2, s[2], s[3]);
        } else {
            narrow(high1, high2, s[4], s[5]);
        }
    }
    const double alpha = (hi + lo) * 0.5;
    const double keep = 1.0 - alpha;

    // Smooth c (levels after absorbing c[i]), recombine with the line and
    // score against the observations, index 0 included. The smoothed weight
    // w = 1 / max(theta, 1) is not the mixing weight theta.
    const double w = 1.0 / std::fmax(theta, 1.0);
    const double rest_w = 1.0 - w;
    double level = c[0];
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) level = alpha * c[i] + keep * level;
        const double fitted =
            is_additive ? w * level + rest_w * theta_line0[i]
                        : std::pow(floored(level), w) * std::pow(floored(theta_line0[i]), rest_w);
        total = total + std::fabs(y[i] - fitted);
    }
    return total / static_cast<double>(n);
}

}  // namespace lumetra::theta
