#include "theta/theta.hpp"

#include <type_traits>

#include "common/dispatch.hpp"
#include "common/lanes.hpp"
#include "common/series_writer.hpp"

namespace lumetra::theta {

namespace {

// The theta line of y (n >= 1) into r, width<V> elements per step.
struct ThetaLine {
    template <class V>
    [[gnu::always_inline]] static void run(View<double> y, double theta, Series& r) noexcept {
        const std::size_t n = y.size();
        const double first = y[0];
        const double span = y[n - 1] - y[0];
        const double keep = 1.0 - theta;
        const double length = static_cast<double>(n);
        // The line is anchored at the last observation: frac = (i + 1) / n,
        // so it starts one step above y[0] rather than at it. With the index
        // counted as a double, (index + 1.0) is the i + 1 of the formula. The
        // same formula serves one element (a double) and neighbouring ones
        // (V).
        SeriesWriter<V> out(r);
        lanes::for_each_index<V>(0, n, [&](std::size_t i, const auto& index) LUMETRA_INLINE {
            std::remove_cvref_t<decltype(index)> value;
            lanes::load(value, y, i);
            const auto frac = (index + 1.0) / length;
            const auto line = first + frac * span;
            const auto x = theta * value + keep * line;
            out.store(i, x);
        });
        out.finish();
    }
};

}  // namespace

Series theta_decompose(View<double> y, double theta) {
    const std::size_t n = y.size();
    Series r = Series::for_overwrite(n);
    if (n == 0) return r;
    lanes::dispatch<ThetaLine>(y, theta, r);
    return r;
}

}  // namespace lumetra::theta
