// Helpers of the multiple-seasonal decomposition: a centred moving average
// whose window shrinks at the ends, and a zero-centred phase-mean seasonal
// pattern.
#pragma once

#include <cstdint>

#include "common/series.hpp"
#include "common/view.hpp"

namespace lumetra::decomposition {

// out[i] is the mean of y[lo..hi) with h = window / 2, lo = max(0, i - h) and
// hi = min(n, i + h + 1), taken as a difference of prefix sums over the count.
// A window that holds a NaN, or both infinities, gives NaN; one that holds
// infinities of one sign gives that infinity; other windows are not affected
// by non-finite values outside them.
Series mstl_moving_average(View<double> y, std::uint64_t window);

// out[i] = M[i mod period] - mean(M), where M[j] is the mean of the
// observations of phase j (0 for a phase without observations).
Series mstl_extract_seasonal(View<double> y, std::uint64_t period);

}  // namespace lumetra::decomposition
