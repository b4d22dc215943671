// The DOT recursion, shared by dot_objective and dot_residuals so that the two
// compute every error and level with the same operations.
//
// Trend line:  T[i] = intercept + slope * i
// Theta line:  z[i] = (1 - theta) * T[i] + theta * y[i]
// Level:       level = z[0], then level = (1 - alpha) * level + alpha * z[i]
// Error:       e[i] = y[i] + (-0.5) * (drift * i + (level + T[i])), i = 1..n-1,
//              formed with the level before z[i] is absorbed.
#pragma once

#include <cstddef>

#include "common/view.hpp"

namespace lumetra::theta {

// Runs the recursion over y (n >= 2), handing e[i] to on_error(i, e[i]) in
// increasing i, and returns the level after z[n-1] has been absorbed.
//
// Each z[i] depends only on i and y[i], so it is formed in the step that
// absorbs it instead of in a separate pass over a stored theta line: the
// values, and so the bits, are the same.
template <class OnError>
inline double dot_recursion(View<double> y, double intercept, double slope, double theta,
                            double alpha, double drift, OnError&& on_error) {
    const std::size_t n = y.size();
    const double mix = 1.0 - theta;
    const double keep = 1.0 - alpha;
    double level = mix * (intercept + slope * 0.0) + theta * y[0];
    for (std::size_t i = 1; i < n; ++i) {
        const double at = static_cast<double>(i);
        const double trend = intercept + slope * at;
        const double c = drift * at + (level + trend);
        on_error(i, y[i] + -0.5 * c);
        const double z = mix * trend + theta * y[i];
        level = keep * level + alpha * z;
    }
    return level;
}

}  // namespace lumetra::theta
