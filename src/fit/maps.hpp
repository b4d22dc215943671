// The maps between a bounded parameter and the unconstrained real that an
// optimiser moves, written with the operations of lumetra.models.optimize's
// `bounded` so that both give the same bits.
#pragma once

#include <cmath>

namespace lumetra::fit {

// An unconstrained real onto the open interval (lo, hi), by a logistic curve
// that never overflows: exp is taken of a non-positive number only.
inline double bounded(double u, double lo, double hi) noexcept {
    if (u >= 0.0) return lo + (hi - lo) / (1.0 + std::exp(-u));
    const double e = std::exp(u);
    return lo + (hi - lo) * e / (1.0 + e);
}

}  // namespace lumetra::fit
