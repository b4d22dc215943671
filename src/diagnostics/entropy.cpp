#include "diagnostics/entropy.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "common/series.hpp"

namespace lumetra::diagnostics {

namespace {

constexpr double min_tolerance = 1e-10;

// Two templates differ at a position when their values there lie more than r
// apart. The test is "greater than", so a NaN difference (a NaN value, or two
// equal infinities) is no difference: NaN matches everything.
inline bool differ(double a, double b, double r) { return std::fabs(a - b) > r; }

// Matches among the templates of one series. The short templates have length
// m and starts 0..count-1; the long ones have length m + 1 and starts
// 0..count-2 (one fewer). Two templates match when no position differs, so a
// long pair matches exactly when the short pair at the same starts matches
// and position m does not differ: one pass counts both lengths.
struct Matches {
    std::size_t count = 0;
    // Unordered pairs of distinct templates that match.
    std::uint64_t short_pairs = 0;
    std::uint64_t long_pairs = 0;
    // Per template, by start: how many other templates it matches (filled only
    // for per-template counting).
    std::vector<std::uint64_t> short_of;
    std::vector<std::uint64_t> long_of;
};

// Every pair compared position by position up to the first difference,
// reading the series in place. Used when a value or the tolerance is not
// finite, where NaN's match-everything rule defeats any ordering.
template <bool PerTemplate>
void count_all_pairs(View<double> y, std::size_t m, double r, Matches& out) {
    const std::size_t count = out.count;
    const std::size_t long_count = count - 1;
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t j = i + 1; j < count; ++j) {
            std::size_t k = 0;
            while (k < m && !differ(y[i + k], y[j + k], r)) ++k;
            if (k < m) continue;
            const bool is_long = j < long_count && !differ(y[i + m], y[j + m], r);
            if constexpr (PerTemplate) {
                ++out.short_of[i];
                ++out.short_of[j];
                if (is_long) {
                    ++out.long_of[i];
                    ++out.long_of[j];
                }
            } else {
                ++out.short_pairs;
                out.long_pairs += is_long;
            }
        }
    }
}

// Two lanes side by side in one register (SSE2 on x86-64; scalar code where
// there is no vector unit). Comparisons give a mask lane of all ones or zero.
using Pair = double __attribute__((vector_size(16)));
using Mask = std::int64_t __attribute__((vector_size(16)));
using Tally = std::uint64_t __attribute__((vector_size(16)));

