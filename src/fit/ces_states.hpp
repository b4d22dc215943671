// The states of complex exponential smoothing (lumetra.models.ces): its
// one-step forecasts over a series, its forecasts past the data, and the
// initial states that minimise the sum of squared errors for given smoothing
// parameters. All run the recursion of smoothing/ces_recursion.hpp, so the
// forecasts are those whose errors ces_nonseasonal_sse and ces_seasonal_sse
// square and sum.
#pragma once

#include <cstddef>
#include <span>

#include "common/view.hpp"

namespace lumetra::fit {

// Where a run of the recursion starts and, on return, where it ends: the
// level, the imaginary state and the phase of the last step taken (0 for the
// non-seasonal recursion), and the seasonal states by phase (empty for the
// non-seasonal recursion).
struct CesRun {
    double level;
    double imaginary;
    std::size_t phase;
    std::span<double> season;
};

// One step of the recursion per element of `forecasts`, which receives each
// step's forecast. The observations are y (of the same length) or, with
// `predict`, the forecasts themselves (every error zero; y is not read).
// gamma is not used without seasonal states. Needs phase < season.size()
// when there are seasonal states.
void ces_filter(View<double> y, std::span<double> forecasts, bool predict, double a0_real,
                double a0_imag, double gamma, CesRun& run);

// For fixed a0_real, a0_imag and gamma the one-step errors of the seasonal
// recursion over y, started at phase 0 from (level, 0, season), are an affine
// function of the initial level and seasonal states, so their sum of squares
// is a quadratic. This moves the initial states to its minimum among the
// states whose seasonal part keeps its sum: level + d[0] and
// season[j] + d[j + 1] (j < m - 1), the last one season[m - 1] less the sum of
// the other moves. The design holds the errors of the recursion run over
// zeros from the unit moves, the normal equations are solved by an LDL'
// factorisation, and every sum runs in increasing index order. Returns false,
// with level and season unchanged, when a pivot falls below 1e-10 of its
// diagonal element (a move that the errors cannot tell from the others) or a
// moved state is not finite. Needs 1 <= m = season.size().
bool ces_least_squares_states(View<double> y, double a0_real, double a0_imag, double gamma,
                              double& level, std::span<double> season);

}  // namespace lumetra::fit
