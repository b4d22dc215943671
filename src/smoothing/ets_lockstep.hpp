// The ETS recursion of ets_recursion.hpp over many series at once: the series
// of one kind run side by side in the lanes of vectors, each lane computing
// exactly what the recursion computes for its series alone.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "common/dispatch.hpp"
#include "common/lanes.hpp"
#include "common/view.hpp"
#include "smoothing/ets_recursion.hpp"

namespace lumetra::smoothing {

// One series of a batch, as the lanes carry it; made once per series. The
// observations y, the model, the buffers for the fitted values and errors (as
// long as y), the series' private seasonal vector, and the level and trend,
// which hold the initial states on entry and the final ones on return. t
// counts the steps run so far and j is the season index of step t. nan says
// whether any error run so far was NaN: the lanes look at each error while it
// is in a register, so that the binding layer's NaN pass over many short
// results can be spared (a NaN forecast makes a NaN error, so a series
// without one holds no NaN in its fitted values either).
struct EtsLane {
    View<double> y;
    EtsModel model;
    double* fitted;
    double* errors;
    std::span<double> seasonal;
    double level;
    double trend;
    std::size_t t = 0;
    std::size_t j = 0;
    bool nan = false;
};

namespace ets {

// Lane groups that run in lockstep: lane_groups * width<V> series at once.
inline constexpr std::size_t lane_groups = 3;
// The most steps run between two refills of the lanes.
inline constexpr std::size_t lockstep_chunk = 64;
// The longest period whose seasonal vectors the lanes hold in vectors of
// their own (see Lockstep::run).
inline constexpr std::size_t aligned_period_limit = 64;

// The series of one kind run in lockstep.
//
// One series' recursion is a chain of dependent operations (each level needs
// the previous one, through a division for multiplicative models), so a
// single series runs at the latency of that chain. Independent series fill
// the idle issue slots: each lane carries one series through the same
// operations, and a lane whose series ends takes the next series of the kind.
// A lane without a series carries the run's own idle series: a constant
// recursion (observation, level, trend and coefficient 1, weights 0) that
// never meets a NaN, an infinity or a subnormal number, and never touches a
// caller's buffer.
//
// The lanes' observations for a chunk are copied first into one row per
// step, so that each step reads whole vectors, and each step writes its
// fitted values and errors as whole vectors into rows of the same shape,
// copied out into the series' buffers after the chunk. Between a series and
// the rows, values move as square blocks of a group's lanes by as many steps,
// transposed in registers: a vector load or store per lane and step block
// instead of a load and a store per lane and step.
//
// Lane i is element i % width of group i / width. Every member is inlined
// into the build (baseline or AVX2) that runs it.
template <class V, bool AdditiveError, Trend TrendKind, Season SeasonKind>
class Lockstep {
public:
    static constexpr std::size_t groups = lane_groups;
    static constexpr std::size_t width = lanes::width<V>;
    static constexpr std::size_t lane_count = groups * width;
    static constexpr bool seasonal_model = SeasonKind != Season::none;

    [[gnu::always_inline]] Lockstep() noexcept {
        std::fill_n(ones_, lockstep_chunk, 1.0);
        for (std::size_t i = 0; i < lane_count; ++i) park(i);
    }
    Lockstep(const Lockstep&) = delete;
    Lockstep& operator=(const Lockstep&) = delete;

    // Gives every idle lane the next of the series *next, ..., *(end - 1),
    // advancing next past the series taken.
    [[gnu::always_inline]] void refill(EtsLane* const*& next, EtsLane* const* end) noexcept {
        for (std::size_t i = 0; i < lane_count && next != end; ++i) {
            if (idle(i)) take(i, **next++);
        }
    }

    [[gnu::always_inline]] std::size_t active() const noexcept {
        std::size_t active = 0;
        for (std::size_t i = 0; i < lane_count; ++i) active += !idle(i);
        return active;
    }

    // The steps until the first lane's series ends, at most a chunk.
    [[gnu::always_inline]] std::size_t steps() const noexcept {
        std::size_t steps = lockstep_chunk;
        for (std::size_t i = 0; i < lane_count; ++i) {
            if (!idle(i)) steps = std::min(steps, remaining(*lane_[i]));
        }
        return steps;
    }

