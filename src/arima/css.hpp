// Conditional-sum-of-squares scores of ARIMA and seasonal ARMA models.
#pragma once

#include <cstdint>

#include "common/view.hpp"

namespace lumetra::arima {

// ARIMA(p, d, q): differences y d times and returns (n - m) * ln(SS / (n - m))
// over the residuals from m = max(p, q); the largest finite double when the
// differenced series has no more than m values.
double arima_css(View<double> y, View<double> ar, View<double> ma, std::uint64_t d);

// ARMA(p, q) on y as given: the sum of squared residuals from max(p, q, 1);
// 0.0 when the series is no longer than that.
double css_objective(View<double> y, View<double> ar_coefs, View<double> ma_coefs);

// Additive seasonal ARMA with season length m on y as given: the sum of
// squared residuals from max(p, q, P m, Q m), at least 1; 0.0 when the series
// is no longer than that.
double seasonal_css_objective(View<double> y, View<double> ar_coefs, View<double> ma_coefs,
                              View<double> sar_coefs, View<double> sma_coefs, std::uint64_t m);

}  // namespace lumetra::arima
