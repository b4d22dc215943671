#include "fit/ets_objective.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "fit/maps.hpp"
#include "smoothing/ets.hpp"

namespace lumetra::fit {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// The problem's constants, by name.
struct Layout {
    std::size_t period;
    std::int32_t error;
    bool trend;
    bool damped;
    std::int32_t season;
    double alpha_lo, alpha_hi, share_lo, share_hi, phi_lo, phi_hi;

    explicit Layout(std::span<const double> c)
        : period(static_cast<std::size_t>(c[0])),
          error(static_cast<std::int32_t>(c[1])),
          trend(c[2] != 0.0),
          damped(c[3] != 0.0),
          season(static_cast<std::int32_t>(c[4])),
          alpha_lo(c[5]),
          alpha_hi(c[6]),
          share_lo(c[7]),
          share_hi(c[8]),
          phi_lo(c[9]),
          phi_hi(c[10]) {}

    std::size_t seasons() const noexcept { return season != 0 ? period : 0; }

    // The length of x.
    std::size_t dims() const noexcept {
        std::size_t dims = 2;  // alpha, level0
        if (trend) dims += damped ? 3 : 2;
        if (season != 0) dims += period;  // gamma and all but one coefficient
        return dims;
    }
};

constexpr std::size_t constant_count = 11;

// Whether all roots of a[0] + a[1] z + ... + a[d] z^d lie strictly inside the
// unit circle, by the Schur-Cohn recursion: with |a[0]| < |a[d]|, the
// polynomial (a[d] p(z) - a[0] z^d p(1/z)) / z, of degree d - 1, has as many
// roots inside as p less one. a and b (as long as a) are overwritten.
bool roots_inside_unit_circle(std::span<double> a, std::span<double> b) noexcept {
    std::size_t d = a.size() - 1;
    double* p = a.data();
    double* q = b.data();
    while (d > 0) {
        const double low = p[0];
        const double high = p[d];
        if (!(std::fabs(low) < std::fabs(high))) return false;
        for (std::size_t k = 0; k < d; ++k) q[k] = high * p[k + 1] - low * p[d - 1 - k];
        const double lead = q[d - 1];
        for (std::size_t k = 0; k < d; ++k) q[k] = q[k] / lead;
        std::swap(p, q);
        --d;
    }
    return true;
}

// The degree of the characteristic polynomial that ets_admissible tests: the
// level (1) or the period (the level's root shared with the season being
// divided out), and one more for a trend.
std::size_t polynomial_degree(bool trend, std::size_t seasons) noexcept {
    return (seasons == 0 ? 1 : seasons) + (trend ? 1 : 0);
}

// Whether the linear ETS model with these weights (in error-correction form:
// beta_t is the trend's weight on the one-step error, phi the damping factor)
// is admissible: every root of det(z I - D), D = F - g w', but the unit root
// that a season's coefficients always share with the level, lies inside the
// unit circle. `seasons` is the period of a seasonal model, 0 without a
// season; scratch holds 2 * (polynomial_degree(trend, seasons) + 1) doubles.
bool ets_admissible(double alpha, double beta_t, double gamma, double phi, bool trend,
                    std::size_t seasons, std::span<double> scratch) noexcept {
    const std::size_t degree = polynomial_degree(trend, seasons);
    const std::span<double> c = scratch.first(degree + 1);
    const std::span<double> work = scratch.subspan(degree + 1, degree + 1);
    if (seasons == 0) {
        if (!trend) {  // z - (1 - alpha)
            c[0] = alpha - 1.0;
            c[1] = 1.0;
        } else {  // z^2 + (alpha + phi beta - 1 - phi) z + phi (1 - alpha)
            c[0] = phi * (1.0 - alpha);
            c[1] = ((alpha + phi * beta_t) - 1.0) - phi;
            c[2] = 1.0;
        }
    } else if (!trend) {  // z^m - 1 + alpha (1 + z + ... + z^(m-1)) + gamma
        c[0] = (alpha - 1.0) + gamma;
        for (std::size_t k = 1; k < seasons; ++k) c[k] = alpha;
        c[seasons] = 1.0;
    } else {
        // (z - phi)(z^m - 1) + (1 + ... + z^(m-1))(alpha (z - phi) + phi beta)
        //   + phi beta (z^m - 1) + gamma (z - phi)
        const double common = (alpha + phi * beta_t) - alpha * phi;
        c[0] = phi * ((1.0 - alpha) - gamma);
        c[1] = (common + gamma) - 1.0;
        for (std::size_t k = 2; k < seasons; ++k) c[k] = common;
        c[seasons] = (alpha + phi * beta_t) - phi;
        c[seasons + 1] = 1.0;
    }
    return roots_inside_unit_circle(c, work);
}

}  // namespace

