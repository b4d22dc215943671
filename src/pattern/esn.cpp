#include "pattern/esn.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumetra::pattern {

namespace {

// Pre-activations of the Rows units first..first+Rows-1:
// h[i] = tanh(u * w_in[i] + W[i][0] x[0] + ... + W[i][N-1] x[N-1]), each sum
// formed in exactly that order. Several rows are run side by side only so
// that their independent sums overlap in the processor; no sum is regrouped.
template <std::size_t Rows>
void activate(View<double> w_in_flat, View<double> w_flat, std::size_t n, std::size_t first,
              double u, const double* x, double* h) noexcept {
    const double* row[Rows];
    double p[Rows];
    const std::ptrdiff_t step = w_flat.step();
    for (std::size_t r = 0; r < Rows; ++r) {
        row[r] = &w_flat[(first + r) * n];
        p[r] = u * w_in_flat[first + r];
    }
    for (std::size_t j = 0; j < n; ++j) {
        const double xj = x[j];
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(j) * step;
        for (std::size_t r = 0; r < Rows; ++r) p[r] = p[r] + row[r][at] * xj;
    }
    for (std::size_t r = 0; r < Rows; ++r) h[first + r] = std::tanh(p[r]);
}

}  // namespace

std::tuple<Series, Series> esn_reservoir_update(View<double> y_norm, View<double> w_in_flat,
                                                View<double> w_flat, std::uint64_t reservoir_size,
                                                double leak_rate, std::uint64_t washout) {
    const std::size_t steps = y_norm.size();
    const std::size_t n = reservoir_size;
    const std::size_t rows = steps >= washout ? steps - washout : 0;

    // The state block (rows x n) and the state are sized before anything
    // else, also when there is nothing to run; the product is checked
    // without forming it.
    if (n != 0 && rows > static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(double) / n) {
        fail_capacity_overflow();
    }
    check_capacity<double>(n);
    const bool runs = steps > 0 && n > 0;
    // Every unit needs its input weight and its row of n reservoir weights;
    // they are first read at step 0.
    if (runs && (w_in_flat.size() < n || n > w_flat.size() / n)) fail_view_index();

    Series states = Series::zeros(rows * n);
    Series x = Series::zeros(n);
    if (!runs) return {std::move(states), std::move(x)};

    std::vector<double> h = work_array<double>(n);
    const double a = leak_rate;
    const double b = 1.0 - a;
    constexpr std::size_t block = 8;
    for (std::size_t t = 0; t < steps; ++t) {
        const double u = y_norm[t];
        // Every h[i] of a step reads the state as it was before the step.
        std::size_t i = 0;
        for (; i + block <= n; i += block)
            activate<block>(w_in_flat, w_flat, n, i, u, x.data(), h.data());
        for (; i < n; ++i) activate<1>(w_in_flat, w_flat, n, i, u, x.data(), h.data());
        for (std::size_t j = 0; j < n; ++j) x[j] = b * x[j] + a * h[j];
        if (t >= washout) {
            double* row = states.data() + (t - washout) * n;
            for (std::size_t j = 0; j < n; ++j) row[j] = x[j];
        }
    }
    return {std::move(states), std::move(x)};
}

}  // namespace lumetra::pattern
