#include "volatility/garch.hpp"

#include <cmath>
#include <cstddef>

#include "common/numeric.hpp"

namespace lumetra::volatility {

namespace {

// The variance floor of the likelihood term (at_least: a NaN or negative
// variance is scored as this floor); the recursion itself carries the
// unfloored value.
constexpr double variance_floor = 1e-20;
// sqrt(2 / pi), the mean of |z| for a standard normal z.
constexpr double mean_abs_normal = 0.7978845608028654;
constexpr double log_variance_bound = 20.0;

// The pass shared by GARCH and GJR-GARCH:
//
//   e = y[t] - mean(t),  ll = ll + (ln(h) + (e * e) / h) * 0.5,  h = max(s2, 1e-20),
//   s2' = beta * s2 + (omega + e * (e * weight[e < 0]))
//
// With Leverage (GJR-GARCH), weight[0] = alpha_gjr + gamma_gjr * 0 applies
// to a residual that is not strictly negative (zero of either sign and NaN
// included) and weight[1] = alpha_gjr + gamma_gjr * 1 to a negative one. The
// sign of a residual is as good as random, so the weight is looked up by the
// sign test rather than chosen by a branch that would often be mispredicted.
// Without it (GARCH) the weight is always weight[0] = alpha_g: the shock
// e * (alpha_g * e) is the same product as e * (e * alpha_g). The AR(1) mean
// and the leverage lookup are compiled in only where they are used.
template <bool UseAr1, bool Leverage>
double variance_pass(View<double> y, double mu, double ar1, double omega, const double (&weight)[2],
                     double beta, double init_sigma2) {
    const std::size_t n = y.size();
    double ll = 0.0;
    double s2 = init_sigma2;
    // The series is walked by an element offset that grows by the step, and
    // two steps are unrolled: the logarithm is a library call, around which
    // every value in a register must be saved, so the few instructions of
    // index arithmetic and loop control saved per step are a measurable part
    // of what is left.
    const double* const data = y.data();
    const std::ptrdiff_t step = y.step();
    std::ptrdiff_t at = 0;
#pragma GCC unroll 2
    for (std::size_t t = 0; t < n; ++t, at += step) {
        // The AR(1) mean uses the previous observation, never a fitted value;
        // the first observation has none.
        const double mean = UseAr1 && t > 0 ? mu + ar1 * (data[at - step] - mu) : mu;
        const double e = data[at] - mean;
        // The floor acts only inside the likelihood term: the recursion
        // carries the unfloored variance.
        const double h = at_least(s2, variance_floor);
        ll = ll + (std::log(h) + (e * e) / h) * 0.5;
        s2 = beta * s2 + (omega + e * (e * weight[Leverage && e < 0.0]));
    }
    return ll;
}

}  // namespace

double garch_filter(View<double> y, double mu, double omega, double alpha_g, double beta_g,
                    double init_sigma2, bool use_ar1, double ar1) {
    const double weight[2] = {alpha_g, alpha_g};  // the second is never used
    if (use_ar1) return variance_pass<true, false>(y, mu, ar1, omega, weight, beta_g, init_sigma2);
    return variance_pass<false, false>(y, mu, ar1, omega, weight, beta_g, init_sigma2);
}

double egarch_filter(View<double> y, double mu, double omega, double alpha_e, double beta_e,
                     double gamma, double init_log_sigma2) {
    const std::size_t n = y.size();
    double ll = 0.0;
    // The initial log-variance is used as given; only values produced by the
    // recursion are clamped.
    double x = init_log_sigma2;
    for (std::size_t t = 0; t < n; ++t) {
        const double s2 = at_least(std::exp(x), variance_floor);
        const double e = y[t] - mu;
        // The standardised residual e / max(sqrt(s2), 1e-10). The maximum
        // never changes the value: s2 >= 1e-20 after its floor (NaN included,
        // which the floor turns into 1e-20), the square root is correctly
        // rounded and monotone, and sqrt(1e-20) rounds to exactly the double
        // 1e-10, so sqrt(s2) >= 1e-10 always, equal only as the same double.
        // Leaving it out takes one operation off the step's dependency chain.
        const double z = e / std::sqrt(s2);
        // The log term is the state x itself, not ln(s2).
        ll = ll + (x + (e * e) / s2) * 0.5;
        const double v =
            beta_e * x + (omega + (alpha_e * z + gamma * (std::fabs(z) - mean_abs_normal)));
        // A NaN log-variance passes the clamp unchanged.
        x = clamp_or_nan(v, -log_variance_bound, log_variance_bound);
    }
    return ll;
}

double gjr_garch_filter(View<double> y, double mu, double omega, double alpha_gjr, double beta_gjr,
                        double gamma_gjr, double init_sigma2) {
    // The leverage indicator I is 1 only for a strictly negative residual. It
    // multiplies gamma_gjr even when 0, so an infinite gamma_gjr reaches the
    // state as NaN.
    const double weight[2] = {alpha_gjr + gamma_gjr * 0.0, alpha_gjr + gamma_gjr * 1.0};
    return variance_pass<false, true>(y, mu, 0.0, omega, weight, beta_gjr, init_sigma2);
}

}  // namespace lumetra::volatility
