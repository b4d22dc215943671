// Simple exponential smoothing.
#pragma once

#include "common/series.hpp"
#include "common/view.hpp"

namespace lumetra::smoothing {

// Sum of squared one-step-ahead errors of the level recursion
// l[t] = (1 - alpha) * l[t-1] + alpha * y[t], started at l[0] = y[0].
double ses_sse(View<double> y, double alpha);

// The levels l[0..n-1] of the same recursion.
Series ses_filter(View<double> y, double alpha);

}  // namespace lumetra::smoothing
