// The ETS state-space recursion: error, trend and seasonal components chosen
// by integer type codes. It is written once, here, and run with identical
// arithmetic by ets_filter, ets_loglik and batch_ets_filter; they differ only
// in what they do with each step's forecast and error.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/dispatch.hpp"
#include "common/failure.hpp"
#include "common/lanes.hpp"
#include "common/series.hpp"
#include "common/view.hpp"

namespace lumetra::smoothing {

// Smoothing weights, season length and type codes of one model, used as
// given: nothing is range-checked.
//   error_type:    0 additive, anything else multiplicative.
//   trend_type:    0 none (b stays at trend0 but still enters the level base),
//                  1 or 2 additive damped by phi, 3 multiplicative, anything
//                  else forecast as multiplicative with b never updated.
//   seasonal_type: 1 additive, 2 multiplicative, anything else none.
struct EtsModel {
    double alpha;
    double beta;
    double gamma;
    double phi;
    std::uint64_t period;
    std::int32_t error_type;
    std::int32_t trend_type;
    std::int32_t seasonal_type;
};

// Level, trend and the caller's private copy of the seasonal vector (indexed
// 0..m0-1, never rotated); on return they hold the states after the last step.
struct EtsState {
    double level;
    double trend;
    std::span<double> seasonal;
};

// One series of a batch, as the lockstep run sees it: the observations, the
// model, the buffers for the forecasts and errors (n each) and the seasonal
// vector, and the level and trend, which hold the initial states on entry and
// the final ones on return.
struct EtsSeries {
    View<double> y;
    EtsModel model;
    double* fitted;
    double* errors;
    double* seasonal;
    std::size_t seasons;  // the seasonal vector's length
    double* level;
    double* trend;
};

namespace ets {

// Added to every divisor.
inline constexpr double epsilon = 1e-10;
// Lower bound of a multiplicative seasonal coefficient.
inline constexpr double seasonal_floor = 1e-6;
// The level is clamped to -level_bound .. level_bound after every update.
inline constexpr double level_bound = 1e15;

enum class Trend { none, damped, multiplicative, frozen_multiplicative };
enum class Season { none, additive, multiplicative };

inline Trend trend_kind(std::int32_t code) noexcept {
    if (code == 0) return Trend::none;
    if (code == 1 || code == 2) return Trend::damped;
    if (code == 3) return Trend::multiplicative;
    return Trend::frozen_multiplicative;
}

inline Season season_kind(std::int32_t code) noexcept {
    if (code == 1) return Season::additive;
    if (code == 2) return Season::multiplicative;
    return Season::none;
}

// The kinds of one model as template arguments, so that each of the 24
// models runs a loop holding only its own arithmetic.
template <bool AdditiveError, Trend TrendKind, Season SeasonKind>
struct Kind {
    static bool of(const EtsModel& model) noexcept {
        return (model.error_type == 0) == AdditiveError &&
               trend_kind(model.trend_type) == TrendKind &&
               season_kind(model.seasonal_type) == SeasonKind;
    }
};

// Calls visit(Kind<...>{}) with the kinds of `model`.
template <class Visit>
void with_kind(const EtsModel& model, Visit&& visit) {
    const auto with_season = [&]<bool AdditiveError, Trend TrendKind>() {
        switch (season_kind(model.seasonal_type)) {
            case Season::none:
                return visit(Kind<AdditiveError, TrendKind, Season::none>{});
            case Season::additive:
                return visit(Kind<AdditiveError, TrendKind, Season::additive>{});
            case Season::multiplicative:
                return visit(Kind<AdditiveError, TrendKind, Season::multiplicative>{});
        }
    };
    const auto with_trend = [&]<bool AdditiveError>() {
        switch (trend_kind(model.trend_type)) {
            case Trend::none:
                return with_season.template operator()<AdditiveError, Trend::none>();
            case Trend::damped:
                return with_season.template operator()<AdditiveError, Trend::damped>();
            case Trend::multiplicative:
                return with_season.template operator()<AdditiveError, Trend::multiplicative>();
            case Trend::frozen_multiplicative:
                return with_season
                    .template operator()<AdditiveError, Trend::frozen_multiplicative>();
        }
    };
    if (model.error_type == 0) {
        with_trend.template operator()<true>();
    } else {
        with_trend.template operator()<false>();
    }
}

// The recursion's failures, which depend only on the sizes and the model:
// the season index is t mod period, and a seasonal model reads S[t mod
// period] at step t. That index passes the end of S only when the period is
// longer than S, and first at step t = m0. No result survives a failure, so
// both are reported before the first step.
inline void check(std::size_t n, const EtsModel& model, std::size_t m0) {
    if (n == 0) return;  // the states stay as given, whatever the period
    if (model.period == 0) fail_remainder_by_zero();
    if (season_kind(model.seasonal_type) != Season::none && model.period > m0 && n > m0)
        fail_index(m0, m0);
}

// The level bound: x clamped to -level_bound .. level_bound by plain
// comparisons, so a NaN passes. For a single series the clamp lies on the
// recursion's dependency chain and almost never applies, so it is a branch
// (kept by the empty asm statement, which stops the compiler from turning it
// into maxsd/minsd): a predicted branch adds no latency to the chain, where
// maxsd and minsd would add theirs at every step.
inline void bound_level(double& x) noexcept {
    if (x < -level_bound) [[unlikely]] {
        x = -level_bound;
        asm volatile("");
    }
    if (x > level_bound) [[unlikely]] {
        x = level_bound;
        asm volatile("");
    }
}

// Lanes are throughput-bound, not latency-bound: the selections are cheaper.
template <class V>
    requires(!std::is_same_v<V, double>)
[[gnu::always_inline]] inline void bound_level(V& x) noexcept {
    lanes::at_least_or_nan(x, -level_bound);
    lanes::at_most_or_nan(x, level_bound);
}

// The smoothing weights of one series (Real = double) or of a lane group.
template <class Real>
struct StepWeights {
    Real alpha;
    Real beta;
    Real gamma;
    Real phi;
};

// One step of the recursion, for one series (Real = double) or for a lane
// group (Real a vector of lanes, one series each: every lane is computed with
// the same IEEE operation as on a double, so its result is bit-identical to
// the scalar recursion's). On entry `level` and `slope` are the previous states
// and `coefficient` is S[j] as stored (ignored without seasonality); on
// return they are the new states, the value to store back into S[j], and the
// step's one-step-ahead forecast and error.
//
// Every expression is evaluated as written, one IEEE operation at a time
// (products and quotients before the sums that use them, no fused
// multiply-add), so that all callers produce the same bits.
template <bool AdditiveError, Trend TrendKind, Season SeasonKind, class Real>
[[gnu::always_inline]] inline void step(const StepWeights<Real>& w, const Real& observation,
                                        Real& level, Real& slope, Real& coefficient, Real& forecast,
                                        Real& error) {
    // Seasonal read. A multiplicative coefficient below the floor is raised
    // to it; S keeps the raised value only until the update below replaces it.
    Real s{};
    if constexpr (SeasonKind != Season::none) s = coefficient;
    if constexpr (SeasonKind == Season::multiplicative) lanes::at_least_or_nan(s, seasonal_floor);

    // One-step-ahead forecast from the previous level and trend.
    Real trended;
    if constexpr (TrendKind == Trend::none) {
        trended = level;
    } else if constexpr (TrendKind == Trend::damped) {
        trended = level + w.phi * slope;
    } else {
        trended = level * slope;
    }
    forecast = trended;
    if constexpr (SeasonKind == Season::additive) {
        forecast = trended + s;
    } else if constexpr (SeasonKind == Season::multiplicative) {
        forecast = trended * s;
    }
    error = observation - forecast;

    // The level update starts from l + phi * b for every trend kind, also
    // where the forecast used l or l * b.
    const Real base = level + w.phi * slope;
    Real updated;
    if constexpr (!AdditiveError) {
        updated = base * (w.alpha * (error / (forecast + epsilon)) + 1.0);
    } else if constexpr (SeasonKind == Season::multiplicative) {
        updated = base + (w.alpha * error) / (s + epsilon);
    } else {
        updated = base + w.alpha * error;
    }
    bound_level(updated);

    if constexpr (TrendKind == Trend::damped) {
        slope = w.phi * slope + w.beta * (updated - level);
    } else if constexpr (TrendKind == Trend::multiplicative) {
        Real growth = updated / (level + epsilon);
        lanes::pow(growth, w.beta);
        slope = slope * growth;
    }

    if constexpr (SeasonKind == Season::additive) {
        coefficient = s + w.gamma * error;
    } else if constexpr (SeasonKind == Season::multiplicative) {
        Real updated_coefficient;
        if constexpr (AdditiveError) {
            updated_coefficient = s + (w.gamma * error) / (base + epsilon);
        } else {
            updated_coefficient = s * ((w.gamma * error) / (forecast + epsilon) + 1.0);
        }
        lanes::at_least_or_nan(updated_coefficient, seasonal_floor);
        coefficient = updated_coefficient;
    }

    level = updated;
}

// The recursion over the series y, from season index j on. level and slope
// hold the states before the first step and are left with those after the
// last; seasonal is the series' private seasonal vector.
template <bool AdditiveError, Trend TrendKind, Season SeasonKind, class OnStep>
void run_steps(View<double> y, const EtsModel& model, double* seasonal, std::size_t j,
               double& level_state, double& slope_state, OnStep& on_step) {
    const std::size_t n = y.size();
    const StepWeights<double> w{model.alpha, model.beta, model.gamma, model.phi};
    double level = level_state;
    double slope = slope_state;
    for (std::size_t t = 0; t < n; ++t) {
        double coefficient = 0.0;
        if constexpr (SeasonKind != Season::none) coefficient = seasonal[j];
        double forecast;
        double e;
        step<AdditiveError, TrendKind, SeasonKind>(w, y[t], level, slope, coefficient, forecast, e);
        on_step(t, forecast, e);
        if constexpr (SeasonKind != Season::none) seasonal[j] = coefficient;
        if (++j == model.period) j = 0;
    }
    level_state = level;
    slope_state = slope;
}

// Lane groups that run in lockstep: lane_groups * width<V> series at once.
inline constexpr std::size_t lane_groups = 3;
// The most steps run between two refills of the lanes.
inline constexpr std::size_t lockstep_chunk = 64;
// The longest period whose seasonal vectors the lanes hold in vectors of
// their own (see Lockstep::run).
inline constexpr std::size_t aligned_period_limit = 64;

// One lane of the lockstep run: the series it carries and how far it has
// come. The next chunk reads observed[t * stride] and writes forecasts[t] and
// errors[t] for its steps t; after a chunk the pointers move on by its steps.
// An idle lane has no steps remaining, reads ones and writes into a buffer of
// the run's own.
struct Slot {
    const double* observed;
    std::ptrdiff_t stride;
    double* forecasts;
    double* errors;
    double* seasonal;
    std::size_t seasons;  // the seasonal vector's length
    std::size_t j;        // the season index of the next step
    EtsModel model;
    double* level_out;
    double* trend_out;
    std::size_t remaining;
};

// The series of one kind run in lockstep.
//
// One series' recursion is a chain of dependent operations (each level needs
// the previous one, through a division for multiplicative models), so a
// single series runs at the latency of that chain. Independent series fill
// the idle issue slots: each lane carries one series through the same
// operations, and a lane whose series ends takes the next series of the kind.
// A lane without a series runs a constant recursion (observation, level,
// trend and coefficient 1, weights 0) over private members, so it never meets
// a NaN, an infinity or a subnormal number, and never touches a caller's
// buffer.
//
// The lanes' observations for a chunk are copied first into one row per
// step, so that each step reads whole vectors, and each step writes its
// forecasts and errors as whole vectors into rows of the same shape, copied
// out into the series' buffers after the chunk. Between a series and the
// rows, values move as square blocks of a group's lanes by as many steps,
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

