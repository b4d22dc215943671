// Objectives of the theta models (lumetra.models.theta and lumetra.models.dotm).
#pragma once

#include <cstddef>
#include <span>

#include "fit/objective.hpp"

namespace lumetra::fit {

// "ses": simple exponential smoothing of a series with a free initial level.
//   arrays:    z, whose first element is a placeholder: the series to smooth
//              is z[1..], and z[0] is set to the initial level.
//   constants: alpha_lo, alpha_hi.
//   x:         (u, level0) with alpha = bounded(u, alpha_lo, alpha_hi).
//   value:     ses_sse(z with z[0] = level0, alpha).
double ses_value(Problem& problem, std::span<const double> x);
const char* ses_check(const Problem& problem, std::size_t dims);

// "dotm": the optimised theta model, as the DOT recursion computes it.
//   arrays:    y, whose first element is a placeholder for the initial level.
//   constants: intercept, slope (of the theta-0 line), theta_lo, theta_hi,
//              alpha_lo, alpha_hi.
//   x:         (u, v, level0) with theta = bounded(u, theta_lo, theta_hi),
//              alpha = bounded(v, alpha_lo, alpha_hi).
//   value:     dot_objective(y with y[0] = level0, w * intercept, w * slope,
//              2.0, alpha, 0.0) with w = 2.0 - 2.0 / theta.
double dotm_value(Problem& problem, std::span<const double> x);
const char* dotm_check(const Problem& problem, std::size_t dims);

}  // namespace lumetra::fit
