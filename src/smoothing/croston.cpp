#include "smoothing/croston.hpp"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumetra::smoothing {

namespace {

// A period with demand (y > 0) updates both states,
//   d = beta + (1 - beta) d,   z = (1 - alpha) z + alpha y,
// any other period (y <= 0, or NaN) only d = (1 - beta) d.
//
// Whether a period has demand follows no pattern within a series, so a branch
// on it is mispredicted about as often as demand changes. A branch predictor
// does learn the pattern of a short series seen again and again (the
// optimiser's case: one series, many parameter sets), and then the branch
// costs nothing; for a long series the pattern is new at every call. There
// the updates are written as one multiply and one add whose operands are
// picked by a bit mask beforehand,
//   d = (demand ? beta : -0) + (1 - beta) d,
//   z = (demand ? 1 - alpha : 1) z + (demand ? alpha y : -0),
// which leaves each state's chain from one period to the next one multiply
// and one add long, with no branch. With demand these are the operations
// above in the same order; without, -0 + x and 1 x + (-0) return x bit for
// bit for every x but a signalling NaN, which they quiet: only init_z can be
// one, so a NaN init_z takes the branches.
// (The development machine's predictor learned series of 8192 periods, not
// of 16384.)
constexpr std::size_t pick_operands_from = 10000;

struct Weights {
    double alpha;
    double beta;
    double keep_size;         // 1 - alpha
    double keep_probability;  // 1 - beta
};

template <bool PickOperands>
std::tuple<double, double, double> run_croston(View<double> y, const Weights& w, double size,
                                               double probability) {
    const std::size_t n = y.size();
    double sse = 0.0;
#if defined(__SSE2__)
    // The picks as bits: b ^ (mask & (a ^ b)) is a where the mask is set and
    // b elsewhere.
    const __m128d zero = _mm_setzero_pd();
    const __m128d minus_zero = _mm_set_sd(-0.0);
    const __m128d one = _mm_set_sd(1.0);
    const __m128d beta_or_minus_zero = _mm_xor_pd(_mm_set_sd(w.beta), minus_zero);
    const __m128d keep_or_one = _mm_xor_pd(_mm_set_sd(w.keep_size), one);
#endif
    for (std::size_t t = 0; t < n; ++t) {
        const double demand = y[t];
        const double e = demand - size * probability;
        sse = sse + e * e;
        if constexpr (PickOperands) {
#if defined(__SSE2__)
            const __m128d mask = _mm_cmplt_sd(zero, _mm_set_sd(demand));  // NaN: clear
            const __m128d absorbed = _mm_set_sd(w.alpha * demand);
            const double raise =
                _mm_cvtsd_f64(_mm_xor_pd(minus_zero, _mm_and_pd(mask, beta_or_minus_zero)));
            const double keep = _mm_cvtsd_f64(_mm_xor_pd(one, _mm_and_pd(mask, keep_or_one)));
            const double add = _mm_cvtsd_f64(
                _mm_xor_pd(minus_zero, _mm_and_pd(mask, _mm_xor_pd(absorbed, minus_zero))));
#else
            const bool has_demand = demand > 0.0;
            const double raise = has_demand ? w.beta : -0.0;
            const double keep = has_demand ? w.keep_size : 1.0;
            const double add = has_demand ? w.alpha * demand : -0.0;
#endif
            probability = raise + w.keep_probability * probability;
            size = keep * size + add;
        } else if (demand > 0.0) {
            probability = w.beta + w.keep_probability * probability;
            size = w.keep_size * size + w.alpha * demand;
        } else {
            probability = w.keep_probability * probability;
        }
    }
    return {size, probability, sse};
}

}  // namespace

std::tuple<double, double, double> croston_tsb_filter(View<double> y, double alpha, double beta,
                                                      double init_z, double init_d) {
    const Weights w{alpha, beta, 1.0 - alpha, 1.0 - beta};
    if (y.size() >= pick_operands_from && !std::isnan(init_z))
        return run_croston<true>(y, w, init_z, init_d);
    return run_croston<false>(y, w, init_z, init_d);
}

}  // namespace lumetra::smoothing
