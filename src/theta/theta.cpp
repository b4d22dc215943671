#include "theta/theta.hpp"

namespace lumetra::theta {

Series theta_decompose(View<double> y, double theta) {
    const std::size_t n = y.size();
    Series r = Series::zeros(n);
    if (n == 0) return r;
    const double first = y[0];
    const double span = y[n - 1] - y[0];
    const double keep = 1.0 - theta;
    const double length = static_cast<double>(n);
    for (std::size_t i = 0; i < n; ++i) {
        // The line is anchored at the last observation: frac = (i + 1) / n,
        // so it starts one step above y[0] rather than at it.
        const double frac = (static_cast<double>(i) + 1.0) / length;
        const double line = first + frac * span;
        r[i] = theta * y[i] + keep * line;
    }
    return r;
}

}  // namespace lumetra::theta