    // Gives every idle lane the next series of the kind among source(next),
    // ..., source(end - 1), advancing next past the series looked at.
    template <class Source>
    [[gnu::always_inline]] void refill(Source& source, std::size_t& next, std::size_t end) {
        using ThisKind = Kind<AdditiveError, TrendKind, SeasonKind>;
        for (std::size_t i = 0; i < lane_count; ++i) {
            while (slot_[i].remaining == 0 && next < end) {
                const EtsSeries series = source(next++);
                if (ThisKind::of(series.model) && !series.y.empty()) load(i, series);
            }
        }
    }

    [[gnu::always_inline]] std::size_t active() const noexcept {
        std::size_t active = 0;
        for (const Slot& slot : slot_) active += slot.remaining != 0;
        return active;
    }

    // The steps until the first lane's series ends, at most a chunk.
    [[gnu::always_inline]] std::size_t steps() const noexcept {
        std::size_t steps = lockstep_chunk;
        for (const Slot& slot : slot_) {
            if (slot.remaining != 0 && slot.remaining < steps) steps = slot.remaining;
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
            chunk.slope[g] = slope_[g];
            chunk.w[g] = w_[g];
        }
        const std::size_t period = aligned_period(steps);
        if (period != 0) {
            rotate_seasons_in(period);
            for (std::size_t t = 0, c = 0; t < steps; ++t) {
                for_each_group([&](std::size_t g) LUMETRA_INLINE {
                    V coefficient;
                    lanes::load(coefficient, seasons_[g][c]);
                    run_step(chunk, g, t, coefficient);
                    lanes::store(seasons_[g][c], coefficient);
                });
                if (++c == period) c = 0;
            }
            rotate_seasons_out(period, steps);
        } else {
            Seasons seasons;
            for (std::size_t i = 0; i < lane_count; ++i) {
                seasons.vector[i] = slot_[i].seasonal;
                seasons.j[i] = slot_[i].j;
                seasons.period[i] = slot_[i].model.period;
            }
            for (std::size_t t = 0; t < steps; ++t) {
                for_each_group([&](std::size_t g)
                                   LUMETRA_INLINE { run_gathered_step(chunk, seasons, g, t); });
            }
            for (std::size_t i = 0; i < lane_count; ++i) slot_[i].j = seasons.j[i];
        }
        for (std::size_t g = 0; g < groups; ++g) {
            level_[g] = chunk.level[g];
            slope_[g] = chunk.slope[g];
        }
        write_outputs(steps);
    }