template <class V, class T>
inline V load(const T* at) {
    V v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

template <class V, class T>
inline void store(T* at, V v) {
    std::memcpy(at, &v, sizeof v);
}

// |d| <= r lane by lane, as two comparisons (negation is exact), so that it
// agrees with the scalar std::fabs(d) <= r, also for a NaN lane (false).
inline Mask within(Pair d, Pair r) { return (d <= r) & (-d <= r); }

// Whether positions [from, to) of the templates at starts i and j agree.
inline bool agree(const double* x, std::size_t i, std::size_t j, std::size_t from,
                  std::size_t to, double r) {
    for (std::size_t k = from; k < to; ++k) {
        if (differ(x[i + k], x[j + k], r)) return false;
    }
    return true;
}

// The same counts for finite values and a tolerance that is not NaN, without
// comparing every pair. The templates are ordered by their first value; a
// template at sorted position p can then only match the positions after it
// whose first value lies within r, and these form one run [p + 1, end):
// first[q] - first[p] is a rounded difference of ordered values, so it never
// decreases as q grows (rounding is monotone) and equals the absolute
// difference the all-pairs test takes. It never grows as p grows either, so
// end only moves forward. Within the run, the other positions are tested
// without branches (Depth 1: none besides position m; Depth 2: position 1;
// Depth 3: position 1, then the rest up to the first difference).
template <int Depth, bool PerTemplate>
void count_sorted_pairs(const double* x, std::size_t m, double r, Matches& out) {
    const std::size_t count = out.count;
    const std::size_t long_count = count - 1;
    // With m = 0 every short template is empty and all of them match; only the
    // long ones have a first value to order by.
    const std::size_t scanned = m == 0 ? long_count : count;

    std::vector<std::size_t> start = work_array<std::size_t>(scanned);
    std::iota(start.begin(), start.end(), std::size_t{0});
    std::sort(start.begin(), start.end(), [x](std::size_t a, std::size_t b) {
        return x[a] < x[b] || (x[a] == x[b] && a < b);
    });
    std::vector<double> first = work_array<double>(scanned);
    std::vector<double> second = work_array<double>(Depth >= 2 ? scanned : 0);
    std::vector<double> last = work_array<double>(scanned);
    for (std::size_t q = 0; q < scanned; ++q) {
        const std::size_t s = start[q];
        first[q] = x[s];
        if constexpr (Depth >= 2) second[q] = x[s + 1];
        // A template without a long version gets NaN at position m, which
        // fails the "<=" test below, so it takes part in no long match.
        last[q] = s < long_count ? x[s + m] : std::numeric_limits<double>::quiet_NaN();
    }

    std::vector<std::uint64_t> short_at = work_array<std::uint64_t>(PerTemplate ? scanned : 0);
    std::vector<std::uint64_t> long_at = work_array<std::uint64_t>(PerTemplate ? scanned : 0);
    std::size_t end = 0;
    for (std::size_t p = 0; p < scanned; ++p) {
        const double fp = first[p];
        if (end <= p) end = p + 1;
        while (end < scanned && first[end] - fp <= r) ++end;
        const double sp = Depth >= 2 ? second[p] : 0.0;
        const double lp = last[p];
        const std::size_t i = start[p];
        std::uint64_t own_short = 0;
        std::uint64_t own_long = 0;
        std::size_t q = p + 1;
        if constexpr (Depth <= 2) {
            // Two templates per step while two are left.
            const Pair sp2 = {sp, sp}, lp2 = {lp, lp}, r2 = {r, r};
            Tally short2 = {0, 0}, long2 = {0, 0};
            for (; q + 2 <= end; q += 2) {
                Mask is_short = {-1, -1};
                if constexpr (Depth == 2) is_short = within(load<Pair>(&second[q]) - sp2, r2);
                const Mask is_long = is_short & within(load<Pair>(&last[q]) - lp2, r2);
                // A true lane is all ones, -1: subtracting it counts one.
                const Tally add_short = __builtin_convertvector(is_short, Tally);
                const Tally add_long = __builtin_convertvector(is_long, Tally);
                if constexpr (PerTemplate) {
                    store(&short_at[q], load<Tally>(&short_at[q]) - add_short);
                    store(&long_at[q], load<Tally>(&long_at[q]) - add_long);
                }
                short2 = short2 - add_short;
                long2 = long2 - add_long;
            }
            own_short = short2[0] + short2[1];
            own_long = long2[0] + long2[1];
        }
        for (; q < end; ++q) {
            std::uint64_t is_short = 1;
            if constexpr (Depth >= 2) is_short = std::fabs(second[q] - sp) <= r;
            if constexpr (Depth >= 3) {
                if (is_short != 0) is_short = agree(x, i, start[q], 2, m, r);
            }
            const std::uint64_t is_long = is_short & (std::fabs(last[q] - lp) <= r);
            if constexpr (PerTemplate) {
                short_at[q] += is_short;
                long_at[q] += is_long;
            }
            own_short += is_short;
            own_long += is_long;
        }
        if constexpr (PerTemplate) {
            short_at[p] += own_short;
            long_at[p] += own_long;
        } else {
            out.short_pairs += own_short;
            out.long_pairs += own_long;
        }
    }

    if constexpr (PerTemplate) {
        for (std::size_t q = 0; q < scanned; ++q) {
            out.short_of[start[q]] = short_at[q];
            out.long_of[start[q]] = long_at[q];
        }
    }
    if (m == 0) {
        // All count * (count - 1) / 2 pairs of empty templates match (halving
        // the even factor keeps the product exact).
        out.short_pairs = count % 2 == 0 ? count / 2 * (count - 1) : (count - 1) / 2 * count;
        if constexpr (PerTemplate) std::fill(out.short_of.begin(), out.short_of.end(), count - 1);
    }
}

template <bool PerTemplate>
Matches count_matches(View<double> y, std::size_t m, std::size_t count, double r) {
    Matches out;
    out.count = count;
    if constexpr (PerTemplate) {
        out.short_of = work_array<std::uint64_t>(count);
        out.long_of = work_array<std::uint64_t>(count);
    }
    const std::size_t n = y.size();
    bool finite = !std::isnan(r);
    for (std::size_t i = 0; finite && i < n; ++i) finite = std::isfinite(y[i]);
    if (!finite) {
        count_all_pairs<PerTemplate>(y, m, r, out);
        return out;
    }
    std::vector<double> x = work_array<double>(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = y[i];
    if (m <= 1) {
        count_sorted_pairs<1, PerTemplate>(x.data(), m, r, out);
    } else if (m == 2) {
        count_sorted_pairs<2, PerTemplate>(x.data(), m, r, out);
    } else {
        count_sorted_pairs<3, PerTemplate>(x.data(), m, r, out);
    }
    return out;
}

// Phi: the mean over the templates of ln(C_i / N + 1e-20), C_i counting the
// template itself as well; summed in template order.
double phi(const std::vector<std::uint64_t>& others, std::size_t templates) {
    const double total = static_cast<double>(templates);
    double sum = 0.0;
    for (std::size_t i = 0; i < templates; ++i) {
        const double c = static_cast<double>(others[i] + 1);
        sum = sum + std::log(c / total + 1e-20);
    }
    return sum / total;
}

}  // namespace

double sample_entropy(View<double> y, std::uint64_t m, double r) {
    if (r < min_tolerance) return 0.0;  // a NaN tolerance passes
    const std::size_t n = y.size();
    if (n < 10) return 0.0;
    // Without n > m + 1 (tested so that m + 1 cannot wrap) there is no pair of
    // long templates, A = 0 and the result is 0.0; this covers n <= m too.
    if (n <= m || n - m <= 1) return 0.0;
    // Short templates start at 0..n-m-1, long ones at 0..n-m-2.
    const Matches matches = count_matches<false>(y, m, n - m, r);
    const std::uint64_t a = matches.long_pairs;
    const std::uint64_t b = matches.short_pairs;
    if (a == 0 || b == 0) return 0.0;
    return -std::log(static_cast<double>(a) / static_cast<double>(b));
}

double approximate_entropy(View<double> y, std::uint64_t m, double r) {
    if (r < min_tolerance) return 0.0;  // a NaN tolerance passes
    const std::size_t n = y.size();
    if (n <= 9) return 0.0;
    // No template of either length fits: both Phi are 0.
    if (n < m) return 0.0;
    // Every template that fits: n - m + 1 of length m, n - m of length m + 1.
    const std::size_t count = n - m + 1;
    const Matches matches = count_matches<true>(y, m, count, r);
    const double phi_short = phi(matches.short_of, count);
    const double phi_long = n > m ? phi(matches.long_of, count - 1) : 0.0;
    // fmax: the IEEE maximum that would ignore a NaN difference.
    return std::fmax(phi_short - phi_long, 0.0);
}

}  // namespace lumetra::diagnostics
