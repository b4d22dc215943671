// Rescaled-range (R/S) estimate of the Hurst exponent.
#pragma once

#include <cstdint>

#include "common/view.hpp"

namespace lumetra::diagnostics {

// For every lag L = 2..min(n / 4, max_lag) the series is cut into floor(n / L)
// consecutive segments; log of the mean R/S of the segments with positive
// spread is fitted by least squares against log L. Returns the slope clamped
// to [0, 1], or 0.5 when no fit can be formed (n < 20, fewer than two usable
// lags, a degenerate fit). Any stride is accepted.
double hurst_exponent(View<double> y, std::uint64_t max_lag);

}  // namespace lumetra::diagnostics
