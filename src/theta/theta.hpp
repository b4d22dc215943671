// The theta family: theta lines, the DOT recursion and its hybrid objective,
// and the four-theta seasonal adjustment and combination of fitted lines.
#pragma once

#include <cstdint>
#include <tuple>

#include "common/series.hpp"
#include "common/view.hpp"

namespace lumetra::theta {

// The theta line of y for one coefficient: theta * y[i] + (1 - theta) * line[i],
// where the line rises from y[0] to y[n-1] by (y[n-1] - y[0]) / n per step and
// stands at y[0] + (i + 1) / n * (y[n-1] - y[0]) at index i.
Series theta_decompose(View<double> y, double theta);

// Sum of squared one-step errors of the DOT recursion (0.0 for n < 2).
double dot_objective(View<double> y, double intercept, double slope, double theta, double alpha,
                     double drift);

// The errors of the DOT recursion for indices 1..n-1 and the level after the
// last update; (empty, 0.0) for n < 2.
std::tuple<Series, double> dot_residuals(View<double> y, double intercept, double slope,
                                         double theta, double alpha, double drift);

// Mean absolute error of the hybrid theta model for one theta, with the
// smoothing weight found by a fixed golden-section search; the largest finite
// double for n < 3.
double dot_hybrid_objective(View<double> y, View<double> theta_line0, double theta,
                            bool is_additive);

// Classical decomposition with one index per phase of the period:
// (indices, multiplicative mode used, seasonally adjusted series).
std::tuple<Series, bool, Series> four_theta_deseasonalize(View<double> y, std::uint64_t period);

// The in-sample fitted values of a weighted combination of theta lines.
Series four_theta_fitted(std::uint64_t n, View<double> thetas, View<double> intercepts,
                         View<double> slopes, View<double> weights, View<double> filtered_flat,
                         View<std::int64_t> filtered_lengths, View<double> last_levels);

}  // namespace lumetra::theta