    // Every lane, idle ones included, advanced by `steps` steps (at most a
    // chunk).
    //
    // The lanes' states live in locals for the chunk, out of reach of the
    // stores into the series' buffers, so that the compiler keeps them in
    // registers rather than storing and reloading them at every step (which
    // would lengthen every chain by a store-to-load round trip).
    //
    // Where every active lane has the same period p, short enough, and a
    // seasonal vector that holds p coefficients, the lanes' coefficients are
    // moved for the chunk into p vectors per group, each lane's rotated so
    // that step t reads and writes vector t mod p for every lane; otherwise
    // each lane reads and writes its own vector at its own index, step by
    // step.
    [[gnu::always_inline]] void run(std::size_t steps) noexcept {
        read_observations(steps);
        Chunk chunk;
        for (std::size_t g = 0; g < groups; ++g) {
            chunk.level[g] = level_[g];
            chunk.trend[g] = trend_[g];
            chunk.w[g] = w_[g];
            chunk.nan[g] = nan_[g];
        }
        const std::size_t period = aligned_period(steps);
        if (period != 0) {
            rotate_coefficients_in(period);
            for (std::size_t t = 0, c = 0; t < steps; ++t) {
                for_each_group([&](std::size_t g) LUMETRA_INLINE {
                    V coefficient;
                    lanes::load(coefficient, coefficients_[g][c]);
                    run_step(chunk, g, t, coefficient);
                    lanes::store(coefficients_[g][c], coefficient);
                });
                if (++c == period) c = 0;
            }
            rotate_coefficients_out(period, steps);
        } else {
            SeasonalVectors vectors;
            for (std::size_t i = 0; i < lane_count; ++i) {
                vectors.data[i] = lane_[i]->seasonal.data();
                vectors.j[i] = lane_[i]->j;
                vectors.period[i] = lane_[i]->model.period;
            }
            for (std::size_t t = 0; t < steps; ++t) {
                for_each_group([&](std::size_t g)
                                   LUMETRA_INLINE { run_gathered_step(chunk, vectors, g, t); });
            }
            for (std::size_t i = 0; i < lane_count; ++i) lane_[i]->j = vectors.j[i];
        }
        for (std::size_t g = 0; g < groups; ++g) {
            level_[g] = chunk.level[g];
            trend_[g] = chunk.trend[g];
            nan_[g] = chunk.nan[g];
        }
        copy_out(fitted_, &EtsLane::fitted, steps);
        copy_out(errors_, &EtsLane::errors, steps);
    }

    // Moves the active lanes on by the steps just run; a lane whose series
    // has ended hands out its final states and becomes idle.
    [[gnu::always_inline]] void retire(std::size_t steps) noexcept {
        for (std::size_t i = 0; i < lane_count; ++i) {
            if (idle(i)) continue;
            EtsLane& lane = *lane_[i];
            lane.t += steps;
            if (remaining(lane) > 0) continue;
            lane.level = level_[i / width][i % width];
            lane.trend = trend_[i / width][i % width];
            lane.nan = nan_[i / width][i % width] != 0;
            park(i);
        }
    }

    // The one active lane's series, finished by the single-series loop,
    // without the lane bookkeeping and with the shorter chain.
    [[gnu::always_inline]] void finish_alone() {
        for (std::size_t i = 0; i < lane_count; ++i) {
            if (idle(i)) continue;
            EtsLane& lane = *lane_[i];
            double* fitted = lane.fitted + lane.t;
            double* errors = lane.errors + lane.t;
            bool nan = nan_[i / width][i % width] != 0;
            auto store = [&](std::size_t t, double forecast, double e) {
                fitted[t] = forecast;
                errors[t] = e;
                nan |= e != e;
            };
            lane.level = level_[i / width][i % width];
            lane.trend = trend_[i / width][i % width];
            const View<double> rest(&lane.y[lane.t], remaining(lane), lane.y.step());
            run_steps<AdditiveError, TrendKind, SeasonKind>(rest, lane.model, lane.seasonal.data(),
                                                            lane.j, lane.level, lane.trend, store);
            lane.nan = nan;
        }
    }

private:
    // The lanes' states, weights and NaN errors during a chunk.
    struct Chunk {
        V level[groups];
        V trend[groups];
        StepWeights<V> w[groups];
        lanes::Mask<width> nan[groups];
    };

    // Each lane's seasonal vector, season index and period during a chunk
    // whose lanes read their own vectors.
    struct SeasonalVectors {
        double* data[lane_count];
        std::size_t j[lane_count];
        std::uint64_t period[lane_count];
    };

