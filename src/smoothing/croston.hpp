// Croston's method for intermittent demand, Teunter-Syntetos-Babai form.
#pragma once

#include <tuple>

#include "common/view.hpp"

namespace lumetra::smoothing {

// Smooths the size z of the non-zero demands with alpha and the probability d
// that a period has any demand with beta; the forecast is z * d. Returns
// (final z, final d, sum of squared one-step errors).
std::tuple<double, double, double> croston_tsb_filter(View<double> y, double alpha, double beta,
                                                      double init_z, double init_d);

}  // namespace lumetra::smoothing
