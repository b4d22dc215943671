#include "theta/theta.hpp"

#include "common/lanes.hpp"

namespace lumetra::theta {

Series theta_decompose(View<double> y, double theta) {
    const std::size_t n = y.size();
    Series r = Series::for_overwrite(n);
    if (n == 0) return r;
    const double first = y[0];
    const double span = y[n - 1] - y[0];
    const double keep = 1.0 - theta;
    const double length = static_cast<double>(n);
    // The line is anchored at the last observation: frac = (i + 1) / n, so it
    // starts one step above y[0] rather than at it. The same formula serves
    // one element (doubles) and two neighbouring elements (Double2).
    const auto mix = [=](auto index_plus_one, auto value) {
        const auto frac = index_plus_one / length;
        const auto line = first + frac * span;
        return theta * value + keep * line;
    };
    // Two elements per step, with the index counted as a double, so (index +
    // 1.0) is the i + 1 of the formula.
    lanes::for_each_index<lanes::Double2>(0, n, [&](std::size_t i, auto index) {
        decltype(index) value;
        lanes::load(value, y, i);
        lanes::store(&r[i], mix(index + 1.0, value));
    });
    return r;
}

}  // namespace lumetra::theta
