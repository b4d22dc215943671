// Complex exponential smoothing: the smoothing parameter is the complex number
// a0_real + i * a0_imag, and the state is a level with an imaginary companion.
#pragma once

#include <cstdint>

#include "common/view.hpp"

namespace lumetra::smoothing {

// Sum of squared one-step errors of
//   l' = a_i * p + ((1 - a_r) * l + a_r * y[t]),   p' = (1 - a_r) * p + a_i * e,
// started at l = y[0], p = 0.
double ces_nonseasonal_sse(View<double> y, double a0_real, double a0_imag);

// The same with one additive seasonal state per phase t mod m, started at
// seasonal_init and smoothed with gamma.
double ces_seasonal_sse(View<double> y, double a0_real, double a0_imag, double gamma,
                        View<double> seasonal_init, std::uint64_t m);

}  // namespace lumetra::smoothing
