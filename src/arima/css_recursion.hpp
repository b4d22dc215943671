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
#pragma once

#include <cstddef>

#include "common/view.hpp"

namespace lumetra::arima {

struct ArmaTerms {
    View<double> ar;   // ar[k]: lag k + 1 of the series
    View<double> ma;   // ma[k]: lag k + 1 of the residuals
    View<double> sar;  // sar[j]: lag (j + 1) * lag of the series
    View<double> sma;  // sma[j]: lag (j + 1) * lag of the residuals
    std::size_t lag = 0;
};

// Runs the recursion for t = start .. n-1 and returns the sum of e[t]^2 over
// those t, added in increasing t. `e` holds n zeros on entry and receives the
// residuals; e[0 .. start) stay zero as the pre-sample residuals.
//
// The caller guarantees start < n, start >= ar.size(), ma.size(),
// sar.size() * lag and sma.size() * lag (products that do not overflow), so
// every lagged index lies in [0, t]. The index t itself is reached only with
// lag 0: the seasonal AR term then reads w[t] and the seasonal MA term reads
// e[t] before it is written, which is still 0.0.
inline double residual_sum_of_squares(View<double> w, const ArmaTerms& terms, std::size_t start,
                                      double* e) noexcept {
    // Local copies, so that the stores into e need not be assumed to change
    // the views.
    const View<double> ar = terms.ar, ma = terms.ma, sar = terms.sar, sma = terms.sma;
    const std::size_t n = w.size();
    const std::size_t p = ar.size();
    const std::size_t q = ma.size();
    const std::size_t sp = sar.size();
    const std::size_t sq = sma.size();
    const std::size_t lag = terms.lag;
    double ss = 0.0;
    for (std::size_t t = start; t < n; ++t) {
        // The prediction is accumulated from 0.0 in a fixed order: AR,
        // seasonal AR, MA, seasonal MA, each over increasing lag.
        double s = 0.0;
        for (std::size_t k = 0; k < p; ++k) s = s + ar[k] * w[t - 1 - k];
        for (std::size_t j = 0; j < sp; ++j) s = s + sar[j] * w[t - (j + 1) * lag];
        for (std::size_t k = 0; k < q; ++k) s = s + ma[k] * e[t - 1 - k];
        for (std::size_t j = 0; j < sq; ++j) s = s + sma[j] * e[t - (j + 1) * lag];
        const double r = w[t] - s;
        e[t] = r;
        ss = ss + r * r;
    }
    return ss;
}

}  // namespace lumetra::arima
