// A result written from a kernel's registers, looked at for NaN on the way.
#pragma once

#include <cstddef>
#include <type_traits>

#include "common/lanes.hpp"
#include "common/series.hpp"

namespace lumetra {

// The binding layer hands out every NaN of a result as the one quiet NaN that
// Python writes, which takes a pass over the values: for a long result that a
// kernel writes in one pass, a second pass over memory. A kernel whose loop
// writes every value of such a result writes it through a SeriesWriter, which
// looks at each value for NaN while it is still in a register; finish() tells
// the series whether any was NaN, and the binding layer skips its pass over a
// series that holds none. V is the kernel's lane type; vectors of V and
// single doubles may both be written.
template <class V>
class SeriesWriter {
public:
    explicit SeriesWriter(Series& series) noexcept : series_(series), out_(series.data()) {}
    SeriesWriter(const SeriesWriter&) = delete;
    SeriesWriter& operator=(const SeriesWriter&) = delete;

    // series[i], ..., series[i + width - 1] = x, for x a V or a double.
    template <class U>
    [[gnu::always_inline]] void store(std::size_t i, const U& x) noexcept {
        lanes::store(out_ + i, x);
        see(x);
    }

    // A value that the kernel writes into the series by other means.
    [[gnu::always_inline]] void see(const V& x) noexcept
        requires(!std::is_same_v<V, double>)
    {
        nan_lanes_ |= x != x;
    }
    [[gnu::always_inline]] void see(double x) noexcept { nan_ |= static_cast<Flag>(x != x); }

    // Called once every value of the series has been stored or seen.
    void finish() noexcept {
        bool nan = nan_ != 0;
        if constexpr (!std::is_same_v<V, double>) {
            for (std::size_t l = 0; l < lanes::width<V>; ++l) nan |= nan_lanes_[l] != 0;
        }
        series_.set_may_hold_nan(nan);
    }

private:
    using Lanes = std::conditional_t<std::is_same_v<V, double>, bool, lanes::Mask<lanes::width<V>>>;
    // Single values' tests are or-ed into a byte: or-ed into a bool, they
    // make GCC copy the flag between registers at every step of a loop.
    using Flag = unsigned char;

    Series& series_;
    double* out_;
    Lanes nan_lanes_{};
    Flag nan_ = 0;
};

}  // namespace lumetra
