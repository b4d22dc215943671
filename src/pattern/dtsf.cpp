#include "pattern/dtsf.hpp"

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

namespace lumetra::pattern {

namespace {

using lanes::lane;
using lanes::set_lane;

// Mean and floored population standard deviation of windows, as used to
// z-normalise them, from each window's sum and sum of squares: var = sumsq /
// w - mean^2, a negative var (from rounding) raised to 0, and sd floored at
// 1e-8 so that a constant window normalises to zeros. The floors are
// at_least's: a NaN var or sd becomes the floor.
template <class V>
[[gnu::always_inline]] inline void window_scale(const V& sum, const V& sumsq, double width, V& mean,
                                                V& sd) noexcept {
    mean = sum / width;
    sd = sumsq / width - mean * mean;
    lanes::at_least(sd, 0.0);
    lanes::sqrt(sd);
    lanes::at_least(sd, 1e-8);
}

// The series is read as one contiguous block (a private copy of a strided,
// reversed or broadcast view), where the lanes of a vector are consecutive
// windows and load together. Candidate windows are independent, so G * L of
// them with consecutive starts s, s + 1, ... are computed side by side: lane l
// of vector g holds the window starting at s + g * L + l. Every window's sums still run over its
// own values i = 0..w-1 in index order from 0.0, exactly as for a window computed alone; side by
// side they share the loads and the query value, and their independent dependency chains overlap in
// the processor.

// Sum and sum of squares of each window.
template <class V, std::size_t G>
[[gnu::always_inline]] inline void window_sums(const double* y, std::size_t s, std::size_t w,
                                               V (&sum)[G], V (&sumsq)[G]) noexcept {
    constexpr std::size_t L = lanes::width<V>;
    for (std::size_t g = 0; g < G; ++g) sum[g] = sumsq[g] = V{};
    for (std::size_t i = 0; i < w; ++i) {
        for (std::size_t g = 0; g < G; ++g) {
            V v;
            lanes::load(v, y + s + g * L + i);
            sum[g] = sum[g] + v;
            sumsq[g] = sumsq[g] + v * v;
        }
    }
}

// D = sum over i of (q[i] - c[i])^2 for each window, where c[i] is the
// window's value, or with Normalize (value - mean) / sd with the window's own
// mean and sd.
template <bool Normalize, class V, std::size_t G, class Q>
[[gnu::always_inline]] inline void squared_distances(const double* y, std::size_t s, Q q,
                                                     std::size_t w, const V (&mean)[G],
                                                     const V (&sd)[G], V (&d)[G]) noexcept {
    constexpr std::size_t L = lanes::width<V>;
    for (std::size_t g = 0; g < G; ++g) d[g] = V{};
    for (std::size_t i = 0; i < w; ++i) {
        const double qi = q[i];
        for (std::size_t g = 0; g < G; ++g) {
            V v;
            lanes::load(v, y + s + g * L + i);
            V e;
            if constexpr (Normalize) {
                e = qi - (v - mean[g]) / sd[g];
            } else {
                e = qi - v;
            }
            d[g] = d[g] + e * e;
        }
    }
}

// out[s] for the G * L windows starting at s of dtsf_distances.
template <class V, std::size_t G>
[[gnu::always_inline]] inline void decayed_distances(const double* y, View<double> q, std::size_t s,
                                                     std::size_t w, bool normalize,
                                                     double time_decay, std::uint64_t n_total,
                                                     double* out) noexcept {
    constexpr std::size_t L = lanes::width<V>;
    const double width = static_cast<double>(w);
    V d[G];
    V mean[G] = {};
    V sd[G] = {};
    if (normalize) {
        V sum[G];
        V sumsq[G];
        window_sums(y, s, w, sum, sumsq);
        for (std::size_t g = 0; g < G; ++g) window_scale(sum[g], sumsq[g], width, mean[g], sd[g]);
        squared_distances<true>(y, s, q, w, mean, sd, d);
    } else {
        squared_distances<false>(y, s, q, w, mean, sd, d);
    }
    for (std::size_t g = 0; g < G; ++g) {
        V dist = d[g] / width;
        lanes::sqrt(dist);
        V weight;
        for (std::size_t l = 0; l < L; ++l) {
            // The age wraps modulo 2^64 when a start lies after n_total.
            const double age = static_cast<double>(n_total - (s + g * L + l));
            set_lane(weight, l, std::fmax(std::exp((-time_decay) * age), 1e-10));
        }
        lanes::store(out + s + g * L, dist / weight);
    }
}

// All windows of dtsf_distances: blocks of two vectors of windows, then a
// single vector, then the rest one by one. The distances wait on the divider
// (the normalised ones) or on exp (the plain ones) rather than on the number
// of instructions, so four lanes would not speed them up: they have no AVX2
// build.
struct DecayedDistances {
    static constexpr bool avx2 = false;

