#include "pattern/esn.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

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

// Entries j and j + 1 of rows row..row+L-1 of the reservoir matrix (n
// columns): c0 = column j, c1 = column j + 1.
template <class V, class Matrix>
[[gnu::always_inline]] inline void column_pair(V& c0, V& c1, Matrix w, std::size_t n,
                                               std::size_t row, std::size_t j) noexcept {
    if constexpr (std::is_same_v<V, double>) {
        c0 = w[row * n + j];
        c1 = w[row * n + j + 1];
    } else {
        lanes::load_pairs_transposed(c0, c1, w + row * n + j, n);
    }
}

// h[i] = tanh(u * w_in[i] + W[i][0] x[0] + ... + W[i][n-1] x[n-1]) for the
// G * L units i starting at first; units below `from` are already done and
// are not stored again.
template <class V, std::size_t G, class Matrix>
[[gnu::always_inline]] inline void activate(View<double> w_in, Matrix w, std::size_t n,
                                            std::size_t first, std::size_t from, double u,
                                            const double* x, double* h) noexcept {
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
            V c0;
            V c1;
            column_pair(c0, c1, w, n, first + g * L, j);
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
        for (std::size_t l = 0; l < L; ++l) {
            const std::size_t i = first + g * L + l;
            if (i >= from) h[i] = std::tanh(lane(p[g], l));
        }
    }
}

// All n units of one step: blocks of G vectors of V, then single vectors, the
// last of which ends at unit n - 1 and may overlap units already done (their
// sums are formed again, but not stored); fewer than L units one at a time.
template <class V, std::size_t G, class Matrix>
[[gnu::always_inline]] inline void activate_all(View<double> w_in, Matrix w, std::size_t n,
                                                double u, const double* x, double* h) noexcept {
    constexpr std::size_t L = lanes::width<V>;
    std::size_t i = 0;
    for (; i + G * L <= n; i += G * L) activate<V, G>(w_in, w, n, i, i, u, x, h);
    if (i == n) return;
    if (n < L) {
        for (; i < n; ++i) activate<double, 1>(w_in, w, n, i, i, u, x, h);
        return;
    }
    for (; i + L < n; i += L) activate<V, 1>(w_in, w, n, i, i, u, x, h);
    activate<V, 1>(w_in, w, n, n - L, i, u, x, h);
}

// The recursion over all steps, from the zero state in x.
template <class V, std::size_t G, class Matrix>
[[gnu::always_inline]] inline void run(View<double> y_norm, View<double> w_in, Matrix w,
                                       std::size_t n, double leak_rate, std::size_t washout,
                                       double* states, double* x, double* h) noexcept {
    const double a = leak_rate;
    const double b = 1.0 - a;
    for (std::size_t t = 0; t < y_norm.size(); ++t) {
        activate_all<V, G>(w_in, w, n, y_norm[t], x, h);
        for (std::size_t j = 0; j < n; ++j) x[j] = b * x[j] + a * h[j];
        if (t >= washout) {
            double* row = states + (t - washout) * n;
            for (std::size_t j = 0; j < n; ++j) row[j] = x[j];
        }
    }
}

void run_baseline(View<double> y_norm, View<double> w_in, const double* w, std::size_t n,
                  double leak_rate, std::size_t washout, double* states, double* x,
                  double* h) noexcept {
    run<lanes::Vector<2>, 4>(y_norm, w_in, w, n, leak_rate, washout, states, x, h);
}

#if LUMETRA_AVX2_PATHS
LUMETRA_AVX2 void run_avx2(View<double> y_norm, View<double> w_in, const double* w, std::size_t n,
                           double leak_rate, std::size_t washout, double* states, double* x,
                           double* h) noexcept {
    run<lanes::Vector<4>, 4>(y_norm, w_in, w, n, leak_rate, washout, states, x, h);
}
#endif

// A strided reservoir matrix: eight units side by side in scalar registers.
void run_strided(View<double> y_norm, View<double> w_in, View<double> w, std::size_t n,
                 double leak_rate, std::size_t washout, double* states, double* x,
                 double* h) noexcept {
    run<double, 8>(y_norm, w_in, w, n, leak_rate, washout, states, x, h);
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
    if (!w_flat.contiguous()) {
        run_strided(y_norm, w_in_flat, w_flat, n, leak_rate, washout, states.data(), x.data(),
                    h.data());
        return {std::move(states), std::move(x)};
    }
#if LUMETRA_AVX2_PATHS
    if (lanes::avx2()) {
        run_avx2(y_norm, w_in_flat, w_flat.data(), n, leak_rate, washout, states.data(), x.data(),
                 h.data());
        return {std::move(states), std::move(x)};
    }
#endif
    run_baseline(y_norm, w_in_flat, w_flat.data(), n, leak_rate, washout, states.data(), x.data(),
                 h.data());
    return {std::move(states), std::move(x)};
}

}  // namespace lumetra::pattern
