// The residual recursion shared by the conditional-sum-of-squares objectives.
//
// An additive seasonal ARMA model with zero pre-sample residuals:
//
//   e[t] = w[t] - sum_k ar[k] w[t-1-k]   - sum_j sar[j] w[t-(j+1)m]
//               - sum_k ma[k] e[t-1-k]   - sum_j sma[j] e[t-(j+1)m]
//
// The seasonal and non-seasonal parts are added, never multiplied, so there
// are no cross terms. The non-seasonal objectives run it with no seasonal
// coefficients; each caller chooses its own start index and its own answer for
// a series too short to score.
//
// The recursion is bound by the latency of its feedback: e[t-1] enters the
// prediction of e[t] through a product and the additions that follow it. For
// the usual small orders the step is compiled for its exact order, with the
// coefficients and the last q residuals held in locals: each new residual is
// then used straight from a register instead of being stored and read back,
// and no residual array is needed at all unless seasonal moving-average terms
// look further back.
#pragma once

#include <array>
#include <cstddef>
#include <utility>
#include <vector>

#include "common/series.hpp"
#include "common/view.hpp"

namespace lumetra::arima {

struct ArmaTerms {
    View<double> ar;   // ar[k]: lag k + 1 of the series
    View<double> ma;   // ma[k]: lag k + 1 of the residuals
    View<double> sar;  // sar[j]: lag (j + 1) * lag of the series
    View<double> sma;  // sma[j]: lag (j + 1) * lag of the residuals
    std::size_t lag = 0;
};

namespace detail {

// Non-seasonal orders up to this one are compiled as constants; larger ones
// run the same step with loops bounded at run time.
inline constexpr std::size_t largest_fixed_order = 5;
inline constexpr std::size_t any_order = largest_fixed_order + 1;

// The coefficients of one non-seasonal part: a local copy when the order is
// fixed, the caller's view otherwise.
template <std::size_t Order>
struct Coefficients {
    std::array<double, Order> c{};
    explicit Coefficients(View<double> v) noexcept {
        for (std::size_t k = 0; k < Order; ++k) c[k] = v[k];
    }
    static constexpr std::size_t size() noexcept { return Order; }
    double operator[](std::size_t k) const noexcept { return c[k]; }
};

template <>
struct Coefficients<any_order> {
    View<double> c;
    explicit Coefficients(View<double> v) noexcept : c(v) {}
    std::size_t size() const noexcept { return c.size(); }
    double operator[](std::size_t k) const noexcept { return c[k]; }
};

// Runs the recursion for t = start .. n-1 and returns the sum of e[t]^2 over
// those t, added in increasing t. P and Q are the non-seasonal orders, or
// any_order. With Q fixed, recent[k] holds e[t-1-k] (zero before start, the
// pre-sample residuals); otherwise those are read from e. If e is not null it
// holds n zeros on entry and receives the residuals; e[0 .. start) stay zero.
// e must be given when Q is any_order or there are seasonal MA terms.
//
// The caller guarantees start < n, start >= ar.size(), ma.size(),
// sar.size() * lag and sma.size() * lag (products that do not overflow), so
// every lagged index lies in [0, t]. The index t itself is reached only with
// lag 0: the seasonal AR term then reads w[t] and the seasonal MA term reads
// e[t] before it is written, which is still 0.0.
template <std::size_t P, std::size_t Q>
double residual_sum_of_squares(View<double> w, const ArmaTerms& terms, std::size_t start,
                               double* e) noexcept {
    const Coefficients<P> ar(terms.ar);
    const Coefficients<Q> ma(terms.ma);
    const View<double> sar = terms.sar, sma = terms.sma;
    const std::size_t n = w.size();
    const std::size_t sp = sar.size();
    const std::size_t sq = sma.size();
    const std::size_t lag = terms.lag;
    std::array<double, Q == any_order ? 0 : Q> recent{};
    double ss = 0.0;
    for (std::size_t t = start; t < n; ++t) {
        // The prediction is accumulated from 0.0 in a fixed order: AR,
        // seasonal AR, MA, seasonal MA, each over increasing lag.
        double s = 0.0;
        for (std::size_t k = 0; k < ar.size(); ++k) s = s + ar[k] * w[t - 1 - k];
        for (std::size_t j = 0; j < sp; ++j) s = s + sar[j] * w[t - (j + 1) * lag];
        if constexpr (Q == any_order) {
            for (std::size_t k = 0; k < ma.size(); ++k) s = s + ma[k] * e[t - 1 - k];
        } else {
            for (std::size_t k = 0; k < Q; ++k) s = s + ma[k] * recent[k];
        }
        for (std::size_t j = 0; j < sq; ++j) s = s + sma[j] * e[t - (j + 1) * lag];
        const double r = w[t] - s;
        if (e != nullptr) e[t] = r;
        if constexpr (Q != any_order && Q > 0) {
            for (std::size_t k = Q - 1; k > 0; --k) recent[k] = recent[k - 1];
            recent[0] = r;
        }
        ss = ss + r * r;
    }
    return ss;
}

using Recursion = double (*)(View<double>, const ArmaTerms&, std::size_t, double*) noexcept;

// recursions[P][Q]: the recursion compiled for orders P and Q (any_order for
// the larger ones).
inline constexpr auto recursions = []<std::size_t... I>(std::index_sequence<I...>) {
    constexpr auto row = []<std::size_t P, std::size_t... J>(std::index_sequence<J...>) {
        return std::array<Recursion, sizeof...(J)>{&residual_sum_of_squares<P, J>...};
    };
    return std::array { row.template operator()<I>(std::index_sequence<I...>{})... };
}(std::make_index_sequence<any_order + 1>{});

inline std::size_t order_class(std::size_t order) noexcept {
    return order <= largest_fixed_order ? order : any_order;
}

}  // namespace detail

// The sum of squared residuals e[t]^2 for t = start .. n-1, added in
// increasing t, under the guarantees stated at the recursion above. A
// residual array of n zeros is allocated only when lags reach residuals that
// are not held in locals.
inline double conditional_sum_of_squares(View<double> w, const ArmaTerms& terms,
                                         std::size_t start) {
    const std::size_t p = detail::order_class(terms.ar.size());
    const std::size_t q = detail::order_class(terms.ma.size());
    std::vector<double> e;
    if (q == detail::any_order || !terms.sma.empty()) e = work_array<double>(w.size());
    return detail::recursions[p][q](w, terms, start, e.empty() ? nullptr : e.data());
}

}  // namespace lumetra::arima
