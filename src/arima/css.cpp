#include "arima/css.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>

#include "arima/css_recursion.hpp"
#include "common/numeric.hpp"
#include "common/series.hpp"

namespace lumetra::arima {

double arima_css(View<double> y, View<double> ar, View<double> ma, std::uint64_t d) {
    const std::size_t length = y.size();
    // Each differencing pass shortens the series by one until it is empty,
    // after which further passes change nothing: only min(d, N) passes run,
    // and the final length is known before any work.
    const std::size_t n = d < length ? length - static_cast<std::size_t>(d) : 0;
    const std::size_t m = std::max(ar.size(), ma.size());
    if (n <= m) return std::numeric_limits<double>::max();

    // With d = 0 the series is scored in place. Otherwise the first pass
    // reads y and writes its difference into a private array, and every
    // further pass replaces it by its own difference, w'[i] = w[i + 1] - w[i]
    // overwriting w[i] in increasing i, which reads each w[i + 1] before it
    // is replaced.
    std::unique_ptr<double[]> differenced;
    View<double> w = y;
    if (d != 0) {
        check_capacity<double>(length - 1);
        differenced = std::make_unique_for_overwrite<double[]>(length - 1);
        double* const diff = differenced.get();
        for (std::size_t i = 0; i + 1 < length; ++i) diff[i] = y[i + 1] - y[i];
        for (std::size_t last = length - 2; last >= n; --last) {
            for (std::size_t i = 0; i < last; ++i) diff[i] = diff[i + 1] - diff[i];
        }
        w = View<double>(diff, n, 1);
    }

    const double ss = conditional_sum_of_squares(w, ArmaTerms{ar, ma, {}, {}, 0}, m);
    const double r = static_cast<double>(n - m);
    return r * std::log(ss / r);
}

double css_objective(View<double> y, View<double> ar_coefs, View<double> ma_coefs) {
    const std::size_t n = y.size();
    // The first observation never counts as a residual, even without
    // coefficients.
    const std::size_t m = std::max({ar_coefs.size(), ma_coefs.size(), std::size_t{1}});
    if (n <= m) return 0.0;
    return conditional_sum_of_squares(y, ArmaTerms{ar_coefs, ma_coefs, {}, {}, 0}, m);
}

double seasonal_css_objective(View<double> y, View<double> ar_coefs, View<double> ma_coefs,
                              View<double> sar_coefs, View<double> sma_coefs, std::uint64_t m) {
    const std::size_t n = y.size();
    const std::size_t lag = static_cast<std::size_t>(m);
    // The recursion starts once every lag of every term lies inside the
    // series. Seasonal spans are saturated rather than wrapped (a start index
    // that large lies past the end of every series), so a season too long to
    // represent puts the start past the end.
    std::size_t start =
        std::max({ar_coefs.size(), ma_coefs.size(), saturating_product(sar_coefs.size(), lag),
                  saturating_product(sma_coefs.size(), lag)});
    if (start == 0) start = 1;
    if (start >= n) return 0.0;
    return conditional_sum_of_squares(y, ArmaTerms{ar_coefs, ma_coefs, sar_coefs, sma_coefs, lag},
                                      start);
}

}  // namespace lumetra::arima
