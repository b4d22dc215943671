#include "smoothing/croston.hpp"

#include <cmath>

#include "common/lanes.hpp"

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
// picked by a bit mask beforehand (Choice),
//   d = (demand ? beta : -0) + (1 - beta) d,
//   z = (demand ? 1 - alpha : 1) z + (demand ? alpha y : -0),
// which leaves each state's chain from one period to the next one multiply
// and one add long, with no branch. With demand these are the operations
// above in the same order; without, -0 + x and 1 x + (-0) return x bit for
// bit for every x but a signalling NaN, which they quiet: only init_z can be
// one, so a NaN init_z takes the branches. The picks start at a length past
// the patterns that a branch predictor learns.
constexpr std::size_t pick_operands_from = 10000;

// A choice between two doubles made by bit masks rather than a branch, for a
// condition that follows no pattern: pick(a, b) is every bit of a where the
// condition holds and of b where it does not (lanes::select_bits). The
// doubles are held in the first lane of a vector, whose comparison gives the
// mask and whose bit operations stay bit operations (a selection between
// plain doubles may be compiled into a branch).
class Choice {
public:
    // The condition x > y (false when either is NaN).
    [[gnu::always_inline]] static Choice greater(double x, double y) noexcept {
        return Choice(Pair{x} > Pair{y});
    }

    [[gnu::always_inline]] double pick(double a, double b) const noexcept {
        Pair picked;
        lanes::select_bits(picked, mask_, Pair{a}, Pair{b});
        return picked[0];
    }

private:
    using Pair = lanes::Vector<2>;
    using Bits = lanes::Mask<2>;

    explicit Choice(Bits mask) noexcept : mask_(mask) {}

    Bits mask_;
};

struct CrostonWeights {
    double alpha;
    double beta;
    double keep_size;         // 1 - alpha
    double keep_probability;  // 1 - beta
};

template <bool PickOperands>
std::tuple<double, double, double> run_croston(View<double> y, const CrostonWeights& w, double size,
                                               double probability) {
    const std::size_t n = y.size();
    double sse = 0.0;
    for (std::size_t t = 0; t < n; ++t) {
        const double demand = y[t];
        const double e = demand - size * probability;
        sse = sse + e * e;
        if constexpr (PickOperands) {
            const Choice has_demand = Choice::greater(demand, 0.0);
            const double raise = has_demand.pick(w.beta, -0.0);
            const double keep = has_demand.pick(w.keep_size, 1.0);
            const double add = has_demand.pick(w.alpha * demand, -0.0);
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
    const CrostonWeights w{alpha, beta, 1.0 - alpha, 1.0 - beta};
    if (y.size() >= pick_operands_from && !std::isnan(init_z))
        return run_croston<true>(y, w, init_z, init_d);
    return run_croston<false>(y, w, init_z, init_d);
}

}  // namespace lumetra::smoothing
