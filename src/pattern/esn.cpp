#include "pattern/esn.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/contiguous.hpp"
#include "common/dispatch.hpp"
#include "common/lanes.hpp"

namespace lumetra::pattern {

namespace {

using lanes::lane;
using lanes::set_lane;

// The units of a step are independent: each h[i] reads only the state of the
// step before. So G * L units are computed side by side, lane l of vector g
// holding unit first + g * L + l, and every unit's sum
// u * w_in[i] + W[i][0] x[0] + ... + W[i][N-1] x[N-1] is still formed term by
// term in that order. A vector of units needs one column of W at a time,
// whose entries lie a row apart in memory; the columns are read in pairs
// (two adjacent entries of each row) and transposed in registers.

// h[i] = tanh(u * w_in[i] + W[i][0] x[0] + ... + W[i][n-1] x[n-1]) for the
// G * L units i starting at first.
template <class V, std::size_t G>
[[gnu::always_inline]] inline void activate(View<double> w_in, const double* w, std::size_t n,
                                            std::size_t first, double u, const double* x,
                                            double* h) noexcept {
    constexpr std::size_t L = lanes::width<V>;
    V p[G];
    for (std::size_t g = 0; g < G; ++g) {
        for (std::size_t l = 0; l < L; ++l) set_lane(p[g], l, u * w_in[first + g * L + l]);
    }
    std::size_t j = 0;
    for (; j + 2 <= n; j += 2) {
        const double x0 = x[j];
        const double x1 = x[j + 1];
        for (std::size_t g = 0; g < G; ++g) {
            // Columns j and j + 1 of the vector's rows.
            V c0;
            V c1;
            lanes::load_pairs_transposed(c0, c1, w + (first + g * L) * n + j, n);
            p[g] = p[g] + c0 * x0;
            p[g] = p[g] + c1 * x1;
        }
    }
    if (j < n) {
        for (std::size_t g = 0; g < G; ++g) {
            V c;
            for (std::size_t l = 0; l < L; ++l) set_lane(c, l, w[(first + g * L + l) * n + j]);
            p[g] = p[g] + c * x[j];
        }
    }
    for (std::size_t g = 0; g < G; ++g) {
        for (std::size_t l = 0; l < L; ++l) h[first + g * L + l] = std::tanh(lane(p[g], l));
    }
}

// The recursion over all steps, from the zero state in x. Each step covers
// its n units with blocks of four vectors, then single vectors, the last of
// which ends at unit n - 1 and may repeat units already done (their sums are
// formed again from the same values and stored again unchanged); fewer than
// L units are done one at a time.
struct Reservoir {
    template <class V>
    [[gnu::always_inline]] static void run(View<double> y_norm, View<double> w_in, const double* w,
                                           std::size_t n, double leak_rate, std::size_t washout,
                                           double* states, double* x, double* h) noexcept {
        const double a = leak_rate;
        const double b = 1.0 - a;
        for (std::size_t t = 0; t < y_norm.size(); ++t) {
            const double u = y_norm[t];
            lanes::tile<V, 4, lanes::Rest::overlap>(
                0, n, [&]<class U, std::size_t G>(std::size_t first) LUMETRA_INLINE {
                    activate<U, G>(w_in, w, n, first, u, x, h);
                });
            for (std::size_t j = 0; j < n; ++j) x[j] = b * x[j] + a * h[j];
            if (t >= washout) {
                double* row = states + (t - washout) * n;
                for (std::size_t j = 0; j < n; ++j) row[j] = x[j];
            }
        }
    }
};

}  // namespace

std::tuple<Series, Series> esn_reservoir_update(View<double> y_norm, View<double> w_in_flat,
                                                View<double> w_flat, std::uint64_t reservoir_size,
                                                double leak_rate, std::uint64_t washout) {
    const std::size_t steps = y_norm.size();
    const std::size_t n = reservoir_size;
    const std::size_t rows = steps >= washout ? steps - washout : 0;

    // The state block (rows x n) and the state are sized before anything
    // else, also when there is nothing to run.
    const std::size_t cells = checked_product<double>(rows, n);
    check_capacity<double>(n);
    const bool runs = steps > 0 && n > 0;
    // Every unit needs its input weight and its row of n reservoir weights;
    // they are first read at step 0.
    if (runs && (w_in_flat.size() < n || n > w_flat.size() / n)) fail_view_index();

    Series states = Series::zeros(cells);
    Series x = Series::zeros(n);
    if (!runs) return {std::move(states), std::move(x)};

    std::vector<double> h = work_array<double>(n);
    // The units read their rows of the matrix as blocks.
    const Contiguous w(w_flat);
    lanes::dispatch<Reservoir>(y_norm, w_in_flat, w.data(), n, leak_rate,
                               static_cast<std::size_t>(washout), states.data(), x.data(),
                               h.data());
    return {std::move(states), std::move(x)};
}

}  // namespace lumetra::pattern
