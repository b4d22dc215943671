#include "smoothing/ses.hpp"

#include "common/simple_smoothing.hpp"

namespace lumetra::smoothing {

double ses_sse(View<double> y, double alpha) {
    (void)y.at(0);  // an empty series has no first level
    const double weight[1] = {alpha};
    double sse[1];
    smoothing_sse(y, y.size(), weight, sse);
    return sse[0];
}

Series ses_filter(View<double> y, double alpha) {
    Series out = Series::zeros(y.size());
    (void)y.at(0);  // the result is sized (and freed) before an empty series fails
    smoothing_levels(y, y.size(), alpha, [&out](std::size_t t, double level) { out[t] = level; });
    return out;
}

}  // namespace lumetra::smoothing