    // Moves the active lanes on by the steps just run; a lane whose series
    // has ended hands out its final states and becomes idle.
    [[gnu::always_inline]] void retire(std::size_t steps) noexcept {
        for (std::size_t i = 0; i < lane_count; ++i) {
            Slot& slot = slot_[i];
            if (slot.remaining == 0) continue;
            slot.remaining -= steps;
            if (slot.remaining > 0) {
                slot.observed += static_cast<std::ptrdiff_t>(steps) * slot.stride;
                slot.forecasts += steps;
                slot.errors += steps;
                continue;
            }
            *slot.level_out = level_[i / width][i % width];
            *slot.trend_out = slope_[i / width][i % width];
            park(i);
        }
    }

    // The one active lane's series, finished by the single-series loop,
    // without the lane bookkeeping and with the shorter chain.
    [[gnu::always_inline]] void finish_alone() {
        for (std::size_t i = 0; i < lane_count; ++i) {
            Slot& slot = slot_[i];
            if (slot.remaining == 0) continue;
            double* forecasts = slot.forecasts;
            double* errors = slot.errors;
            auto store = [&](std::size_t t, double forecast, double e) {
                forecasts[t] = forecast;
                errors[t] = e;
            };
            double level = level_[i / width][i % width];
            double slope = slope_[i / width][i % width];
            run_steps<AdditiveError, TrendKind, SeasonKind>(
                View<double>(slot.observed, slot.remaining, slot.stride), slot.model, slot.seasonal,
                slot.j, level, slope, store);
            *slot.level_out = level;
            *slot.trend_out = slope;
        }
    }

private:
    // The lanes' states and output buffers during a chunk.
    struct Chunk {
        V level[groups];
        V slope[groups];
        StepWeights<V> w[groups];
    };