double ets_value(Problem& problem, std::span<const double> x) {
    const Layout layout(problem.constants);
    const std::size_t m = layout.seasons();
    // work: the seasonal vector (m), then the admissibility test's scratch.
    const std::size_t scratch_size = 2 * (polynomial_degree(layout.trend, m) + 1);
    if (problem.work.empty()) problem.work.resize(m + scratch_size);
    const std::span<double> seasonal(problem.work.data(), m);
    const std::span<double> scratch(problem.work.data() + m, scratch_size);

    std::size_t i = 0;
    const double alpha = bounded(x[i++], layout.alpha_lo, layout.alpha_hi);
    double beta = 0.0;
    double factor = 1.0;
    if (layout.trend) {
        beta = alpha * bounded(x[i++], layout.share_lo, layout.share_hi);
    }
    double gamma = 0.0;
    if (m != 0) gamma = (1.0 - alpha) * bounded(x[i++], layout.share_lo, layout.share_hi);
    if (layout.damped) factor = bounded(x[i++], layout.phi_lo, layout.phi_hi);
    const double level0 = x[i++];
    double phi = 0.0;
    double trend0 = 0.0;
    if (layout.trend) {
        phi = factor / (1.0 + beta);
        trend0 = x[i++] / phi;
    }
    const bool multiplicative = layout.error != 0 || layout.season == 2;
    if (multiplicative && !(level0 > 0.0)) return infinity;
    if (m != 0) {
        double total = 0.0;
        for (std::size_t k = 0; k + 1 < m; ++k) {
            seasonal[k] = x[i++];
            total = total + seasonal[k];
        }
        seasonal[m - 1] = layout.season == 2 ? static_cast<double>(m) - total : -total;
        if (layout.season == 2) {
            for (std::size_t k = 0; k < m; ++k) {
                if (!(seasonal[k] > 0.0)) return infinity;
            }
        }
    }
    const double beta_t = alpha * (beta / (1.0 + beta));
    if (!ets_admissible(alpha, beta_t, gamma, factor, layout.trend, m, scratch)) return infinity;
    return smoothing::ets_loglik(problem.arrays[0], level0, trend0,
                                 View<double>(seasonal.data(), m, 1), alpha, beta, gamma, phi,
                                 layout.period, layout.error, layout.trend ? 1 : 0, layout.season);
}

const char* ets_check(const Problem& problem, std::size_t dims) {
    const std::span<const double> c = problem.constants;
    if (c.size() != constant_count)
        return "the ets objective takes 11 constants";  // GCOVR_EXCL_BR_LINE: counted by the entry
    const double period = c[0];
    if (!(period >= 1.0) || period != std::floor(period) || period > 1e6) {
        return "the ets objective needs a whole period of at least 1";
    }
    // error, trend and damped are 0 or 1, season 0, 1 or 2; a damped model has a trend.
    const double highest[] = {1.0, 1.0, 1.0, 2.0};
    for (std::size_t k = 0; k < 4; ++k) {
        const double code = c[k + 1];
        if (!(code >= 0.0) || code > highest[k] || code != std::floor(code)) {
            return "the ets objective's model codes are out of range";
        }
    }
    if (c[3] != 0.0 && c[2] == 0.0) return "the ets objective's model codes are out of range";
    const Layout layout(c);
    if (layout.season != 0 && layout.period < 2) {
        return "the ets objective's seasonal models need a period of at least 2";
    }
    if (dims != layout.dims()) return "the ets objective takes one parameter per coordinate";
    if (problem.arrays[0].size() == 0) return "the ets objective needs a non-empty series";
    return nullptr;
}

}  // namespace lumetra::fit
