// ETS models: the filter, the likelihood objective and the batch filter, all
// running the recursion of ets_recursion.hpp.
#pragma once

#include <cstdint>
#include <span>
#include <tuple>
#include <vector>

#include "common/series.hpp"
#include "common/view.hpp"

namespace lumetra::smoothing {

// (fitted values, errors, final level, final trend, final seasonal vector).
using EtsFit = std::tuple<Series, Series, double, double, Series>;

// The parameters of ets_filter after y, with the seasonal vector as a
// sequence of numbers: level0, trend0, seasonal0, alpha, beta, gamma, phi,
// period, error_type, trend_type, seasonal_type.
using EtsParameters = std::tuple<double, double, std::span<const double>, double, double, double,
                                 double, std::uint64_t, std::int32_t, std::int32_t, std::int32_t>;

// One-step-ahead forecasts and errors of the recursion over y, and its final
// states.
EtsFit ets_filter(View<double> y, double level0, double trend0, View<double> seasonal0,
                  double alpha, double beta, double gamma, double phi, std::uint64_t period,
                  std::int32_t error_type, std::int32_t trend_type, std::int32_t seasonal_type);

// Minus twice the Gaussian log-likelihood of the one-step errors, with the
// error variance at its maximum-likelihood value:
//   additive errors:        n * (ln(Q * 2 pi / n) + 1),      Q = sum e^2
//   multiplicative errors:  2 L + n * (ln(Q * 2 pi / n) + 1), Q = sum (e / (|f| + eps))^2,
//                           L = sum ln(max(|f|, eps))
double ets_loglik(View<double> y, double level0, double trend0, View<double> seasonal0,
                  double alpha, double beta, double gamma, double phi, std::uint64_t period,
                  std::int32_t error_type, std::int32_t trend_type, std::int32_t seasonal_type);

// ets_filter for series k with the parameters of tuple k, for every k below
// the shorter of the two lists.
std::vector<EtsFit> batch_ets_filter(const std::vector<View<double>>& y_list,
                                     const std::vector<EtsParameters>& params_list);

}  // namespace lumetra::smoothing
