// Conditional-volatility filters. Each runs its variance recursion once over
// the series and returns the Gaussian negative log-likelihood without its
// constant, 0.5 * sum(log-variance + e^2 / variance).
#pragma once

#include "common/view.hpp"

namespace lumetra::volatility {

// GARCH(1,1): s2' = beta_g s2 + (omega + e (alpha_g e)), with the mean mu, or
// mu + ar1 (y[t-1] - mu) from the second observation when use_ar1 is set.
double garch_filter(View<double> y, double mu, double omega, double alpha_g, double beta_g,
                    double init_sigma2, bool use_ar1, double ar1);

// EGARCH(1,1) on the log-variance x, with each new x clamped to [-20, 20].
double egarch_filter(View<double> y, double mu, double omega, double alpha_e, double beta_e,
                     double gamma, double init_log_sigma2);

// GJR-GARCH(1,1): GARCH with the extra weight gamma_gjr on negative shocks.
double gjr_garch_filter(View<double> y, double mu, double omega, double alpha_gjr, double beta_gjr,
                        double gamma_gjr, double init_sigma2);

}  // namespace lumetra::volatility
