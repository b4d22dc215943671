// The complex exponential smoothing recursion. It is written once, here, and
// run with identical arithmetic by ces_nonseasonal_sse and ces_seasonal_sse,
// which sum the squared one-step errors, and by the modelling layer's native
// routines, which keep the forecasts or the errors, or run the recursion on
// past the data with every error zero.
//
// A step policy says what each step sees and keeps:
//   double value(std::size_t k, double forecast)  the observation of step k,
//                                                 given the step's forecast;
//   void error(std::size_t k, double e)           the step's one-step error;
//   double& season(std::size_t phase)             (seasonal recursion only)
//                                                 the seasonal state of a phase.
#pragma once

#include <cstddef>

namespace lumetra::smoothing {

// The states carried from step to step: the level and its imaginary companion.
struct CesStates {
    double level;
    double imaginary;
};

// `steps` steps of
//   e = y - l,  l' = a_i * p + ((1 - a_r) * l + a_r * y),  p' = (1 - a_r) * p + a_i * e,
// from `states`, which hold the states after the last step on return.
template <class Step>
void ces_nonseasonal_steps(std::size_t steps, double a0_real, double a0_imag, CesStates& states,
                           Step& step) {
    const double keep = 1.0 - a0_real;
    double level = states.level;
    double imaginary = states.imaginary;
    for (std::size_t k = 0; k < steps; ++k) {
        const double value = step.value(k, level);
        const double e = value - level;
        step.error(k, e);
        // Both new states are formed from the previous pair.
        const double next_level = a0_imag * imaginary + (keep * level + a0_real * value);
        imaginary = keep * imaginary + a0_imag * e;
        level = next_level;
    }
    states = {level, imaginary};
}

// `steps` steps of the recursion with one additive seasonal state per phase
// of m, smoothed with gamma. `phase` is the phase of the step before the
// first one (each step advances it by one, modulo m) and holds the last
// step's phase on return.
template <class Step>
void ces_seasonal_steps(std::size_t steps, double a0_real, double a0_imag, double gamma,
                        std::size_t m, CesStates& states, std::size_t& phase, Step& step) {
    const double keep = 1.0 - a0_real;
    double level = states.level;
    double imaginary = states.imaginary;
    for (std::size_t k = 0; k < steps; ++k) {
        if (++phase == m) phase = 0;
        double& seasonal = step.season(phase);
        const double s = seasonal;  // the value before this step's update
        const double forecast = level + s;
        const double value = step.value(k, forecast);
        const double e = value - forecast;
        step.error(k, e);
        // The deseasonalised error is formed afresh, with its own grouping.
        const double adjusted = value - s;
        const double next_imaginary = keep * imaginary + a0_imag * (adjusted - level);
        level = a0_imag * imaginary + (keep * level + a0_real * adjusted);
        imaginary = next_imaginary;
        seasonal = s + gamma * e;
    }
    states = {level, imaginary};
}

}  // namespace lumetra::smoothing
