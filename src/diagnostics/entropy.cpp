#include "diagnostics/entropy.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/contiguous.hpp"
#include "common/dispatch.hpp"
#include "common/lanes.hpp"

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

// Whether positions [from, to) of the templates at starts i and j agree.
inline bool agree(const double* x, std::size_t i, std::size_t j, std::size_t from, std::size_t to,
                  double r) {
    for (std::size_t k = from; k < to; ++k) {
        if (differ(x[i + k], x[j + k], r)) return false;
    }
    return true;
}

// The templates of a finite series ordered by their first value (equal values
// by start), with the values that the counting compares: position 1 (kept
// for Depth >= 2) and position m (NaN for the one template that has no long
// version, which fails every "<=" test and so takes part in no long match).
struct SortedTemplates {
    struct First {
        double value;
        std::size_t start;
    };
    std::vector<First> first;
    std::vector<double> second;
    std::vector<double> last;
};

template <int Depth>
SortedTemplates sort_templates(const double* x, std::size_t scanned, std::size_t long_count,
                               std::size_t m) {
    SortedTemplates t;
    t.first = work_array<SortedTemplates::First>(scanned);
    for (std::size_t s = 0; s < scanned; ++s) t.first[s] = {x[s], s};
    std::sort(t.first.begin(), t.first.end(), [](const auto& a, const auto& b) {
        return a.value < b.value || (a.value == b.value && a.start < b.start);
    });
    t.second = work_array<double>(Depth >= 2 ? scanned : 0);
    t.last = work_array<double>(scanned);
    for (std::size_t q = 0; q < scanned; ++q) {
        const std::size_t s = t.first[q].start;
        if constexpr (Depth >= 2) t.second[q] = x[s + 1];
        t.last[q] = s < long_count ? x[s + m] : std::numeric_limits<double>::quiet_NaN();
    }
    return t;
}

// In every lane, whether |d| <= r: the sign bit cleared, as fabs does, then
// compared (false for a NaN lane).
template <class V, class M>
[[gnu::always_inline]] inline void within(M& out, const V& d, double r) noexcept {
    const M magnitude = reinterpret_cast<M>(d) & std::numeric_limits<std::int64_t>::max();
    out = reinterpret_cast<V>(magnitude) <= r;
}

// The candidates at sorted positions q.. below end compared with the template
// at sorted position p, whose values at positions 1 and m are sp and lp, a
// vector of candidates per step. Each lane computes exactly the scalar test
// of the loop in scan_sorted; a true comparison is a lane of all ones (-1 as
// an integer), so subtracting the masks from the lanes of shorts and longs
// counts the matches. Returns the first position not counted.
template <class V, int Depth, bool PerTemplate, class M>
[[gnu::always_inline]] inline std::size_t count_in_lanes(const SortedTemplates& t,
                                                         std::uint64_t* short_at,
                                                         std::uint64_t* long_at, std::size_t q,
                                                         std::size_t end, double sp, double lp,
                                                         double r, M& shorts, M& longs) noexcept {
    constexpr std::size_t L = lanes::width<V>;
    for (; q + L <= end; q += L) {
        M is_short = ~M{};
        if constexpr (Depth == 2) {
            V d;
            lanes::load(d, t.second.data() + q);
            within(is_short, d - sp, r);
        }
        V dl;
        lanes::load(dl, t.last.data() + q);
        M is_long;
        within(is_long, dl - lp, r);
        is_long &= is_short;
        if constexpr (PerTemplate) {
            M s;
            lanes::load(s, short_at + q);
            lanes::store(short_at + q, s - is_short);
            M l;
            lanes::load(l, long_at + q);
            lanes::store(long_at + q, l - is_long);
        }
        shorts -= is_short;
        longs -= is_long;
    }
    return q;
}

// The sum of the lanes of a vector of counts.
template <class M>
[[gnu::always_inline]] inline std::uint64_t lane_sum(const M& counts) noexcept {
    std::uint64_t sum = 0;
    for (std::size_t l = 0; l < sizeof(M) / sizeof(std::int64_t); ++l) {
        sum += static_cast<std::uint64_t>(counts[l]);
    }
    return sum;
}

