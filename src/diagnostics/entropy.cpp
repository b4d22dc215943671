#include "diagnostics/entropy.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "common/series.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// Two candidates per step in SSE2 registers (the x86-64 baseline). Each lane
// computes exactly the scalar test: the difference, its sign cleared, compared
// with r; a true comparison is a lane of all ones (-1 as an integer), so
// subtracting the masks counts the matches.
template <int Depth, bool PerTemplate>
std::size_t count_two_at_a_time(const double* second, const double* last, std::uint64_t* short_at,
                                std::uint64_t* long_at, std::size_t q, std::size_t end, double sp,
                                double lp, double r, std::uint64_t& own_short,
                                std::uint64_t& own_long) {
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d r2 = _mm_set1_pd(r), sp2 = _mm_set1_pd(sp), lp2 = _mm_set1_pd(lp);
    __m128i short2 = _mm_setzero_si128(), long2 = _mm_setzero_si128();
    for (; q + 2 <= end; q += 2) {
        __m128d is_short = _mm_castsi128_pd(_mm_set1_epi64x(-1));
        if constexpr (Depth == 2) {
            const __m128d d = _mm_sub_pd(_mm_loadu_pd(second + q), sp2);
            is_short = _mm_cmple_pd(_mm_andnot_pd(sign, d), r2);
        }
        const __m128d dl = _mm_sub_pd(_mm_loadu_pd(last + q), lp2);
        const __m128d is_long = _mm_and_pd(is_short, _mm_cmple_pd(_mm_andnot_pd(sign, dl), r2));
        const __m128i add_short = _mm_castpd_si128(is_short);
        const __m128i add_long = _mm_castpd_si128(is_long);
        if constexpr (PerTemplate) {
            auto* s = reinterpret_cast<__m128i*>(short_at + q);
            auto* l = reinterpret_cast<__m128i*>(long_at + q);
            _mm_storeu_si128(s, _mm_sub_epi64(_mm_loadu_si128(s), add_short));
            _mm_storeu_si128(l, _mm_sub_epi64(_mm_loadu_si128(l), add_long));
        }
        short2 = _mm_sub_epi64(short2, add_short);
        long2 = _mm_sub_epi64(long2, add_long);
    }
    std::uint64_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), short2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 2), long2);
    own_short += lanes[0] + lanes[1];
    own_long += lanes[2] + lanes[3];
    return q;
}
#endif

// Whether positions [from, to) of the templates at starts i and j agree.
inline bool agree(const double* x, std::size_t i, std::size_t j, std::size_t from, std::size_t to,
                  double r) {
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
    std::sort(start.begin(), start.end(),
              [x](std::size_t a, std::size_t b) { return x[a] < x[b] || (x[a] == x[b] && a < b); });
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
#if defined(__SSE2__)
        if constexpr (Depth <= 2) {
            q = count_two_at_a_time<Depth, PerTemplate>(second.data(), last.data(), short_at.data(),
                                                        long_at.data(), q, end, sp, lp, r,
                                                        own_short, own_long);
        }
#endif
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
