#include "common/ascending.hpp"

#include <algorithm>

#include "common/numeric.hpp"

namespace lumetra {

// A short list is sorted by comparisons. A long one is first ordered by a
// radix sort (least significant digit first, stable) on the upper halves of
// its values' keys; only values that share an upper half can then still be
// out of order, and each such group, rare unless the values differ by less
// than a millionth of their size, is sorted on its own.
std::vector<std::size_t> ascending(const double* x, std::size_t len) {
    std::vector<std::size_t> order = work_array<std::size_t>(len);
    const auto before = [x](std::size_t a, std::size_t b) {
        return x[a] < x[b] || (x[a] == x[b] && a < b);
    };
    // Below this length the radix sort's tables cost more than they save.
    constexpr std::size_t radix_from = 256;
    constexpr std::uint64_t low = 0xffffffffu;
    if (len < radix_from || len > low) {  // GCOVR_EXCL_BR_LINE: 2^32 values take years
        struct Keyed {
            double value;
            std::size_t index;
        };
        std::vector<Keyed> keyed = work_array<Keyed>(len);
        for (std::size_t s = 0; s < len; ++s) keyed[s] = {x[s], s};
        std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
            return a.value < b.value || (a.value == b.value && a.index < b.index);
        });
        for (std::size_t q = 0; q < len; ++q) order[q] = keyed[q].index;
        return order;
    }
    // Each entry is the key's upper half above the index; four passes of 8
    // bits sort on the key.
    constexpr int digit_bits = 8;
    constexpr std::size_t digits = 4;
    constexpr std::size_t buckets = std::size_t{1} << digit_bits;
    std::vector<std::uint64_t> keyed = work_array<std::uint64_t>(len);
    std::vector<std::uint64_t> moved = work_array<std::uint64_t>(len);
    std::vector<std::uint32_t> histogram = work_array<std::uint32_t>(digits * buckets);
    const auto digit = [](std::uint64_t entry, std::size_t d) {
        return static_cast<std::size_t>(entry >> (32 + digit_bits * d)) & (buckets - 1);
    };
    for (std::size_t s = 0; s < len; ++s) {
        keyed[s] = (ascending_key(x[s]) & ~low) | s;
        for (std::size_t d = 0; d < digits; ++d) ++histogram[d * buckets + digit(keyed[s], d)];
    }
    for (std::size_t d = 0; d < digits; ++d) {
        std::uint32_t* place = histogram.data() + d * buckets;
        // A digit that all keys share moves nothing.
        if (place[digit(keyed[0], d)] == len) continue;
        std::uint32_t total = 0;
        for (std::size_t k = 0; k < buckets; ++k) {
            const std::uint32_t here = place[k];
            place[k] = total;
            total += here;
        }
        for (std::size_t q = 0; q < len; ++q) moved[place[digit(keyed[q], d)]++] = keyed[q];
        keyed.swap(moved);
    }
    for (std::size_t q = 0; q < len; ++q) order[q] = static_cast<std::size_t>(keyed[q] & low);
    for (std::size_t q = 0; q < len;) {
        std::size_t e = q + 1;
        while (e < len && keyed[e] >> 32 == keyed[q] >> 32) ++e;
        if (e - q > 1) {
            std::sort(order.begin() + static_cast<std::ptrdiff_t>(q),
                      order.begin() + static_cast<std::ptrdiff_t>(e), before);
        }
        q = e;
    }
    return order;
}

}  // namespace lumetra
