#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/dispatch.hpp"
#include "common/lanes.hpp"
#include "common/series_writer.hpp"
#include "theta/theta.hpp"

namespace lumetra::theta {

namespace {

// Indices below this are raised to it in the multiplicative mode, so that no
// phase divides an observation by (nearly) zero.
constexpr double index_floor = 0.01;

// The phase after phase s of a period of p phases.
inline std::size_t next_phase(std::size_t s, std::size_t p) noexcept {
    return s + 1 == p ? 0 : s + 1;
}

// The window terms y[i] * r into term[0..n), and whether the decomposition is
// multiplicative: when every observation is positive, that is when the
// smallest non-NaN value (+inf if there is none) is above 0, so that no
// observation may be <= 0, a test that NaN never passes.
struct WindowTerms {
    template <class V>
    [[gnu::always_inline]] static bool run(View<double> y, double r, double* term) noexcept {
        lanes::Mask<lanes::width<V>> nonpositive{};
        bool any_nonpositive = false;
        lanes::tile<V, 1>(0, y.size(), [&]<class U, std::size_t>(std::size_t i) LUMETRA_INLINE {
            U value;
            lanes::load(value, y, i);
            lanes::store(term + i, value * r);
            if constexpr (std::is_same_v<U, double>) {
                any_nonpositive = any_nonpositive || value <= 0.0;
            } else {
                nonpositive = nonpositive | (value <= 0.0);
            }
        });
        for (std::size_t l = 0; l < lanes::width<V>; ++l) any_nonpositive |= nonpositive[l] != 0;
        return !any_nonpositive;
    }
};

// The averages of G vectors of neighbouring windows from window j on: each
// window's p terms added from 0.0 in increasing k, each window summed afresh.
// The G sums are independent chains, so they advance side by side.
template <class U, std::size_t G>
[[gnu::always_inline]] inline void window_averages(const double* term, std::size_t p, std::size_t j,
                                                   U (&average)[G]) {
    constexpr std::size_t w = lanes::width<U>;
    for (std::size_t g = 0; g < G; ++g) average[g] = U{};
#pragma GCC unroll 4
    for (std::size_t k = 0; k < p; ++k) {
        for (std::size_t g = 0; g < G; ++g) {
            U t;
            lanes::load(t, term + j + g * w + k);
            average[g] = average[g] + t;
        }
    }
}

// The sums of the windows' ratios or differences per phase, in indices, and
// how many each phase has, in counts. Windows of p observations: window j is
// matched with observation j + h, h = floor((p - 1) / 2), so for even p the
// centre is rounded down, and observation t has phase t mod p (counted along
// instead of divided out). The period is at most the length of the series.
struct WindowContributions {
    template <class V>
    [[gnu::always_inline]] static void run(View<double> y, std::size_t p, bool multiplicative,
                                           const double* term, double* indices,
                                           std::uint64_t* counts) noexcept {
        const std::size_t windows = y.size() - p + 1;  // p <= n
        const std::size_t h = (p - 1) / 2;
        std::size_t s = h;  // (0 + h) mod p, as h < p
        // A ratio counts only for a positive average (not for a non-positive
        // or NaN one, which says nothing about the ratio); a difference
        // always does.
        const auto contribute = [&](double average, double contribution) LUMETRA_INLINE {
            if (!multiplicative || average > 0.0) {
                indices[s] = indices[s] + contribution;
                ++counts[s];
            }
            s = next_phase(s, p);
        };
        // Vectors of neighbouring windows: their averages and their ratios or
        // differences side by side, then added to their phases one after the
        // other. A lane whose average does not count computes a ratio that is
        // never used.
        lanes::tile<V, 2>(0, windows, [&]<class U, std::size_t G>(std::size_t j) LUMETRA_INLINE {
            constexpr std::size_t w = lanes::width<U>;
            U average[G];
            window_averages<U, G>(term, p, j, average);
            for (std::size_t g = 0; g < G; ++g) {
                U value;
                lanes::load(value, y, j + h + g * w);
                const U contribution = multiplicative ? value / average[g] : value - average[g];
                for (std::size_t l = 0; l < w; ++l) {
                    contribute(lanes::lane(average[g], l), lanes::lane(contribution, l));
                }
            }
        });
    }
};

// The indices from the phase sums: the mean contribution per phase (a phase
// without any gets the neutral index of its mode, 1 for ratios, 0 for
// differences), then centred on their mean. Ratios are rescaled to average 1
// only when their mean allows it and then raised to the floor (a NaN index
// stays NaN); differences have their mean taken off.
// Without a window at all, counts is null.
void finish_indices(Series& indices, const std::uint64_t* counts, bool multiplicative) {
    const std::size_t p = indices.size();
    for (std::size_t phase = 0; phase < p; ++phase) {
        if (counts == nullptr || counts[phase] == 0) {
            indices[phase] = multiplicative ? 1.0 : 0.0;
        } else {
            indices[phase] = indices[phase] / static_cast<double>(counts[phase]);
        }
    }

    double sum = -0.0;
    for (std::size_t phase = 0; phase < p; ++phase) sum = sum + indices[phase];
    const double mean = sum / static_cast<double>(p);
    if (multiplicative) {
        if (mean > 0.0) {
            for (std::size_t phase = 0; phase < p; ++phase) indices[phase] = indices[phase] / mean;
        }
        for (std::size_t phase = 0; phase < p; ++phase) {
            indices[phase] = at_least_or_nan(indices[phase], index_floor);
        }
    } else {
        for (std::size_t phase = 0; phase < p; ++phase) indices[phase] = indices[phase] - mean;
    }
}

// adjusted[i] = y[i] / index or y[i] - index with the index of its phase
// (i mod p, counted along).
struct Adjust {
    template <class V>
    [[gnu::always_inline]] static void run(View<double> y, const double* indices, std::size_t p,
                                           bool multiplicative, Series& adjusted) noexcept {
        std::size_t s = 0;
        SeriesWriter<V> out(adjusted);
        lanes::tile<V, 1>(0, y.size(), [&]<class U, std::size_t>(std::size_t i) LUMETRA_INLINE {
            U value;
            lanes::load(value, y, i);
            U index;
            lanes::fill(index, [&](std::size_t) LUMETRA_INLINE {
                const double at = indices[s];
                s = next_phase(s, p);
                return at;
            });
            out.store(i, multiplicative ? value / index : value - index);
        });
        out.finish();
    }
};

}  // namespace

std::tuple<Series, bool, Series> four_theta_deseasonalize(View<double> y, std::uint64_t period) {
    const std::size_t n = y.size();
    const std::size_t p = period;
    // The result holds one index per phase: a period too large to size fails
    // before anything else is done.
    check_capacity<double>(p);

    if (p == 0) {
        // Observation i belongs to phase i mod p. With no observation the
        // mode is multiplicative: the minimum of nothing is +inf.
        if (n > 0) fail_remainder_by_zero();
        return {Series::zeros(0), true, Series::zeros(0)};
    }

    // The adjusted series is written last; until then its buffer holds the
    // window terms y[i] * r, which every window containing observation i
    // would otherwise form again: each is the same product.
    Series adjusted = Series::for_overwrite(n);
    const bool multiplicative =
        lanes::dispatch<WindowTerms>(y, 1.0 / static_cast<double>(p), adjusted.data());

    // Phase sums, turned into the indices in place. A period longer than the
    // series leaves no window, and every phase without a contribution.
    Series indices = Series::zeros(p);
    if (p <= n) {
        std::vector<std::uint64_t> counts = work_array<std::uint64_t>(p);
        lanes::dispatch<WindowContributions>(y, p, multiplicative, adjusted.data(), indices.data(),
                                             counts.data());
        finish_indices(indices, counts.data(), multiplicative);
    } else {
        finish_indices(indices, nullptr, multiplicative);
    }

    lanes::dispatch<Adjust>(y, indices.data(), p, multiplicative, adjusted);
    return {std::move(indices), multiplicative, std::move(adjusted)};
}

namespace {

// The lines of four_theta_fitted, as the caller gave them.
struct Lines {
    View<double> thetas;
    View<double> intercepts;
    View<double> slopes;
    View<double> weights;
    View<double> filtered_flat;
    View<std::int64_t> filtered_lengths;
    View<double> last_levels;
    // Line i's levels occupy filtered_flat[offsets[i] .. offsets[i] + len_i).
    std::vector<std::uint64_t> offsets;
};

// The offsets of the lines' pieces of filtered_flat. The lengths are unsigned
// 64-bit counts (a negative entry reads as a huge one), and the offsets wrap
// modulo 2^64 rather than overflow.
std::vector<std::uint64_t> piece_offsets(View<std::int64_t> filtered_lengths, std::size_t lines) {
    std::vector<std::uint64_t> offsets = work_array<std::uint64_t>(lines);
    for (std::size_t i = 1; i < lines; ++i) {
        offsets[i] = offsets[i - 1] + static_cast<std::uint64_t>(filtered_lengths.at(i - 1));
    }
    return offsets;
}

// Every line is checked before any is accumulated: a failure returns no
// result either way. Line i needs weights, intercepts, slopes and
// filtered_lengths to have an element i; the level of every time point is
// looked up, also on a theta-0 line that does not use it: t < len_i reads
// the line's piece of filtered_flat, which must lie inside it, and later
// points read last_levels[i], which must exist.
void check_lines(const Lines& lines, std::uint64_t n) {
    const std::size_t flat_size = lines.filtered_flat.size();
    for (std::size_t i = 0; i < lines.thetas.size(); ++i) {
        (void)lines.weights.at(i);
        (void)lines.intercepts.at(i);
        (void)lines.slopes.at(i);
        const std::uint64_t length = static_cast<std::uint64_t>(lines.filtered_lengths.at(i));
        const std::uint64_t offset = lines.offsets[i];
        const std::uint64_t from_piece = std::min<std::uint64_t>(length, n);
        if (from_piece > 0 && (offset >= flat_size || from_piece > flat_size - offset)) {
            fail_view_index();
        }
        if (from_piece < n) (void)lines.last_levels.at(i);
    }
}

// Adds line i's terms to f[begin..end), width<V> time points at a time. The
// first line adds its terms to 0.0 itself (which turns -0.0 into +0.0 as the
// addition to a zeroed f would), so f needs no zeroing pass.
template <class V>
[[gnu::always_inline]] inline void add_line(const Lines& lines, std::size_t i, std::uint64_t n,
                                            std::size_t begin, std::size_t end, double* f) {
    const bool first = i == 0;
    const auto add = [first, f](std::size_t t, const auto& term) LUMETRA_INLINE {
        std::remove_cvref_t<decltype(term)> before{};
        if (!first) lanes::load(before, f + t);
        lanes::store(f + t, before + term);
    };
    const double w = lines.weights[i];
    const double a = lines.intercepts[i];
    const double b = lines.slopes[i];
    if (lines.thetas[i] == 0.0) {
        // The trend line alone.
        lanes::for_each_index<V>(begin, end, [=](std::size_t t, const auto& at) LUMETRA_INLINE {
            add(t, w * (a + b * at));
        });
        return;
    }
    // The mean of trend and level, formed as (w * (T + L)) * 0.5: levels from
    // the line's piece of filtered_flat, then its last level.
    const std::size_t from_piece =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(lines.filtered_lengths[i]), n);
    const std::size_t split = std::clamp(from_piece, begin, end);
    const std::uint64_t offset = lines.offsets[i];
    const View<double> flat = lines.filtered_flat;
    lanes::for_each_index<V>(begin, split, [=](std::size_t t, const auto& at) LUMETRA_INLINE {
        std::remove_cvref_t<decltype(at)> level;
        lanes::load(level, flat, offset + t);
        add(t, (w * ((a + b * at) + level)) * 0.5);
    });
    if (split == end) return;
    const double last = lines.last_levels[i];
    lanes::for_each_index<V>(split, end, [=](std::size_t t, const auto& at) LUMETRA_INLINE {
        add(t, (w * ((a + b * at) + last)) * 0.5);
    });
}

// The lines added into each f[t] in increasing i. The time points are taken
// in blocks, all lines over one block before the next, so that the block of f
// stays in the first-level cache instead of making one pass over memory per
// line; there its sums are also looked at for NaN.
struct AddLines {
    template <class V>
    [[gnu::always_inline]] static void run(const Lines& lines, std::size_t n, Series& f) noexcept {
        constexpr std::size_t block = 1024;
        double* const sums = f.data();
        SeriesWriter<V> out(f);
        for (std::size_t begin = 0; begin < n; begin += block) {
            const std::size_t end = std::min<std::size_t>(n, begin + block);
            for (std::size_t i = 0; i < lines.thetas.size(); ++i) {
                add_line<V>(lines, i, n, begin, end, sums);
            }
            lanes::tile<V, 1>(begin, end, [&]<class U, std::size_t>(std::size_t t) LUMETRA_INLINE {
                U x;
                lanes::load(x, sums + t);
                out.see(x);
            });
        }
        out.finish();
    }
};

}  // namespace

Series four_theta_fitted(std::uint64_t n, View<double> thetas, View<double> intercepts,
                         View<double> slopes, View<double> weights, View<double> filtered_flat,
                         View<std::int64_t> filtered_lengths, View<double> last_levels) {
    const std::size_t count = thetas.size();
    const Lines lines{
        thetas,        intercepts,       slopes,      weights,
        filtered_flat, filtered_lengths, last_levels, piece_offsets(filtered_lengths, count)};
    // The result is sized before any line is checked.
    check_capacity<double>(n);
    check_lines(lines, n);

    if (count == 0) return Series::zeros(n);
    Series f = Series::for_overwrite(n);
    lanes::dispatch<AddLines>(lines, static_cast<std::size_t>(n), f);
    return f;
}

}  // namespace lumetra::theta
