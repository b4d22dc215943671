// Doubles in ascending order: a key whose unsigned order is their numeric
// order, and the sort of an array's indices by its values that uses it.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumetra {

// An unsigned key whose order is the numeric order of doubles (-0.0 just
// before +0.0), with every NaN after +inf: the sign bit set for positive
// values, all bits flipped for negative ones. Selection and sorting that
// compare keys see a strict ordering, and values that do not compare (NaN)
// still have a fixed place.
inline std::uint64_t ascending_key(double v) noexcept {
    if (std::isnan(v)) return UINT64_MAX;
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

// The indices 0..len-1 ordered by x[index], equal values by index; x holds
// no NaN.
std::vector<std::size_t> ascending(const double* x, std::size_t len);

}  // namespace lumetra
