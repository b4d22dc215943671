#include "diagnostics/entropy.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/ascending.hpp"
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
    // Per template, by start: how many templates it matches, itself included
    // (filled only for per-template counting).
    std::vector<std::uint64_t> short_of;
    std::vector<std::uint64_t> long_of;
};

// Every pair compared position by position up to the first difference,
// reading the series in place. Used when a value or the tolerance is not
// finite, where NaN's match-everything rule defeats any ordering. A template
// always matches itself there: its differences are 0 or NaN.
template <bool PerTemplate>
void count_all_pairs(View<double> y, std::size_t m, double r, Matches& out) {
    const std::size_t count = out.count;
    const std::size_t long_count = count - 1;
    if constexpr (PerTemplate) {
        std::fill(out.short_of.begin(), out.short_of.end(), 1);
        std::fill(out.long_of.begin(), out.long_of.end(), 1);
    }
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

// The lanes of the widest vector: every column below has this many values of
// room after its last template, so that a vector load that starts at a
// template, or at the end of the templates, stays inside it.
constexpr std::size_t room = lanes::width<lanes::Vector<4>>;

// The templates of a finite series, arranged so that each is compared with
// few others.
//
// Whether |a - b| <= r is decided by the rounded difference of the larger and
// the smaller value (rounding is symmetric, so that difference is what fabs
// gives), and rounding is monotone: along an ascending list, the difference
// from a given value never decreases. Hence:
//
// Strips. In the order of their first values, the templates are cut into
// strips: a strip starts at a value v0 and holds the values v after it with
// v - v0 <= r. A template of strip b can match on its first value only those
// of strips b - 1, b and b + 1: a value two strips up is at least the start
// of its strip, the template's own value at most the start of the strip
// between, and those two starts differ by more than r.
//
// Runs. Within a strip the templates are ordered by a key, their value at
// position 1; those whose keys lie within r of a given value form one run of
// strip positions, and both ends of the run only move up as that value
// grows.
//
// A template is then compared only with the runs of the strips around it,
// on its other positions. Where strips would hold few templates each, and
// always for m <= 1 (Depth 1), the templates form one strip instead, keyed
// by their first values.
struct Strips {
    // Per template in strip order: the key, the other one of positions 0
    // and 1 (Depth >= 2), the value at position m (NaN for the one template
    // that has no long version, which fails every "<=" test and so takes
    // part in no long match), the start.
    std::vector<double> key;
    std::vector<double> other;
    std::vector<double> last;
    std::vector<std::size_t> start;
    // Strip b holds the strip positions bounds[b] .. bounds[b + 1] - 1.
    std::vector<std::size_t> bounds;
};

template <int Depth>
Strips cut_strips(const double* x, std::size_t scanned, std::size_t long_count, std::size_t m,
                  double r) {
    Strips strips;
    strips.key = work_array<double>(scanned + room);
    strips.other = work_array<double>(Depth >= 2 ? scanned + room : 0);
    strips.last = work_array<double>(scanned + room);
    strips.start = work_array<std::size_t>(scanned + room);
    // The template at start s at strip position q, its runs taken on its
    // value at position at (0 or 1).
    const auto place = [&](std::size_t q, std::size_t s, std::size_t at) {
        strips.key[q] = x[s + at];
        if constexpr (Depth >= 2) strips.other[q] = x[s + 1 - at];
        strips.last[q] = s < long_count ? x[s + m] : std::numeric_limits<double>::quiet_NaN();
        strips.start[q] = s;
    };
    // Strips that hold few templates each cost more in runs to follow than
    // they save in comparisons: the templates are cut into strips only when
    // these hold least_held of them on average, and form one strip otherwise.
    constexpr std::size_t least_held = 32;
    const bool cut = Depth >= 2 && scanned >= 2 * least_held;
    // The value at position 1 of the template at start s is the first value
    // of the one at s + 1, so one ordering of x[0..scanned] gives both orders:
    // without index scanned, the templates by first value; without index 0
    // and shifted down by one, the templates by second value.
    const std::vector<std::size_t> order = ascending(x, cut ? scanned + 1 : scanned);
    std::vector<std::size_t> strip_of = work_array<std::size_t>(cut ? scanned : 0);
    std::size_t strip_count = 0;
    if (cut) {
        double strip_start = 0.0;
        for (const std::size_t s : order) {
            if (s == scanned) continue;
            if (strip_count == 0 || x[s] - strip_start > r) {
                ++strip_count;
                strip_start = x[s];
            }
            strip_of[s] = strip_count - 1;
        }
    }
    if (!cut || strip_count > scanned / least_held) {
        std::size_t q = 0;
        for (const std::size_t s : order) {
            if (s < scanned) place(q++, s, 0);
        }
        strips.bounds = {0, scanned};
        return strips;
    }
    strips.bounds = work_array<std::size_t>(strip_count + 1);
    for (std::size_t s = 0; s < scanned; ++s) ++strips.bounds[strip_of[s] + 1];
    for (std::size_t b = 0; b < strip_count; ++b) strips.bounds[b + 1] += strips.bounds[b];
    // The templates dealt into their strips in the order of their second
    // values.
    std::vector<std::size_t> next(strips.bounds.begin(), strips.bounds.end() - 1);
    for (const std::size_t s : order) {
        if (s > 0) place(next[strip_of[s - 1]]++, s - 1, 1);
    }
    return strips;
}

// The template at strip position p compared with those at strip positions
// q..end-1, a vector of candidates per step, the last one partial. Each lane
// computes the all-pairs test for its candidate, less the key, which the run
// has already tested; a true comparison is a lane of all ones (-1 as an
// integer), so subtracting the masks from the lanes of shorts and longs
// counts the matches.
template <class V, int Depth, class M>
[[gnu::always_inline]] inline void count_run(const Strips& strips, const double* x, std::size_t m,
                                             double r, std::size_t p, std::size_t q,
                                             std::size_t end, M& shorts, M& longs) noexcept {
    constexpr std::size_t L = lanes::width<V>;
    const double op = Depth >= 2 ? strips.other[p] : 0.0;
    const double lp = strips.last[p];
    const auto step = [&](std::size_t c, const M& candidates) LUMETRA_INLINE {
        M is_short = candidates;
        if constexpr (Depth >= 2) {
            V d;
            lanes::load(d, strips.other.data() + c);
            M near;
            lanes::magnitude_at_most(near, d - op, r);
            is_short &= near;
        }
        if constexpr (Depth >= 3) {
            for (std::size_t l = 0; l < L; ++l) {
                if (is_short[l] != 0 && !agree(x, strips.start[p], strips.start[c + l], 2, m, r)) {
                    is_short[l] = 0;
                }
            }
        }
        V d;
        lanes::load(d, strips.last.data() + c);
        M is_long;
        lanes::magnitude_at_most(is_long, d - lp, r);
        is_long &= is_short;
        shorts -= is_short;
        longs -= is_long;
    };
    for (; end - q >= L; q += L) step(q, ~M{});
    if (q < end) {
        M valid;
        lanes::first_lanes(valid, end - q);
        step(q, valid);
    }
}

// The run of strip positions lo..hi-1 whose keys lie within r of the key k
// of the template being counted, in one strip that ends at end. Both bounds
// only move up as k grows: lo past the keys with k - key > r, hi up to the
// first key with key - k > r. The keys of a strip ascend, so each test holds
// for a leading part of the positions it looks at, and a vector of positions
// at a time is tested, up to the end of the strip, until one fails.
struct Run {
    std::size_t lo;
    std::size_t hi;
    std::size_t end;

    template <class V, class Test>
    [[gnu::always_inline]] static std::size_t advance(const double* key, std::size_t q,
                                                      std::size_t end, Test test) noexcept {
        constexpr std::size_t L = lanes::width<V>;
        using M = lanes::Mask<L>;
        for (;;) {
            V values;
            lanes::load(values, key + q);
            M holds;
            test(holds, values);
            if (end - q < L) {
                M inside;
                lanes::first_lanes(inside, end - q);
                holds &= inside;
            }
            const std::size_t passed = lanes::set_lane_count(holds);
            q += passed;
            if (passed < L) return q;
        }
    }

    template <class V>
    [[gnu::always_inline]] void follow_lo(const double* key, double k, double r) noexcept {
        using M = lanes::Mask<lanes::width<V>>;
        lo = advance<V>(key, lo, end,
                        [k, r](M& holds, const V& v) LUMETRA_INLINE { holds = k - v > r; });
    }

    template <class V>
    [[gnu::always_inline]] void follow_hi(const double* key, double k, double r) noexcept {
        using M = lanes::Mask<lanes::width<V>>;
        hi = advance<V>(key, std::max(hi, lo), end,
                        [k, r](M& holds, const V& v) LUMETRA_INLINE { holds = v - k <= r; });
    }

    template <class V>
    [[gnu::always_inline]] void follow(const double* key, double k, double r) noexcept {
        follow_lo<V>(key, k, r);
        follow_hi<V>(key, k, r);
    }
};

// The counts of a finite series with a tolerance that is not NaN. For
// per-template counts each template is compared with the runs of its own
// strip and both neighbours, itself included; for the pair totals only with
// the later part of its own run and the run in the strip above, so that every
// pair is seen once.
template <class V, int Depth, bool PerTemplate>
[[gnu::always_inline]] inline void scan_strips(const Strips& strips, const double* x, std::size_t m,
                                               double r, Matches& out) noexcept {
    static_assert(lanes::width<V> <= room);
    using M = lanes::Mask<lanes::width<V>>;
    const std::size_t strip_count = strips.bounds.size() - 1;
    const double* key = strips.key.data();
    M all_shorts = {};
    M all_longs = {};
    for (std::size_t b = 0; b < strip_count; ++b) {
        const std::size_t begin = strips.bounds[b];
        const std::size_t end = strips.bounds[b + 1];
        // The runs start at the foot of their strips; where there is no strip
        // below or above, the run is empty.
        const std::size_t below_begin = b > 0 ? strips.bounds[b - 1] : begin;
        const std::size_t above_end = b + 1 < strip_count ? strips.bounds[b + 2] : end;
        Run below = {below_begin, below_begin, begin};
        Run own = {begin, begin, end};
        Run above = {end, end, above_end};
        const bool has_below = b > 0;
        const bool has_above = b + 1 < strip_count;
        for (std::size_t p = begin; p < end; ++p) {
            const double k = key[p];
            if constexpr (PerTemplate) {
                // The bounds first, then the counts: the three searches are
                // independent and overlap.
                if (has_below) below.template follow<V>(key, k, r);
                own.template follow<V>(key, k, r);
                if (has_above) above.template follow<V>(key, k, r);
                M shorts = {};
                M longs = {};
                if (has_below)
                    count_run<V, Depth>(strips, x, m, r, p, below.lo, below.hi, shorts, longs);
                count_run<V, Depth>(strips, x, m, r, p, own.lo, own.hi, shorts, longs);
                if (has_above)
                    count_run<V, Depth>(strips, x, m, r, p, above.lo, above.hi, shorts, longs);
                out.short_of[strips.start[p]] = lanes::lane_total(shorts);
                out.long_of[strips.start[p]] = lanes::lane_total(longs);
            } else {
                // The run of the template's own strip begins at or before it.
                own.template follow_hi<V>(key, k, r);
                if (has_above) above.template follow<V>(key, k, r);
                count_run<V, Depth>(strips, x, m, r, p, p + 1, own.hi, all_shorts, all_longs);
                if (has_above) {
                    count_run<V, Depth>(strips, x, m, r, p, above.lo, above.hi, all_shorts,
                                        all_longs);
                }
            }
        }
    }
    out.short_pairs += lanes::lane_total(all_shorts);
    out.long_pairs += lanes::lane_total(all_longs);
}

template <int Depth, bool PerTemplate>
struct ScanStrips {
    template <class V>
    [[gnu::always_inline]] static void run(const Strips& strips, const double* x, std::size_t m,
                                           double r, Matches& out) noexcept {
        scan_strips<V, Depth, PerTemplate>(strips, x, m, r, out);
    }
};

template <int Depth, bool PerTemplate>
void count_sorted_pairs(const double* x, std::size_t m, double r, Matches& out) {
    const std::size_t count = out.count;
    const std::size_t long_count = count - 1;
    // With m = 0 every short template is empty and all of them match; only the
    // long ones have a first value to order by.
    const std::size_t scanned = m == 0 ? long_count : count;
    const Strips strips = cut_strips<Depth>(x, scanned, long_count, m, r);
    lanes::dispatch<ScanStrips<Depth, PerTemplate>>(strips, x, m, r, out);
    if (m == 0) {
        // All count * (count - 1) / 2 pairs of empty templates match (halving
        // the even factor keeps the product exact).
        out.short_pairs = count % 2 == 0 ? count / 2 * (count - 1) : (count - 1) / 2 * count;
        if constexpr (PerTemplate) std::fill(out.short_of.begin(), out.short_of.end(), count);
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

// Phi: the mean over the templates of ln(C_i / N + 1e-20), summed in template
// order. The counts repeat a great deal, and the term of a count is the same
// value wherever it appears, so each count's logarithm is taken once.
double phi(const std::vector<std::uint64_t>& matches, std::size_t templates) {
    const double total = static_cast<double>(templates);
    std::vector<double> term = work_array<double>(templates + 1);
    std::fill(term.begin(), term.end(), std::numeric_limits<double>::quiet_NaN());
    double sum = 0.0;
    for (std::size_t i = 0; i < templates; ++i) {
        const std::uint64_t c = matches[i];
        if (c > templates) fail_index(templates + 1, c);  // GCOVR_EXCL_BR_LINE: c <= templates
        if (std::isnan(term[c])) term[c] = std::log(static_cast<double>(c) / total + 1e-20);
        sum = sum + term[c];
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
    if (a == 0 || b == 0) return 0.0;  // GCOVR_EXCL_BR_LINE: b >= a
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
