#include "smoothing/ces.hpp"

#include "common/series.hpp"
#include "smoothing/ces_recursion.hpp"

namespace lumetra::smoothing {

namespace {

// Steps over y[1..n-1] (y[0] seeds the level), summing the squared errors.
struct SquaredErrors {
    View<double> y;
    double sse = 0.0;

    double value(std::size_t k, double) const noexcept { return y[k + 1]; }
    void error(std::size_t, double e) noexcept { sse = sse + e * e; }
};

// The same over a private copy of the initial seasonal states.
struct SeasonalSquaredErrors : SquaredErrors {
    Series& states;

    // A phase past the initial states fails the call.
    double& season(std::size_t phase) { return states.at(phase); }
};

}  // namespace

double ces_nonseasonal_sse(View<double> y, double a0_real, double a0_imag) {
    const std::size_t n = y.size();
    if (n <= 1) return 0.0;
    CesStates states{y[0], 0.0};
    SquaredErrors step{y};
    ces_nonseasonal_steps(n - 1, a0_real, a0_imag, states, step);
    return step.sse;
}

double ces_seasonal_sse(View<double> y, double a0_real, double a0_imag, double gamma,
                        View<double> seasonal_init, std::uint64_t m) {
    const std::size_t n = y.size();
    // Checked before the seasonal states are looked at: they may then be empty.
    if (m == 0 || n <= 1) return 0.0;
    Series seasonal = Series::copy_of(seasonal_init);
    CesStates states{y[0] - seasonal.at(0), 0.0};
    std::size_t phase = 0;  // t mod m
    SeasonalSquaredErrors step{{y}, seasonal};
    ces_seasonal_steps(n - 1, a0_real, a0_imag, gamma, static_cast<std::size_t>(m), states, phase,
                       step);
    return step.sse;
}

}  // namespace lumetra::smoothing