    // f(0), ..., f(groups - 1), each with a constant index, so that each
    // group's states can stay in registers.
    template <class F>
    [[gnu::always_inline]] static void for_each_group(F&& f) {
        [&]<std::size_t... G>(std::index_sequence<G...>)
            LUMETRA_INLINE { (f(G), ...); }(std::make_index_sequence<groups>{});
    }

    // Each lane's seasonal vector, season index and period during a chunk
    // whose lanes read their own vectors.
    struct Seasons {
        double* vector[lane_count];
        std::size_t j[lane_count];
        std::uint64_t period[lane_count];
    };

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
                                                   chunk.slope[g], coefficient, forecast, error);
        lanes::store(forecasts_[t] + g * width, forecast);
        lanes::store(errors_[t] + g * width, error);
    }

    // The same, each lane's coefficient read from and written back to its
    // own seasonal vector.
    [[gnu::always_inline]] void run_gathered_step(Chunk& chunk, Seasons& seasons, std::size_t g,
                                                  std::size_t t) noexcept {
        const std::size_t first = g * width;
        V coefficient;
        lanes::fill(coefficient, [&](std::size_t e) LUMETRA_INLINE {
            return seasonal_model ? seasons.vector[first + e][seasons.j[first + e]] : 0.0;
        });
        run_step(chunk, g, t, coefficient);
        if constexpr (seasonal_model) {
            for (std::size_t e = 0; e < width; ++e) {
                const std::size_t i = first + e;
                seasons.vector[i][seasons.j[i]] = coefficient[e];
                if (++seasons.j[i] == seasons.period[i]) seasons.j[i] = 0;
            }
        }
    }

    // The lanes' observations for the chunk, into its rows: a group whose
    // lanes all read adjacent values by blocks of steps, any other lane by
    // single values.
    [[gnu::always_inline]] void read_observations(std::size_t steps) noexcept {
        for (std::size_t g = 0; g < groups; ++g) {
            const Slot* slots = slot_ + g * width;
            bool adjacent = true;
            for (std::size_t e = 0; e < width; ++e) adjacent &= slots[e].stride == 1;
            std::size_t t = 0;
            if (adjacent) {
                for (; t + width <= steps; t += width) {
                    lanes::transposed<V>(
                        [&](std::size_t e) LUMETRA_INLINE { return slots[e].observed + t; },
                        [&](std::size_t k, const V& row)
                            LUMETRA_INLINE { lanes::store(observed_[t + k] + g * width, row); });
                }
            }
            for (std::size_t e = 0; e < width; ++e) {
                const Slot& slot = slots[e];
                for (std::size_t s = t; s < steps; ++s)
                    observed_[s][g * width + e] =
                        slot.observed[static_cast<std::ptrdiff_t>(s) * slot.stride];
            }
        }
    }

    // The chunk's forecast and error rows copied out into the lanes' buffers
    // (an idle lane's into the run's own).
    [[gnu::always_inline]] void write_outputs(std::size_t steps) noexcept {
        copy_out(forecasts_, &Slot::forecasts, steps);
        copy_out(errors_, &Slot::errors, steps);
    }

    // Rows of the chunk copied out into the buffer that each lane's slot
    // names, by blocks of steps as far as they go, then by single values.
    [[gnu::always_inline]] void copy_out(const double (&rows)[lockstep_chunk][lane_count],
                                         double* Slot::* buffer, std::size_t steps) noexcept {
        for (std::size_t g = 0; g < groups; ++g) {
            const Slot* slots = slot_ + g * width;
            std::size_t t = 0;
            for (; t + width <= steps; t += width) {
                lanes::transposed<V>(
                    [&](std::size_t k) LUMETRA_INLINE { return rows[t + k] + g * width; },
                    [&](std::size_t e, const V& column)
                        LUMETRA_INLINE { lanes::store(slots[e].*buffer + t, column); });
            }
            for (std::size_t e = 0; e < width; ++e) {
                for (std::size_t s = t; s < steps; ++s)
                    (slots[e].*buffer)[s] = rows[s][g * width + e];
            }
        }
    }

    // The period of every active lane, if the chunk can run with aligned
    // seasons, else 0. Moving a lane's coefficients in and out costs two
    // copies of its period, paid back by steps that need no per-lane reads.
    [[gnu::always_inline]] std::size_t aligned_period(std::size_t steps) const noexcept {
        if constexpr (!seasonal_model) return 0;
        std::uint64_t period = 0;
        for (const Slot& slot : slot_) {
            if (slot.remaining == 0) continue;
            if (period == 0) period = slot.model.period;
            if (slot.model.period != period || slot.seasons < period) return 0;
        }
        if (period > aligned_period_limit || 4 * steps < period) return 0;
        return static_cast<std::size_t>(period);
    }

    // Coefficient k of an active lane whose next season index is j goes to
    // vector (k - j) mod period, so that step t reads the lane's coefficient
    // (j + t) mod period; idle lanes read ones. (j is below the period, and
    // the lane's seasonal vector holds the period's coefficients.)
    [[gnu::always_inline]] void rotate_seasons_in(std::size_t period) noexcept {
        for (std::size_t i = 0; i < lane_count; ++i) {
            const Slot& slot = slot_[i];
            double(*seasons)[width] = seasons_[i / width];
            const std::size_t e = i % width;
            if (slot.remaining == 0) {
                for (std::size_t c = 0; c < period; ++c) seasons[c][e] = 1.0;
                continue;
            }
            const std::size_t j = slot.j;
            for (std::size_t k = j; k < period; ++k) seasons[k - j][e] = slot.seasonal[k];
            for (std::size_t k = 0; k < j; ++k) seasons[k + period - j][e] = slot.seasonal[k];
        }
    }

    [[gnu::always_inline]] void rotate_seasons_out(std::size_t period, std::size_t steps) noexcept {
        for (std::size_t i = 0; i < lane_count; ++i) {
            Slot& slot = slot_[i];
            if (slot.remaining == 0) continue;
            const double(*seasons)[width] = seasons_[i / width];
            const std::size_t e = i % width;
            const std::size_t j = slot.j;
            for (std::size_t k = j; k < period; ++k) slot.seasonal[k] = seasons[k - j][e];
            for (std::size_t k = 0; k < j; ++k) slot.seasonal[k] = seasons[k + period - j][e];
            slot.j = (j + steps) % period;
        }
    }

    [[gnu::always_inline]] void set_states(std::size_t i, double level0, double trend0) noexcept {
        const std::size_t g = i / width;
        const std::size_t e = i % width;
        const EtsModel& model = slot_[i].model;
        level_[g][e] = level0;
        slope_[g][e] = trend0;
        w_[g].alpha[e] = model.alpha;
        w_[g].beta[e] = model.beta;
        w_[g].gamma[e] = model.gamma;
        w_[g].phi[e] = model.phi;
    }

    [[gnu::always_inline]] void park(std::size_t i) noexcept {
        slot_[i] = Slot{ones_,
                        1,
                        idle_outputs_,
                        idle_outputs_,
                        &idle_coefficient_,
                        1,
                        0,
                        EtsModel{0.0, 0.0, 0.0, 0.0, 1, 0, 0, 0},
                        nullptr,
                        nullptr,
                        0};
        set_states(i, 1.0, 1.0);
    }

    [[gnu::always_inline]] void load(std::size_t i, const EtsSeries& series) noexcept {
        slot_[i] = Slot{&series.y[0],
                        series.y.step(),
                        series.fitted,
                        series.errors,
                        series.seasonal,
                        series.seasons,
                        0,
                        series.model,
                        series.level,
                        series.trend,
                        series.y.size()};
        set_states(i, *series.level, *series.trend);
    }

    Slot slot_[lane_count];
    V level_[groups];
    V slope_[groups];
    StepWeights<V> w_[groups];
    // A chunk's observations, forecasts and errors: row t holds step t of
    // every lane.
    double observed_[lockstep_chunk][lane_count];
    double forecasts_[lockstep_chunk][lane_count];
    double errors_[lockstep_chunk][lane_count];
    // Each group's coefficients in a chunk with aligned seasons: row c holds
    // one vector's lanes.
    alignas(V) double seasons_[groups][aligned_period_limit][width];
    // What idle lanes read and write, and their seasonal vector in a chunk
    // whose lanes read their own.
    double ones_[lockstep_chunk];
    double idle_outputs_[lockstep_chunk];
    double idle_coefficient_ = 1.0;
};

