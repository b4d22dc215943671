#include "smoothing/tbats.hpp"

#include <cmath>
#include <vector>

#include "common/series.hpp"

namespace lumetra::smoothing {

namespace {

// The recursion from the first step on, given the level y[0] and the sine and
// cosine of each harmonic's angle: the sum of squared errors.
//
// Step t forecasts ((l + b) + A[0]) + A[1] + ... from the states left by
// step t - 1. Those states are complete once step t - 1 knows its error, so
// each step forms the next step's forecast as it makes them: every new A[i]
// enters the sum straight from the register that computed it. The rotations
// c A + s B use only the previous pair, so they are formed first, off the
// chain that runs from one error through the forecast to the next.
double run_tbats(View<double> y, double alpha, double beta, double phi, bool use_trend,
                 bool use_damping, const double* sines, const double* cosines, double* first,
                 double* second, std::size_t h, double level) {
    const std::size_t n = y.size();
    const double half_alpha = alpha * 0.5;
    double trend = 0.0;
    double sse = 0.0;
    // The forecast of step 1 adds the initial pairs (zeros), as every step does.
    double forecast = use_trend ? level + trend : level;
    for (std::size_t i = 0; i < h; ++i) forecast = forecast + first[i];
    for (std::size_t t = 1; t < n; ++t) {
        // Each pair rotates by its angle (c A + s B, c B - s A from the old
        // pair); the first component then takes alpha / 2 of the error.
        for (std::size_t i = 0; i < h; ++i) {
            const double a = first[i];
            const double b = second[i];
            first[i] = cosines[i] * a + sines[i] * b;
            second[i] = cosines[i] * b - sines[i] * a;
        }
        const double e = y[t] - forecast;
        if (use_trend) trend = use_damping ? phi * trend + beta * e : trend + beta * e;
        sse = sse + e * e;
        level = level + alpha * e;  // the trend acts on the forecast alone
        // The next forecast carries the trend undamped, and only the first
        // component of each pair, added in increasing i.
        const double g = half_alpha * e;
        double next = use_trend ? level + trend : level;
        for (std::size_t i = 0; i < h; ++i) {
            first[i] = g + first[i];
            next = next + first[i];
        }
        forecast = next;
    }
    return sse;
}

}  // namespace

double tbats_filter(View<double> y, double alpha, double beta, double phi, bool use_trend,
                    bool use_damping, View<double> frequencies, std::uint64_t total_harmonics) {
    const std::size_t n = y.size();
    const double level = y.at(0);  // an empty series has no first level
    const std::size_t h = total_harmonics;
    check_capacity<double>(h);  // the harmonic state holds h doubles per component
    if (n < 2) return 0.0;      // the first observation only seeds the level
    // Every step reads frequencies[0 .. h-1]; the first step would pass the
    // end of a shorter array. No result survives a failure, so it is reported
    // before anything is allocated.
    if (h > frequencies.size()) fail_view_index();

    // The angles never change during a call: each sine and cosine is
    // evaluated once.
    std::vector<double> sines = work_array<double>(h);
    std::vector<double> cosines = work_array<double>(h);
    for (std::size_t i = 0; i < h; ++i) {
        sines[i] = std::sin(frequencies[i]);
        cosines[i] = std::cos(frequencies[i]);
    }
    std::vector<double> first = work_array<double>(h);   // A[i], enters the forecast
    std::vector<double> second = work_array<double>(h);  // B[i]
    return run_tbats(y, alpha, beta, phi, use_trend, use_damping, sines.data(), cosines.data(),
                     first.data(), second.data(), h, level);
}

}  // namespace lumetra::smoothing