    template <class V>
    [[gnu::always_inline]] static void run(const double* y, View<double> q, std::size_t max_start,
                                           std::size_t w, bool normalize, double time_decay,
                                           std::uint64_t n_total, double* out) noexcept {
        lanes::tile<V, 2>(0, max_start, [&]<class U, std::size_t G>(std::size_t s) LUMETRA_INLINE {
            decayed_distances<U, G>(y, q, s, w, normalize, time_decay, n_total, out);
        });
    }
};

// A candidate window of dtsf_fit_residuals: its distance to the query (as an
// ascending key), its start and its squared distance D. Candidates are ordered
// by distance, equal distances by start, so that the earlier window is
// preferred at the selection boundary.
struct Candidate {
    std::uint64_t key;
    std::size_t start;
    double d;

    friend bool operator<(const Candidate& a, const Candidate& b) noexcept {
        return a.key < b.key || (a.key == b.key && a.start < b.start);
    }
};

// The k least candidates of one position, chosen as the candidates arrive in
// increasing start order, in expected linear time.
//
// Candidates are gathered in a buffer; when it is full, a partial selection
// keeps its k least, and from then on a candidate whose D exceeds every D kept
// is turned away without computing its distance: the distance sqrt(D / w)
// never decreases as D grows and the candidate starts later, so each of the k
// kept windows precedes it. A NaN D, or a NaN among those kept, turns nothing
// away. Each partial selection discards at least half the buffer, so the
// selections cost a constant per candidate on average. The set chosen is exactly
// the k least of all candidates, since (distance, start) orders them strictly.
class Nearest {
public:
    // The buffer a position with count candidates and 1 <= k <= count needs:
    // room for 2k candidates, or 32 for a small k, or all of them.
    static std::size_t capacity(std::size_t count, std::size_t k) noexcept {
        return std::min(count, std::max<std::size_t>(2 * k, 32));
    }

    // buffer holds at least capacity(count, k) entries.
    Nearest(Candidate* buffer, std::size_t count, std::size_t k) noexcept
        : buffer_(buffer), capacity_(capacity(count, k)), k_(k) {}

    bool may_enter(double d) const noexcept { return !(d > bound_); }

    void enter(std::size_t start, double d, double width) noexcept {
        if (size_ == capacity_) keep_least();
        buffer_[size_++] = {ascending_key(std::sqrt(d / width)), start, d};
    }

    // The k least, in buffer[0..k) in no particular order.
    const Candidate* least() noexcept {
        if (size_ > k_) keep_least();
        return buffer_;
    }

private:
    void keep_least() noexcept {
        std::nth_element(buffer_, buffer_ + k_, buffer_ + size_);
        size_ = k_;
        bound_ = 0.0;
        for (std::size_t r = 0; r < k_; ++r) {
            const double d = buffer_[r].d;
            bound_ = std::isnan(d) ? std::numeric_limits<double>::infinity() : std::max(bound_, d);
        }
    }

    Candidate* buffer_;
    std::size_t capacity_;
    std::size_t k_;
    std::size_t size_ = 0;
    double bound_ = std::numeric_limits<double>::infinity();
};

// The candidates at starts s..s + G * L - 1 of one position, offered to the
// selection with their squared distance D to the query q. With Normalize, q
// holds the normalised query and each window is scaled by its own mean and sd.
template <bool Normalize, class V, std::size_t G, class Q>
[[gnu::always_inline]] inline void offer_candidates(const double* y, Q q, std::size_t s,
                                                    std::size_t w, const double* means,
                                                    const double* sds, Nearest& nearest) noexcept {
    constexpr std::size_t L = lanes::width<V>;
    V mean[G] = {};
    V sd[G] = {};
    if constexpr (Normalize) {
        for (std::size_t g = 0; g < G; ++g) {
            lanes::load(mean[g], means + s + g * L);
            lanes::load(sd[g], sds + s + g * L);
        }
    }
    V d[G];
    squared_distances<Normalize>(y, s, q, w, mean, sd, d);
    for (std::size_t g = 0; g < G; ++g) {
        for (std::size_t l = 0; l < L; ++l) {
            const double dl = lane(d[g], l);
            if (nearest.may_enter(dl)) nearest.enter(s + g * L + l, dl, static_cast<double>(w));
        }
    }
}

// Work storage of dtsf_fit_residuals, sized once for all positions.
struct ResidualWork {
    std::vector<Candidate> candidates;
    std::vector<double> next;
    // With normalize: each window's mean and sd, and the normalised query.
    std::vector<double> means;
    std::vector<double> sds;
    std::vector<double> query;
};

// The normalised query of position t: the window y[q..q+w), q = t - w, scaled
// by its own mean and sd.
inline const double* normalised_query(const double* y, std::size_t q, std::size_t w,
                                      ResidualWork& work) noexcept {
    double* query = work.query.data();
    for (std::size_t i = 0; i < w; ++i) query[i] = (y[q + i] - work.means[q]) / work.sds[q];
    return query;
}

// The median of the values that followed the k chosen windows.
inline double median_next(const double* y, std::size_t w, const Candidate* chosen, std::size_t k,
                          ResidualWork& work) {
    double* next = work.next.data();
    for (std::size_t r = 0; r < k; ++r) next[r] = y[chosen[r].start + w];
    std::sort(next, next + k,
              [](double a, double b) { return ascending_key(a) < ascending_key(b); });
    const std::size_t m = k / 2;
    return k % 2 == 1 ? next[m] : (next[m - 1] + next[m]) * 0.5;
}

// The residuals of positions w + 1..n-1 (positions up to w have no
// candidate and keep their 0). Each position's candidates are offered in
// blocks of two vectors of windows, then a single vector, then one at a time.
//
// The plain distances are sums of squared differences, where four lanes
// halve the instructions per candidate. The normalised ones divide every
// value and wait on the divider, which divides as many lanes per cycle
// either way: they have no AVX2 build.
template <bool Normalize>
struct Residuals {
    static constexpr bool avx2 = !Normalize;

