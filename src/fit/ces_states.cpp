#include "fit/ces_states.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "smoothing/ces_recursion.hpp"

namespace lumetra::fit {

namespace {

// Keeps each step's forecast; with `predict` the forecast is also the
// observation. y[k] is read before forecasts[k] is written, so the two may be
// one array.
struct Forecasts {
    View<double> y;
    std::span<double> forecasts;
    std::span<double> seasonal;
    bool predict;

    double value(std::size_t k, double forecast) const noexcept {
        const double observed = predict ? forecast : y[k];
        forecasts[k] = forecast;
        return observed;
    }
    void error(std::size_t, double) const noexcept {}
    double& season(std::size_t phase) const noexcept { return seasonal[phase]; }
};

// Keeps each step's error, over y or, when `zeros`, over as many zeros.
struct Errors {
    View<double> y;
    bool zeros;
    double* errors;
    std::span<double> seasonal;

    double value(std::size_t k, double) const noexcept { return zeros ? 0.0 : y[k]; }
    void error(std::size_t k, double e) const noexcept { errors[k] = e; }
    double& season(std::size_t phase) const noexcept { return seasonal[phase]; }
};

// The errors of the seasonal recursion over y (or zeros) from (level, 0,
// season) at phase 0, into `errors` (y.size() of them); `season` is spent.
void seasonal_errors(View<double> y, bool zeros, double a0_real, double a0_imag, double gamma,
                     double level, std::span<double> season, double* errors) {
    smoothing::CesStates states{level, 0.0};
    std::size_t phase = 0;
    Errors step{y, zeros, errors, season};
    smoothing::ces_seasonal_steps(y.size(), a0_real, a0_imag, gamma, season.size(), states, phase,
                                  step);
}

// The sum of a[t] * b[t] over t = 0..n-1, in increasing t.
double dot(const double* a, const double* b, std::size_t n) noexcept {
    double total = 0.0;
    for (std::size_t t = 0; t < n; ++t) total = total + a[t] * b[t];
    return total;
}

}  // namespace

void ces_filter(View<double> y, std::span<double> forecasts, bool predict, double a0_real,
                double a0_imag, double gamma, CesRun& run) {
    Forecasts step{y, forecasts, run.season, predict};
    smoothing::CesStates states{run.level, run.imaginary};
    if (run.season.empty()) {
        smoothing::ces_nonseasonal_steps(forecasts.size(), a0_real, a0_imag, states, step);
    } else {
        smoothing::ces_seasonal_steps(forecasts.size(), a0_real, a0_imag, gamma, run.season.size(),
                                      states, run.phase, step);
    }
    run.level = states.level;
    run.imaginary = states.imaginary;
}

bool ces_least_squares_states(View<double> y, double a0_real, double a0_imag, double gamma,
                              double& level, std::span<double> season) {
    const std::size_t n = y.size();
    const std::size_t m = season.size();
    const std::size_t d = m;  // the level's move and m - 1 seasonal moves
    // Column 0: the errors at the given states; column i + 1: the change of
    // the errors per unit of move i.
    std::vector<double> columns((d + 1) * n);
    std::vector<double> states(season.begin(), season.end());
    seasonal_errors(y, false, a0_real, a0_imag, gamma, level, states, columns.data());
    for (std::size_t i = 0; i < d; ++i) {
        std::fill(states.begin(), states.end(), 0.0);
        double level_move = 0.0;
        if (i == 0) {
            level_move = 1.0;
        } else {
            states[i - 1] = 1.0;
            states[m - 1] = -1.0;
        }
        seasonal_errors(y, true, a0_real, a0_imag, gamma, level_move, states,
                        columns.data() + (i + 1) * n);
    }
    const double* errors = columns.data();
    const auto column = [&](std::size_t i) { return columns.data() + (i + 1) * n; };

    // The normal equations G d = -r, G[i][j] = c_i . c_j, r[i] = c_i . e,
    // factorised as G = L D L' (L unit lower triangular, stored below the
    // diagonal).
    std::vector<double> lower(d * d), diagonal(d), moves(d);
    for (std::size_t j = 0; j < d; ++j) {
        const double norm = dot(column(j), column(j), n);
        double pivot = norm;
        for (std::size_t k = 0; k < j; ++k) {
            pivot = pivot - (lower[j * d + k] * lower[j * d + k]) * diagonal[k];
        }
        if (!(pivot > 1e-10 * norm)) return false;
        diagonal[j] = pivot;
        for (std::size_t i = j + 1; i < d; ++i) {
            double value = dot(column(i), column(j), n);
            for (std::size_t k = 0; k < j; ++k) {
                value = value - (lower[i * d + k] * lower[j * d + k]) * diagonal[k];
            }
            lower[i * d + j] = value / pivot;
        }
    }
    for (std::size_t i = 0; i < d; ++i) {  // L z = -r
        double value = -dot(column(i), errors, n);
        for (std::size_t k = 0; k < i; ++k) value = value - lower[i * d + k] * moves[k];
        moves[i] = value;
    }
    for (std::size_t i = 0; i < d; ++i) moves[i] = moves[i] / diagonal[i];
    for (std::size_t i = d; i-- > 0;) {  // L' d = D^-1 z, from the last move back
        double value = moves[i];
        for (std::size_t k = i + 1; k < d; ++k) value = value - lower[k * d + i] * moves[k];
        moves[i] = value;
    }

    const double moved_level = level + moves[0];
    bool finite = std::isfinite(moved_level);
    double moved = 0.0;
    for (std::size_t j = 0; j + 1 < m; ++j) {
        states[j] = season[j] + moves[j + 1];
        moved = moved + moves[j + 1];
        finite = finite && std::isfinite(states[j]);
    }
    states[m - 1] = season[m - 1] - moved;
    if (!finite || !std::isfinite(states[m - 1])) return false;
    level = moved_level;
    std::copy(states.begin(), states.end(), season.begin());
    return true;
}

}  // namespace lumetra::fit