    static std::size_t remaining(const EtsLane& lane) noexcept { return lane.y.size() - lane.t; }

    [[gnu::always_inline]] bool idle(std::size_t i) const noexcept { return lane_[i] == &idle_; }

    // f(0), ..., f(groups - 1), each with a constant index, so that each
    // group's states can stay in registers.
    template <class F>
    [[gnu::always_inline]] static void for_each_group(F&& f) {
        [&]<std::size_t... G>(std::index_sequence<G...>)
            LUMETRA_INLINE { (f(G), ...); }(std::make_index_sequence<groups>{});
    }

    // Step t of the chunk for group g, with the group's coefficients in
    // `coefficient`. The groups' chains are independent: the processor
    // overlaps them.
    [[gnu::always_inline]] void run_step(Chunk& chunk, std::size_t g, std::size_t t,
                                         V& coefficient) noexcept {
        V observation;
        lanes::load(observation, observed_[t] + g * width);
        V forecast;
        V error;
        step<AdditiveError, TrendKind, SeasonKind>(chunk.w[g], observation, chunk.level[g],
                                                   chunk.trend[g], coefficient, forecast, error);
        chunk.nan[g] |= error != error;
        lanes::store(fitted_[t] + g * width, forecast);
        lanes::store(errors_[t] + g * width, error);
    }

    // The same, each lane's coefficient read from and written back to its
    // own seasonal vector.
    [[gnu::always_inline]] void run_gathered_step(Chunk& chunk, SeasonalVectors& vectors,
                                                  std::size_t g, std::size_t t) noexcept {
        const std::size_t first = g * width;
        V coefficient;
        lanes::fill(coefficient, [&](std::size_t e) LUMETRA_INLINE {
            return seasonal_model ? vectors.data[first + e][vectors.j[first + e]] : 0.0;
        });
        run_step(chunk, g, t, coefficient);
        if constexpr (seasonal_model) {
            for (std::size_t e = 0; e < width; ++e) {
                const std::size_t i = first + e;
                vectors.data[i][vectors.j[i]] = coefficient[e];
                if (++vectors.j[i] == vectors.period[i]) vectors.j[i] = 0;
            }
        }
    }

    // The lanes' observations for the chunk, into its rows: a group whose
    // lanes all read adjacent values by blocks of steps, any other lane by
    // single values.
    [[gnu::always_inline]] void read_observations(std::size_t steps) noexcept {
        for (std::size_t g = 0; g < groups; ++g) {
            EtsLane* const* group = lane_ + g * width;
            bool adjacent = true;
            for (std::size_t e = 0; e < width; ++e) adjacent &= group[e]->y.step() == 1;
            std::size_t s = 0;
            if (adjacent) {
                // (Each lane's first observation of the chunk, looked up once.)
                const double* from[width];
                for (std::size_t e = 0; e < width; ++e) from[e] = group[e]->y.data() + group[e]->t;
                for (; s + width <= steps; s += width) {
                    lanes::transposed<V>([&](std::size_t e) LUMETRA_INLINE { return from[e] + s; },
                                         [&](std::size_t k, const V& row) LUMETRA_INLINE {
                                             lanes::store(observed_[s + k] + g * width, row);
                                         });
                }
            }
            for (std::size_t e = 0; e < width; ++e) {
                const EtsLane& lane = *group[e];
                for (std::size_t r = s; r < steps; ++r)
                    observed_[r][g * width + e] = lane.y[lane.t + r];
            }
        }
    }

    // Rows of the chunk copied out into the buffer that each lane's series
    // names, from its step t on, by blocks of steps as far as they go, then by
    // single values (an idle lane's into the run's own).
    [[gnu::always_inline]] void copy_out(const double (&rows)[lockstep_chunk][lane_count],
                                         double* EtsLane::* buffer, std::size_t steps) noexcept {
        for (std::size_t g = 0; g < groups; ++g) {
            // (Where each lane's values of the chunk go, looked up once.)
            double* to[width];
            for (std::size_t e = 0; e < width; ++e)
                to[e] = lane_[g * width + e]->*buffer + lane_[g * width + e]->t;
            std::size_t s = 0;
            for (; s + width <= steps; s += width) {
                lanes::transposed<V>([&](std::size_t k)
                                         LUMETRA_INLINE { return rows[s + k] + g * width; },
                                     [&](std::size_t e, const V& column)
                                         LUMETRA_INLINE { lanes::store(to[e] + s, column); });
            }
            for (std::size_t e = 0; e < width; ++e) {
                for (std::size_t r = s; r < steps; ++r) to[e][r] = rows[r][g * width + e];
            }
        }
    }