    template <class V>
    [[gnu::always_inline]] static void run(const double* y, std::size_t n, std::size_t w,
                                           std::uint64_t n_neighbors, ResidualWork& work,
                                           double* out) {
        const double* means = work.means.data();
        const double* sds = work.sds.data();
        for (std::size_t t = w + 1; t < n; ++t) {
            const std::size_t count = t - w;
            const std::size_t k = std::min<std::uint64_t>(n_neighbors, count);
            // The k-th smallest of the candidates is asked for with k - 1
            // taken modulo 2^64.
            if (k == 0) fail_selection_index(k - 1, count);

            const std::size_t q = t - w;  // the query window is y[q..t)
            const double* query = Normalize ? normalised_query(y, q, w, work) : y + q;
            Nearest nearest(work.candidates.data(), count, k);
            lanes::tile<V, 2>(0, count, [&]<class U, std::size_t G>(std::size_t s) LUMETRA_INLINE {
                offer_candidates<Normalize, U, G>(y, query, s, w, means, sds, nearest);
            });
            out[t] = y[t] - median_next(y, w, nearest.least(), k, work);
        }
    }
};

}  // namespace

Series dtsf_distances(View<double> y, View<double> query_norm, std::uint64_t w,
                      std::uint64_t max_start, bool normalize, double time_decay,
                      std::uint64_t n_total) {
    if (max_start == 0) return Series::zeros(0);

    // The result's size is checked first, then the windows; both before any
    // allocation.
    if (max_start > static_cast<std::uint64_t>(PTRDIFF_MAX)) fail_shape_too_large();
    check_capacity<double>(max_start);
    const std::size_t n = y.size();
    if (w > n) fail_range_end(w, n);
    if (w > 0 && query_norm.size() < w) fail_view_index();
    // The last start, max_start - 1, must leave room for its window: the
    // first start that does not is n - w + 1, whose window would end (or, for
    // w = 0, start) at n + 1.
    if (max_start - 1 > n - w) {
        if (w > 0) fail_range_end(n + 1, n);
        fail_range_start(n + 1, n);
    }

    Series out = Series::zeros(max_start);
    const Contiguous series(y);
    lanes::dispatch<DecayedDistances>(
        series.data(), query_norm, static_cast<std::size_t>(max_start), static_cast<std::size_t>(w),
        normalize, time_decay, n_total, out.data());
    return out;
}

Series dtsf_fit_residuals(View<double> y, std::uint64_t w, std::uint64_t n_neighbors,
                          bool normalize) {
    const std::size_t n = y.size();
    Series out = Series::zeros(n);
    if (w >= n) return out;
    const Contiguous series(y);
    const double* const x = series.data();

    // Position t has the t - w candidate windows starting at 0..t-w-1, the
    // last position the most. Work storage is sized once for all positions.
    const std::size_t most = n - 1 - w;
    const std::size_t most_k = std::min<std::uint64_t>(n_neighbors, most);
    ResidualWork work;
    work.candidates = work_array<Candidate>(Nearest::capacity(most, most_k));
    work.next = work_array<double>(most_k);

    // With normalize, every window (candidate or query) is scaled by its own
    // mean and sd. They depend on the window alone, so each window's scale is
    // computed once, with exactly the arithmetic a fresh computation would do.
    const std::size_t windows = normalize ? n - w + 1 : 0;
    work.means = work_array<double>(windows);
    work.sds = work_array<double>(windows);
    for (std::size_t s = 0; s < windows; ++s) {
        double sum[1];
        double sumsq[1];
        window_sums(x, s, w, sum, sumsq);
        window_scale(sum[0], sumsq[0], static_cast<double>(w), work.means[s], work.sds[s]);
    }
    work.query = work_array<double>(normalize ? w : 0);

    if (normalize) {
        lanes::dispatch<Residuals<true>>(x, n, static_cast<std::size_t>(w), n_neighbors, work,
                                         out.data());
    } else {
        lanes::dispatch<Residuals<false>>(x, n, static_cast<std::size_t>(w), n_neighbors, work,
                                          out.data());
    }
    return out;
}

}  // namespace lumetra::pattern