// The counts for finite values and a tolerance that is not NaN, without
// comparing every pair. The templates are ordered by their first value; a
// template at sorted position p can then only match the positions after it
// whose first value lies within r, and these form one run [p + 1, end):
// first[q] - first[p] is a rounded difference of ordered values, so it never
// decreases as q grows (rounding is monotone) and equals the absolute
// difference the all-pairs test takes. It never grows as p grows either, so
// end only moves forward. Within the run, the other positions are tested
// without branches (Depth 1: none besides position m; Depth 2: position 1;
// Depth 3: position 1, then the rest up to the first difference), for Depth
// 1 and 2 a vector of V candidates per step.
template <class V, int Depth, bool PerTemplate>
[[gnu::always_inline]] inline void scan_sorted(const SortedTemplates& t, const double* x,
                                               std::size_t m, double r, std::uint64_t* short_at,
                                               std::uint64_t* long_at, Matches& out) noexcept {
    using M = lanes::Mask<lanes::width<V>>;
    const std::size_t scanned = t.first.size();
    // Without per-template counts, the lanes count all pairs and are summed
    // once at the end.
    M all_shorts = {};
    M all_longs = {};
    std::size_t end = 0;
    for (std::size_t p = 0; p < scanned; ++p) {
        const double fp = t.first[p].value;
        if (end <= p) end = p + 1;
        while (end < scanned && t.first[end].value - fp <= r) ++end;
        const double sp = Depth >= 2 ? t.second[p] : 0.0;
        const double lp = t.last[p];
        const std::size_t i = t.first[p].start;
        std::uint64_t own_short = 0;
        std::uint64_t own_long = 0;
        std::size_t q = p + 1;
        if constexpr (Depth <= 2 && PerTemplate) {
            M shorts = {};
            M longs = {};
            q = count_in_lanes<V, Depth, true>(t, short_at, long_at, q, end, sp, lp, r, shorts,
                                               longs);
            own_short = lane_sum(shorts);
            own_long = lane_sum(longs);
        } else if constexpr (Depth <= 2) {
            q = count_in_lanes<V, Depth, false>(t, short_at, long_at, q, end, sp, lp, r, all_shorts,
                                                all_longs);
        }
        for (; q < end; ++q) {
            std::uint64_t is_short = 1;
            if constexpr (Depth >= 2) is_short = std::fabs(t.second[q] - sp) <= r;
            if constexpr (Depth >= 3) {
                if (is_short != 0) is_short = agree(x, i, t.first[q].start, 2, m, r);
            }
            const std::uint64_t is_long = is_short & (std::fabs(t.last[q] - lp) <= r);
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
    out.short_pairs += lane_sum(all_shorts);
    out.long_pairs += lane_sum(all_longs);
}

template <int Depth, bool PerTemplate>
struct ScanSorted {
    template <class V>
    [[gnu::always_inline]] static void run(const SortedTemplates& t, const double* x, std::size_t m,
                                           double r, std::uint64_t* short_at,
                                           std::uint64_t* long_at, Matches& out) noexcept {
        scan_sorted<V, Depth, PerTemplate>(t, x, m, r, short_at, long_at, out);
    }
};

template <int Depth, bool PerTemplate>
void count_sorted_pairs(const double* x, std::size_t m, double r, Matches& out) {
    const std::size_t count = out.count;
    const std::size_t long_count = count - 1;
    // With m = 0 every short template is empty and all of them match; only the
    // long ones have a first value to order by.
    const std::size_t scanned = m == 0 ? long_count : count;
    const SortedTemplates t = sort_templates<Depth>(x, scanned, long_count, m);

    std::vector<std::uint64_t> short_at = work_array<std::uint64_t>(PerTemplate ? scanned : 0);
    std::vector<std::uint64_t> long_at = work_array<std::uint64_t>(PerTemplate ? scanned : 0);
    lanes::dispatch<ScanSorted<Depth, PerTemplate>>(t, x, m, r, short_at.data(), long_at.data(),
                                                    out);

    if constexpr (PerTemplate) {
        for (std::size_t q = 0; q < scanned; ++q) {
            out.short_of[t.first[q].start] = short_at[q];
            out.long_of[t.first[q].start] = long_at[q];
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
    const Contiguous x(y);
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
