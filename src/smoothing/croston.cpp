#include "smoothing/croston.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumetra::smoothing {

namespace {

// demand > 0 ? with_demand : without, picked by the comparison's bit mask
// rather than by a branch: whether a period has demand follows no pattern a
// branch predictor could learn. A NaN demand compares false.
inline double pick(double demand, double with_demand, double without) {
#if defined(__SSE2__)
    const __m128d mask = _mm_cmpgt_sd(_mm_set_sd(demand), _mm_setzero_pd());
    return _mm_cvtsd_f64(_mm_or_pd(_mm_and_pd(mask, _mm_set_sd(with_demand)),
                                   _mm_andnot_pd(mask, _mm_set_sd(without))));
#else
    return demand > 0.0 ? with_demand : without;
#endif
}

}  // namespace

std::tuple<double, double, double> croston_tsb_filter(View<double> y, double alpha, double beta,
                                                      double init_z, double init_d) {
    const std::size_t n = y.size();
    const double keep_size = 1.0 - alpha;
    const double keep_probability = 1.0 - beta;
    double size = init_z;
    double probability = init_d;
    double sse = 0.0;
    bool any_demand = false;
    for (std::size_t t = 0; t < n; ++t) {
        const double demand = y[t];
        const double e = demand - size * probability;
        sse = sse + e * e;
        // A period with demand (y > 0) updates
        //   d = beta + (1 - beta) d,   z = (1 - alpha) z + alpha y,
        // any other (y <= 0, or NaN) only d = (1 - beta) d. Both are written
        // as one multiply and one add whose operands are picked beforehand:
        //   d = (demand ? beta : -0) + (1 - beta) d,
        //   z = (demand ? 1 - alpha : 1) z + (demand ? alpha y : -0).
        // With demand these are the same operations in the same order;
        // without, -0 + x and 1 x + (-0) return x bit for bit. The picks do
        // not depend on the states, so each state's chain from one period to
        // the next is one multiply and one add, with no branch to mispredict.
        probability = pick(demand, beta, -0.0) + keep_probability * probability;
        size = pick(demand, keep_size, 1.0) * size + pick(demand, alpha * demand, -0.0);
        any_demand = any_demand || demand > 0.0;
    }
    // 1 z + (-0) returns z itself for every z but a signalling NaN, which it
    // quiets; only init_z can be one, so a series without demand returns
    // init_z as given.
    if (!any_demand) size = init_z;
    return {size, probability, sse};
}

}  // namespace lumetra::smoothing