// The series of one kind, from `first` on, run in lockstep (dispatch.hpp
// picks the lanes).
template <bool AdditiveError, Trend TrendKind, Season SeasonKind>
struct RunLockstep {
    template <class V, class Source>
    [[gnu::always_inline]] static void run(std::size_t first, std::size_t count, Source& source) {
        // (Its chunk buffers are some tens of kilobytes: kept off the stack.)
        const auto lockstep = std::make_unique<Lockstep<V, AdditiveError, TrendKind, SeasonKind>>();
        std::size_t next = first;
        for (;;) {
            lockstep->refill(source, next, count);
            const std::size_t active = lockstep->active();
            if (active == 0) return;
            if (active == 1 && next == count) return lockstep->finish_alone();
            const std::size_t steps = lockstep->steps();
            lockstep->run(steps);
            lockstep->retire(steps);
        }
    }
};

}  // namespace ets

// Runs the recursion over y from `state`, calling on_step(t, forecast, error)
// at every step t once the one-step-ahead forecast and its error are known.
template <class OnStep>
void ets_recursion(View<double> y, const EtsModel& model, EtsState& state, OnStep&& on_step) {
    ets::check(y.size(), model, state.seasonal.size());
    if (y.empty()) return;
    ets::with_kind(model, [&]<bool AdditiveError, ets::Trend TrendKind, ets::Season SeasonKind>(
                              ets::Kind<AdditiveError, TrendKind, SeasonKind>) {
        ets::run_steps<AdditiveError, TrendKind, SeasonKind>(y, model, state.seasonal.data(), 0,
                                                             state.level, state.trend, on_step);
    });
}

