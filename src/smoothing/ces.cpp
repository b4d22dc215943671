#include "smoothing/ces.hpp"

#include "common/series.hpp"

namespace lumetra::smoothing {

double ces_nonseasonal_sse(View<double> y, double a0_real, double a0_imag) {
    const std::size_t n = y.size();
    if (n <= 1) return 0.0;
    const double keep = 1.0 - a0_real;
    double level = y[0];
    double imaginary = 0.0;
    double sse = 0.0;
    for (std::size_t t = 1; t < n; ++t) {
        const double e = y[t] - level;
        sse = sse + e * e;
        // Both new states are formed from the previous pair.
        const double next_level = a0_imag * imaginary + (keep * level + a0_real * y[t]);
        imaginary = keep * imaginary + a0_imag * e;
        level = next_level;
    }
    return sse;
}

double ces_seasonal_sse(View<double> y, double a0_real, double a0_imag, double gamma,
                        View<double> seasonal_init, std::uint64_t m) {
    const std::size_t n = y.size();
    // Checked before the seasonal states are looked at: they may then be empty.
    if (m == 0 || n <= 1) return 0.0;
    Series seasonal = Series::copy_of(seasonal_init);
    const double keep = 1.0 - a0_real;
    double level = y[0] - seasonal.at(0);
    double imaginary = 0.0;
    double sse = 0.0;
    std::size_t phase = 0;  // t mod m
    for (std::size_t t = 1; t < n; ++t) {
        if (++phase == m) phase = 0;
        // A phase past the initial states fails the call.
        const double s = seasonal.at(phase);
        const double e = y[t] - (level + s);
        sse = sse + e * e;
        // The deseasonalised error is formed afresh, with its own grouping.
        const double adjusted = y[t] - s;
        const double next_imaginary = keep * imaginary + a0_imag * (adjusted - level);
        level = a0_imag * imaginary + (keep * level + a0_real * adjusted);
        imaginary = next_imaginary;
        seasonal[phase] = s + gamma * e;
    }
    return sse;
}

}  // namespace lumetra::smoothing
