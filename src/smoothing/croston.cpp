#include "smoothing/croston.hpp"

namespace lumetra::smoothing {

std::tuple<double, double, double> croston_tsb_filter(View<double> y, double alpha, double beta,
                                                      double init_z, double init_d) {
    const std::size_t n = y.size();
    const double keep_size = 1.0 - alpha;
    const double keep_probability = 1.0 - beta;
    double size = init_z;
    double probability = init_d;
    double sse = 0.0;
    for (std::size_t t = 0; t < n; ++t) {
        const double demand = y[t];
        const double e = demand - size * probability;
        sse = sse + e * e;
        // A negative demand and a NaN count as a period without demand.
        if (demand > 0.0) {
            probability = beta + keep_probability * probability;
            size = keep_size * size + alpha * demand;
        } else {
            probability = keep_probability * probability;
        }
    }
    return {size, probability, sse};
}

}  // namespace lumetra::smoothing
