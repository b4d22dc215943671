// The leaky tanh reservoir of an echo-state network.
#pragma once

#include <cstdint>
#include <tuple>

#include "common/series.hpp"
#include "common/view.hpp"

namespace lumetra::pattern {

// Runs x[t] = (1 - a) x[t-1] + a tanh(u[t] w_in + W x[t-1]) from x = 0 over
// the inputs y_norm, with N = reservoir_size units, W[i][j] = w_flat[i*N + j]
// and a = leak_rate. Returns the states after steps washout..T-1 as one
// row-major block of N columns, and the final state.
std::tuple<Series, Series> esn_reservoir_update(View<double> y_norm, View<double> w_in_flat,
                                                View<double> w_flat, std::uint64_t reservoir_size,
                                                double leak_rate, std::uint64_t washout);

}  // namespace lumetra::pattern
