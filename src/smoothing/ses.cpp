#include "smoothing/ses.hpp"

namespace lumetra::smoothing {

double ses_sse(View<double> y, double alpha) {
    const std::size_t n = y.size();
    double level = y.at(0);  // an empty series has no first level
    const double keep = 1.0 - alpha;
    double sse = 0.0;
    for (std::size_t t = 1; t < n; ++t) {
        // The error is formed with the level before y[t] is absorbed.
        const double e = y[t] - level;
        sse = sse + e * e;
        level = keep * level + alpha * y[t];
    }
    return sse;
}

Series ses_filter(View<double> y, double alpha) {
    const std::size_t n = y.size();
    Series out = Series::zeros(n);
    out[0] = y.at(0);  // the result is sized (and freed) before an empty series fails
    const double keep = 1.0 - alpha;
    for (std::size_t t = 1; t < n; ++t) out[t] = alpha * y[t] + keep * out[t - 1];
    return out;
}

}  // namespace lumetra::smoothing