    // The period of every active lane, if the chunk can run with aligned
    // coefficients, else 0. Moving a lane's coefficients in and out costs two
    // copies of its period, paid back by steps that need no per-lane reads.
    [[gnu::always_inline]] std::size_t aligned_period(std::size_t steps) const noexcept {
        if constexpr (!seasonal_model) return 0;
        std::uint64_t period = 0;
        for (std::size_t i = 0; i < lane_count; ++i) {
            if (idle(i)) continue;
            const EtsLane& lane = *lane_[i];
            if (period == 0) period = lane.model.period;
            if (lane.model.period != period || lane.seasonal.size() < period) return 0;
        }
        if (period > aligned_period_limit || 4 * steps < period) return 0;
        return static_cast<std::size_t>(period);
    }

    // Coefficient k of an active lane whose next season index is j goes to
    // row (k - j) mod period, so that step t reads the lane's coefficient
    // (j + t) mod period; idle lanes read ones. (j is below the period, and
    // the lane's seasonal vector holds the period's coefficients.)
    [[gnu::always_inline]] void rotate_coefficients_in(std::size_t period) noexcept {
        for (std::size_t i = 0; i < lane_count; ++i) {
            double(*rows)[width] = coefficients_[i / width];
            const std::size_t e = i % width;
            if (idle(i)) {
                for (std::size_t c = 0; c < period; ++c) rows[c][e] = 1.0;
                continue;
            }
            const EtsLane& lane = *lane_[i];
            const std::size_t j = lane.j;
            for (std::size_t k = j; k < period; ++k) rows[k - j][e] = lane.seasonal[k];
            for (std::size_t k = 0; k < j; ++k) rows[k + period - j][e] = lane.seasonal[k];
        }
    }

    [[gnu::always_inline]] void rotate_coefficients_out(std::size_t period,
                                                        std::size_t steps) noexcept {
        for (std::size_t i = 0; i < lane_count; ++i) {
            if (idle(i)) continue;
            EtsLane& lane = *lane_[i];
            const double(*rows)[width] = coefficients_[i / width];
            const std::size_t e = i % width;
            const std::size_t j = lane.j;
            for (std::size_t k = j; k < period; ++k) lane.seasonal[k] = rows[k - j][e];
            for (std::size_t k = 0; k < j; ++k) lane.seasonal[k] = rows[k + period - j][e];
            lane.j = (j + steps) % period;
        }
    }

    // Lane i carries the series `lane`, from its step t on. A series is taken
    // before its first step (or is the idle one), so it has had no NaN error.
    [[gnu::always_inline]] void take(std::size_t i, EtsLane& lane) noexcept {
        const std::size_t g = i / width;
        const std::size_t e = i % width;
        lane_[i] = &lane;
        level_[g][e] = lane.level;
        trend_[g][e] = lane.trend;
        w_[g].alpha[e] = lane.model.alpha;
        w_[g].beta[e] = lane.model.beta;
        w_[g].gamma[e] = lane.model.gamma;
        w_[g].phi[e] = lane.model.phi;
        nan_[g][e] = 0;
    }

    [[gnu::always_inline]] void park(std::size_t i) noexcept { take(i, idle_); }

