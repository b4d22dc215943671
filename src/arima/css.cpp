#include "arima/css.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "arima/css_recursion.hpp"
#include "common/series.hpp"

namespace lumetra::arima {

namespace {

// a * b, or the largest size when the product does not fit: a start index
// that large lies past the end of every series.
std::size_t saturating_product(std::size_t a, std::size_t b) noexcept {
    if (b != 0 && a > std::numeric_limits<std::size_t>::max() / b)
        return std::numeric_limits<std::size_t>::max();
    return a * b;
}

}  // namespace

double arima_css(View<double> y, View<double> ar, View<double> ma, std::uint64_t d) {
    const std::size_t length = y.size();
    // Each differencing pass shortens the series by one until it is empty,
    // after which further passes change nothing: only min(d, N) passes run,
    // and the final length is known before any work.
    const std::size_t n = d < length ? length - static_cast<std::size_t>(d) : 0;
    const std::size_t m = std::max(ar.size(), ma.size());
    if (n <= m) return std::numeric_limits<double>::max();

    // With d = 0 the series is scored in place; otherwise it is differenced
    // in a private copy, w'[i] = w[i + 1] - w[i] overwriting w[i] in
    // increasing i, which reads each w[i + 1] before it is replaced.
    std::vector<double> copy;
    View<double> w = y;
    if (d != 0) {
        copy = work_array<double>(length);
        for (std::size_t i = 0; i < length; ++i) copy[i] = y[i];
        for (std::size_t last = length - 1; last >= n; --last) {
            for (std::size_t i = 0; i < last; ++i) copy[i] = copy[i + 1] - copy[i];
        }
        w = View<double>(copy.data(), n, 1);
    }

    // The sum of squares formally starts from -0.0; adding a square (never
    // -0.0) to either zero gives the same value, so the shared 0.0 start
    // serves.
    std::vector<double> e = work_array<double>(n);
    const double ss = residual_sum_of_squares(w, ArmaTerms{ar, ma, {}, {}, 0}, m, e.data());
    const double r = static_cast<double>(n - m);
    return r * std::log(ss / r);
}

double css_objective(View<double> y, View<double> ar_coefs, View<double> ma_coefs) {
    const std::size_t n = y.size();
    // The first observation never counts as a residual, even without
    // coefficients.
    const std::size_t m = std::max({ar_coefs.size(), ma_coefs.size(), std::size_t{1}});
    if (n <= m) return 0.0;
    std::vector<double> e = work_array<double>(n);
    return residual_sum_of_squares(y, ArmaTerms{ar_coefs, ma_coefs, {}, {}, 0}, m, e.data());
}

double seasonal_css_objective(View<double> y, View<double> ar_coefs, View<double> ma_coefs,
                              View<double> sar_coefs, View<double> sma_coefs, std::uint64_t m) {
    const std::size_t n = y.size();
    const std::size_t lag = static_cast<std::size_t>(m);
    // The recursion starts once every lag of every term lies inside the
    // series. Seasonal spans are saturated rather than wrapped, so a season
    // too long to represent puts the start past the end.
    std::size_t start =
        std::max({ar_coefs.size(), ma_coefs.size(), saturating_product(sar_coefs.size(), lag),
                  saturating_product(sma_coefs.size(), lag)});
    if (start == 0) start = 1;
    if (start >= n) return 0.0;
    std::vector<double> e = work_array<double>(n);
    return residual_sum_of_squares(y, ArmaTerms{ar_coefs, ma_coefs, sar_coefs, sma_coefs, lag},
                                   start, e.data());
}

}  // namespace lumetra::arima
