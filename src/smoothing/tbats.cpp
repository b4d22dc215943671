#include "smoothing/tbats.hpp"

#include <cmath>
#include <vector>

#include "common/series.hpp"

namespace lumetra::smoothing {

double tbats_filter(View<double> y, double alpha, double beta, double phi, bool use_trend,
                    bool use_damping, View<double> frequencies, std::uint64_t total_harmonics) {
    const std::size_t n = y.size();
    double level = y.at(0);  // an empty series has no first level
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

    double slope = 0.0;
    double sse = 0.0;
    const double half_alpha = alpha * 0.5;
    for (std::size_t t = 1; t < n; ++t) {
        // The forecast carries the trend undamped, and only the first
        // component of each pair, added in increasing i.
        double forecast = use_trend ? level + slope : level;
        for (std::size_t i = 0; i < h; ++i) forecast = forecast + first[i];
        const double e = y[t] - forecast;
        if (use_trend) slope = use_damping ? phi * slope + beta * e : slope + beta * e;
        // Each pair rotates by its angle; the first component also takes
        // alpha / 2 of the error, the second none.
        const double g = half_alpha * e;
        for (std::size_t i = 0; i < h; ++i) {
            const double a = first[i];
            const double b = second[i];
            first[i] = g + (cosines[i] * a + sines[i] * b);
            second[i] = cosines[i] * b - sines[i] * a;
        }
        sse = sse + e * e;
        level = level + alpha * e;  // the trend acts on the forecast alone
    }
    return sse;
}

}  // namespace lumetra::smoothing
