#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

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
    Series errors = Series::zeros(n - 1);
    const double level = dot_recursion(y, intercept, slope, theta, alpha, drift,
                                       [&errors](std::size_t i, double e) { errors[i - 1] = e; });
    return {std::move(errors), level};
}

namespace {

// Values are floored here before every power of the multiplicative mode, so
// that zero, negative and NaN values never reach pow (fmax turns NaN into the
// floor).
constexpr double power_floor = 1e-10;
constexpr double golden = 0.6180339887498949;
constexpr int search_iterations = 50;

// Sum of squared one-step errors of simple exponential smoothing of c with
// weight a, for two weights at once. The two recursions are independent, so
// running them side by side in one pass lets their dependency chains overlap;
// each sum still sees exactly the operations of its own pass.
std::pair<double, double> sse_pair(const std::vector<double>& c, double a1, double a2) {
    const double keep1 = 1.0 - a1;
    const double keep2 = 1.0 - a2;
    double level1 = c[0];
    double level2 = c[0];
    double sum1 = 0.0;
    double sum2 = 0.0;
    for (std::size_t i = 1; i < c.size(); ++i) {
        const double e1 = c[i] - level1;
        const double e2 = c[i] - level2;
        sum1 = sum1 + e1 * e1;
        sum2 = sum2 + e2 * e2;
        level1 = keep1 * level1 + a1 * c[i];
        level2 = keep2 * level2 + a2 * c[i];
    }
    return {sum1, sum2};
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
            c[i] = std::pow(std::fmax(y[i], power_floor), theta) *
                   std::pow(std::fmax(theta_line0[i], power_floor), rest_theta);
        }
    }

    // Golden-section search for the smoothing weight of c over [0.001, 0.999]:
    // a fixed number of iterations and no tolerance test, both sums evaluated
    // anew in every iteration. A tie or a NaN moves the lower end up.
    double lo = 0.001;
    double hi = 0.999;
    for (int iteration = 0; iteration < search_iterations; ++iteration) {
        const double d = (hi - lo) * golden;
        const double x1 = hi - d;
        const double x2 = lo + d;
        const auto [s1, s2] = sse_pair(c, x1, x2);
        if (s1 < s2) {
            hi = x2;
        } else {
            lo = x1;
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
        const double fitted = is_additive
                                  ? w * level + rest_w * theta_line0[i]
                                  : std::pow(std::fmax(level, power_floor), w) *
                                        std::pow(std::fmax(theta_line0[i], power_floor), rest_w);
        total = total + std::fabs(y[i] - fitted);
    }
    return total / static_cast<double>(n);
}

}  // namespace lumetra::theta
