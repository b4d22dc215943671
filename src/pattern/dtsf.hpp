// Nearest-pattern (DTSF) search: root-mean-square distances between a query
// pattern and the windows of a series, and the in-sample residuals of the
// median-of-neighbours forecast.
#pragma once

#include <cstdint>

#include "common/series.hpp"
#include "common/view.hpp"

namespace lumetra::pattern {

// out[s] = sqrt(D_s / w) / max(exp(-time_decay * (n_total - s)), 1e-10) for
// the windows y[s..s+w), s < max_start, where D_s is the squared distance to
// query_norm[0..w) of the window, z-normalised first when normalize is set.
Series dtsf_distances(View<double> y, View<double> query_norm, std::uint64_t w,
                      std::uint64_t max_start, bool normalize, double time_decay,
                      std::uint64_t n_total);

// out[t] = y[t] - median of the values that followed the n_neighbors earlier
// windows nearest to y[t-w..t); 0 where no earlier window exists (t <= w).
Series dtsf_fit_residuals(View<double> y, std::uint64_t w, std::uint64_t n_neighbors,
                          bool normalize);

}  // namespace lumetra::pattern
