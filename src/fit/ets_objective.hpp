// The objective of automatic exponential smoothing (lumetra.models.ets): the
// ETS likelihood of one model at a point of the search coordinates.
//
// The search moves the smoothing weights inside the usual bounds through
// logistic maps, the initial level and the first trend increment freely, and
// all but the last initial seasonal coefficient (the last one normalises the
// season: the additive coefficients sum to 0, the multiplicative ones to the
// period). The recursion's own trend weight beta and damping phi follow from
// the search's share and damping factor: beta = alpha * share, and the trend
// is multiplied by phi * (1 + beta) at every step of a forecast, so
// phi = factor / (1 + beta), with the factor 1 for an undamped trend.
// Outside the admissible region (the one-step errors must forget the initial
// states: the characteristic roots of the linear model lie inside the unit
// circle), and where a multiplicative model meets a level or a seasonal
// coefficient that is not positive, the value is +inf.
#pragma once

#include <cstddef>
#include <span>

#include "fit/objective.hpp"

namespace lumetra::fit {

// "ets": minus twice the log-likelihood that ets_loglik returns.
//   arrays:    y.
//   constants: period, error (0 additive, 1 multiplicative), trend (0 none,
//              1 additive), damped (0 or 1), season (0 none, 1 additive,
//              2 multiplicative), alpha_lo, alpha_hi, share_lo, share_hi,
//              phi_lo, phi_hi.
//   x:         u_alpha, [u_beta], [u_gamma], [u_phi], level0, [increment0],
//              [s_0, ..., s_{period-2}] (the initial seasonal coefficients,
//              y[0]'s phase first), each bracketed one present only for the
//              models that have it:
//                alpha = bounded(u_alpha, alpha_lo, alpha_hi),
//                beta  = alpha * bounded(u_beta, share_lo, share_hi),
//                gamma = (1 - alpha) * bounded(u_gamma, share_lo, share_hi),
//                factor = bounded(u_phi, phi_lo, phi_hi) (1 if undamped),
//                phi = factor / (1 + beta), trend0 = increment0 / phi.
double ets_value(Problem& problem, std::span<const double> x);
const char* ets_check(const Problem& problem, std::size_t dims);

}  // namespace lumetra::fit