// Runs the recursion over the series source(0), ..., source(count - 1), each
// with its own model, writing every series' forecasts, errors and final
// states into the buffers it names. The series must have passed ets::check.
// Series of one kind run in lockstep; each series' values are those that
// ets_recursion gives for it alone.
template <class Source>
void ets_recursion_lockstep(std::size_t count, Source&& source) {
    // The series with steps, grouped by kind in series order (a counting
    // sort), so that each kind's lanes look at their own series only. An
    // empty series keeps its initial states: no lanes are set up for it.
    constexpr std::size_t kinds = 24;
    const auto kind_index = [](const EtsModel& model) {
        std::size_t index = 0;
        ets::with_kind(model, [&]<bool AdditiveError, ets::Trend TrendKind, ets::Season SeasonKind>(
                                  ets::Kind<AdditiveError, TrendKind, SeasonKind>) {
            index = (AdditiveError ? 0 : 12) + 3 * static_cast<std::size_t>(TrendKind) +
                    static_cast<std::size_t>(SeasonKind);
        });
        return index;
    };
    // (The kinds of a small batch are kept on the stack.)
    constexpr std::size_t on_stack = 128;
    std::uint8_t stack_kinds[on_stack];
    std::vector<std::uint8_t> heap_kinds(count > on_stack ? count : 0);
    std::uint8_t* const kind_of = count > on_stack ? heap_kinds.data() : stack_kinds;
    std::size_t starts[kinds + 1] = {};
    std::size_t with_steps = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const EtsSeries series = source(k);
        kind_of[k] = series.y.empty() ? kinds : static_cast<std::uint8_t>(kind_index(series.model));
        if (kind_of[k] < kinds) ++starts[kind_of[k] + 1];
        with_steps += kind_of[k] < kinds;
    }
    if (with_steps == 0) return;
    for (std::size_t i = 0; i < kinds; ++i) starts[i + 1] += starts[i];
    std::vector<std::size_t> order(with_steps);
    std::size_t next[kinds];
    std::copy(starts, starts + kinds, next);
    for (std::size_t k = 0; k < count; ++k) {
        if (kind_of[k] < kinds) order[next[kind_of[k]]++] = k;
    }
    const auto ordered = [&](std::size_t i) { return source(order[i]); };
    for (std::size_t i = 0; i < kinds; ++i) {
        if (starts[i] == starts[i + 1]) continue;
        ets::with_kind(source(order[starts[i]]).model,
                       [&]<bool AdditiveError, ets::Trend TrendKind, ets::Season SeasonKind>(
                           ets::Kind<AdditiveError, TrendKind, SeasonKind>) {
                           lanes::dispatch<ets::RunLockstep<AdditiveError, TrendKind, SeasonKind>>(
                               starts[i], starts[i + 1], ordered);
                       });
    }
}

}  // namespace lumetra::smoothing