    EtsLane* lane_[lane_count];
    V level_[groups];
    V trend_[groups];
    StepWeights<V> w_[groups];
    lanes::Mask<width> nan_[groups];  // set for lanes whose series has had a NaN error
    // A chunk's observations, fitted values and errors: row t holds step t of
    // every lane.
    double observed_[lockstep_chunk][lane_count];
    double fitted_[lockstep_chunk][lane_count];
    double errors_[lockstep_chunk][lane_count];
    // Each group's coefficients in a chunk that aligns them: row c holds one
    // vector's lanes.
    alignas(V) double coefficients_[groups][aligned_period_limit][width];
    // The idle series: it reads ones, writes into a buffer of the run's own,
    // and never moves on (its t stays 0).
    double ones_[lockstep_chunk];
    double idle_outputs_[lockstep_chunk];
    double idle_coefficient_ = 1.0;
    EtsLane idle_{View<double>(ones_, lockstep_chunk, 1),
                  EtsModel{0.0, 0.0, 0.0, 0.0, 1, 0, 0, 0},
                  idle_outputs_,
                  idle_outputs_,
                  {&idle_coefficient_, 1},
                  1.0,
                  1.0};
};

// The series of one kind run in lockstep (dispatch.hpp picks the lanes).
template <bool AdditiveError, Trend TrendKind, Season SeasonKind>
struct RunLockstep {
    template <class V>
    [[gnu::always_inline]] static void run(std::span<EtsLane* const> series) {
        // (Its chunk buffers are some tens of kilobytes: kept off the stack.)
        using Engine = Lockstep<V, AdditiveError, TrendKind, SeasonKind>;
        const auto lockstep = std::make_unique<Engine>();  // GCOVR_EXCL_BR_LINE: out of memory
        EtsLane* const* next = series.data();
        EtsLane* const* const end = next + series.size();
        for (;;) {
            lockstep->refill(next, end);
            const std::size_t active = lockstep->active();
            if (active == 0) return;
            // (Lanes stay full while series are left: one active lane means
            // the last series.)
            if (next == end && active == 1) return lockstep->finish_alone();
            const std::size_t steps = lockstep->steps();
            lockstep->run(steps);
            lockstep->retire(steps);
        }
    }
};

// The kind index of a model (Kind::index).
inline std::size_t kind_index(const EtsModel& model) noexcept {
    std::size_t index = 0;
    with_kind(model, [&]<bool AdditiveError, Trend TrendKind, Season SeasonKind>(
                         Kind<AdditiveError, TrendKind, SeasonKind>) {
        index = Kind<AdditiveError, TrendKind, SeasonKind>::index;
    });
    return index;
}

}  // namespace ets

// Runs the recursion over every series, each with its own model, writing its
// fitted values and errors into its buffers and leaving its final states in
// its level and trend. The series must have passed ets::check. Series of one
// kind run in lockstep; each series' values are those that ets_recursion
// gives for it alone.
inline void ets_lockstep(std::span<EtsLane> series) {
    // The series with steps, grouped by kind in series order (a counting
    // sort), so that each kind's lanes look at their own series only. An
    // empty series keeps its initial states: no lanes are set up for it.
    constexpr std::size_t kinds = ets::kinds;
    const std::size_t count = series.size();
    // (The kinds of a small batch are kept on the stack.)
    constexpr std::size_t on_stack = 128;
    std::uint8_t stack_kinds[on_stack];
    std::vector<std::uint8_t> heap_kinds(count > on_stack ? count : 0);
    std::uint8_t* const kind_of = count > on_stack ? heap_kinds.data() : stack_kinds;
    static_assert(kinds < 256);
    std::size_t starts[kinds + 1] = {};
    std::size_t with_steps = 0;
    for (std::size_t k = 0; k < count; ++k) {
        kind_of[k] = series[k].y.empty()
                         ? kinds
                         : static_cast<std::uint8_t>(ets::kind_index(series[k].model));
        if (kind_of[k] < kinds) ++starts[kind_of[k] + 1];
        with_steps += kind_of[k] < kinds;
    }
    if (with_steps == 0) return;
    for (std::size_t i = 0; i < kinds; ++i) starts[i + 1] += starts[i];
    std::vector<EtsLane*> order(with_steps);
    std::size_t next[kinds];
    std::copy(starts, starts + kinds, next);
    for (std::size_t k = 0; k < count; ++k) {
        if (kind_of[k] < kinds) order[next[kind_of[k]]++] = &series[k];
    }
    for (std::size_t i = 0; i < kinds; ++i) {
        if (starts[i] == starts[i + 1]) continue;
        const std::span<EtsLane* const> of_kind(order.data() + starts[i],
                                                starts[i + 1] - starts[i]);
        ets::with_kind(
            of_kind[0]->model,
            [&]<bool AdditiveError, ets::Trend TrendKind, ets::Season SeasonKind>(
                ets::Kind<AdditiveError, TrendKind, SeasonKind>) {
                lanes::dispatch<ets::RunLockstep<AdditiveError, TrendKind, SeasonKind>>(of_kind);
            });
    }
}

}  // namespace lumetra::smoothing
