// Trigonometric seasonal exponential smoothing (TBATS kind, without Box-Cox
// transformation or ARMA errors).
#pragma once

#include <cstdint>

#include "common/view.hpp"

namespace lumetra::smoothing {

// Sum of squared one-step errors of a level, an optional (damped) trend and
// total_harmonics harmonic pairs (A[i], B[i]) rotating by frequencies[i]
// radians per step. The level starts at y[0]; every other state at zero.
double tbats_filter(View<double> y, double alpha, double beta, double phi, bool use_trend,
                    bool use_damping, View<double> frequencies, std::uint64_t total_harmonics);

}  // namespace lumetra::smoothing
