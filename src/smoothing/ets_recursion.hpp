// The ETS state-space recursion: error, trend and seasonal components chosen
// by integer type codes. It is written once, here, and run with identical
// arithmetic by ets_filter, ets_loglik and batch_ets_filter; they differ only
// in what they do with each step's forecast and error.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/failure.hpp"
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

// Two independent series advanced together: lane i of every value belongs to
// series i. GCC applies each operator lane by lane, with the same IEEE
// operation as on a double (two-lane SSE2 instructions, the x86-64 baseline),
// so every lane's result is bit-identical to the scalar recursion's.
inline constexpr std::size_t lane_width = 2;
using Lanes = double __attribute__((vector_size(lane_width * sizeof(double))));

// x, replaced by bound where it lies below (above) bound, lane by lane; a
// NaN stays NaN.
template <class Real>
inline void raise_to(Real& x, double bound) noexcept {
    x = x < bound ? bound : x;
}

template <class Real>
inline void lower_to(Real& x, double bound) noexcept {
    x = x > bound ? bound : x;
}

#if defined(__SSE2__)
// The same selections as single instructions: maxpd(b, x) is b > x ? b : x
// and minpd(b, x) is b < x ? b : x, lane by lane, so a NaN x is returned
// unchanged, as by the comparisons above.
template <>
inline void raise_to(Lanes& x, double bound) noexcept {
    x = Lanes(_mm_max_pd(_mm_set1_pd(bound), __m128d(x)));
}

template <>
inline void lower_to(Lanes& x, double bound) noexcept {
    x = Lanes(_mm_min_pd(_mm_set1_pd(bound), __m128d(x)));
}
#endif

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
inline void bound_level(Lanes& x) noexcept {
    raise_to(x, -level_bound);
    lower_to(x, level_bound);
}

// The lanes value(0), ..., value(lane_width - 1).
template <class Value>
inline Lanes lanes_of(Value&& value) {
    return [&]<std::size_t... E>(std::index_sequence<E...>) {
        return Lanes{value(E)...};
    }(std::make_index_sequence<lane_width>{});
}

// x = x^exponent with the standard pow, lane by lane.
inline void raise_to_power(double& x, double exponent) { x = std::pow(x, exponent); }

inline void raise_to_power(Lanes& x, const Lanes& exponent) {
    for (std::size_t i = 0; i < lane_width; ++i) x[i] = std::pow(x[i], exponent[i]);
}

template <class Real>
struct Weights {
    Real alpha;
    Real beta;
    Real gamma;
    Real phi;
};

// One step of the recursion, for one series (Real = double) or for a lane
// group (Real = Lanes). On entry `level` and `slope` are the previous states
// and `coefficient` is S[j] as stored (ignored without seasonality); on
// return they are the new states, the value to store back into S[j], and the
// step's one-step-ahead forecast and error.
//
// Every expression is evaluated as written, one IEEE operation at a time
// (products and quotients before the sums that use them, no fused
// multiply-add), so that all callers produce the same bits.
template <bool AdditiveError, Trend TrendKind, Season SeasonKind, class Real>
[[gnu::always_inline]] inline void step(const Weights<Real>& w, const Real& observation,
                                        Real& level, Real& slope, Real& coefficient, Real& forecast,
                                        Real& error) {
    // Seasonal read. A multiplicative coefficient below the floor is raised
    // to it; S keeps the raised value only until the update below replaces it.
    Real s{};
    if constexpr (SeasonKind != Season::none) s = coefficient;
    if constexpr (SeasonKind == Season::multiplicative) raise_to(s, seasonal_floor);

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
        raise_to_power(growth, w.beta);
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
        raise_to(updated_coefficient, seasonal_floor);
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
    const Weights<double> w{model.alpha, model.beta, model.gamma, model.phi};
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

// Lane groups that run in lockstep: lane_groups * lane_width series at once.
inline constexpr std::size_t lane_groups = 3;
// The most steps run between two refills of the lanes.
inline constexpr std::size_t lockstep_chunk = 64;

// The series of one kind, from `first` on, run in lockstep.
//
// One series' recursion is a chain of dependent operations (each level needs
// the previous one, through a division for multiplicative models), so a
// single series runs at the latency of that chain. Independent series fill
// the idle issue slots: each lane carries one series through the same
// operations, and a lane whose series ends takes the next series of the kind.
// A lane without a series runs a constant recursion (level, trend and
// coefficient 1, weights 0) over private locals, so it never meets a NaN,
// an infinity or a subnormal number, and never touches a caller's buffer.
template <bool AdditiveError, Trend TrendKind, Season SeasonKind, class Source>
void run_lockstep(std::size_t first, std::size_t count, Source& source) {
    constexpr std::size_t groups = lane_groups;
    constexpr std::size_t width = lane_width;
    constexpr std::size_t lanes = groups * width;
    constexpr bool seasonal_model = SeasonKind != Season::none;
    using ThisKind = Kind<AdditiveError, TrendKind, SeasonKind>;

    // What idle lanes read and write.
    const double idle_observation = 1.0;
    double idle_outputs[lockstep_chunk];
    double idle_coefficient = 1.0;

    // Lane i is element i % width of group i / width. Its series has
    // `remaining` steps left from step `done` on.
    View<double> y[lanes];
    double* fitted[lanes];
    double* errors[lanes];
    std::size_t done[lanes];
    std::size_t remaining[lanes];
    double* seasonal[lanes];
    std::size_t j[lanes];
    double* level_out[lanes];
    double* trend_out[lanes];
    EtsModel model[lanes];
    Lanes level[groups];
    Lanes slope[groups];
    Weights<Lanes> w[groups];

    const auto set_lane = [&](std::size_t i, double level0, double trend0) {
        const std::size_t g = i / width;
        const std::size_t e = i % width;
        level[g][e] = level0;
        slope[g][e] = trend0;
        w[g].alpha[e] = model[i].alpha;
        w[g].beta[e] = model[i].beta;
        w[g].gamma[e] = model[i].gamma;
        w[g].phi[e] = model[i].phi;
    };
    const auto park = [&](std::size_t i) {
        remaining[i] = 0;
        seasonal[i] = &idle_coefficient;
        j[i] = 0;
        model[i] = EtsModel{0.0, 0.0, 0.0, 0.0, 1, 0, 0, 0};
        set_lane(i, 1.0, 1.0);
    };
    const auto load = [&](std::size_t i, const EtsSeries& series) {
        y[i] = series.y;
        fitted[i] = series.fitted;
        errors[i] = series.errors;
        done[i] = 0;
        remaining[i] = series.y.size();
        seasonal[i] = series.seasonal;
        j[i] = 0;
        level_out[i] = series.level;
        trend_out[i] = series.trend;
        model[i] = series.model;
        set_lane(i, *series.level, *series.trend);
    };

    for (std::size_t i = 0; i < lanes; ++i) park(i);
    std::size_t next = first;
    for (;;) {
        // Fill the idle lanes, then run until the first lane's series ends
        // (or for a chunk of steps).
        std::size_t steps = lockstep_chunk;
        std::size_t active = 0;
        std::size_t last = 0;
        for (std::size_t i = 0; i < lanes; ++i) {
            while (remaining[i] == 0 && next < count) {
                const EtsSeries series = source(next++);
                if (ThisKind::of(series.model) && !series.y.empty()) load(i, series);
            }
            if (remaining[i] == 0) continue;
            ++active;
            last = i;
            if (remaining[i] < steps) steps = remaining[i];
        }
        if (active == 0) return;
        if (active == 1 && next == count) {
            // The kind's last series, alone: the single-series loop finishes
            // it, without the lane bookkeeping and with the shorter chain.
            const std::size_t i = last;
            double* forecasts = fitted[i] + done[i];
            double* errors_left = errors[i] + done[i];
            auto store = [&](std::size_t t, double forecast, double e) {
                forecasts[t] = forecast;
                errors_left[t] = e;
            };
            double level_state = level[i / width][i % width];
            double slope_state = slope[i / width][i % width];
            run_steps<AdditiveError, TrendKind, SeasonKind>(
                View<double>(&y[i][done[i]], remaining[i], y[i].step()), model[i], seasonal[i],
                j[i], level_state, slope_state, store);
            *level_out[i] = level_state;
            *trend_out[i] = slope_state;
            return;
        }

        // This chunk's part of each lane's arrays: observations at
        // observed[i] + t * stride[i], forecasts and errors at t.
        const double* observed[lanes];
        std::ptrdiff_t stride[lanes];
        double* forecasts_at[lanes];
        double* errors_at[lanes];
        for (std::size_t i = 0; i < lanes; ++i) {
            if (remaining[i] == 0) {
                observed[i] = &idle_observation;
                stride[i] = 0;
                forecasts_at[i] = idle_outputs;
                errors_at[i] = idle_outputs;
            } else {
                observed[i] = &y[i][done[i]];
                stride[i] = y[i].step();
                forecasts_at[i] = fitted[i] + done[i];
                errors_at[i] = errors[i] + done[i];
            }
        }

        for (std::size_t t = 0; t < steps; ++t) {
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(t);
            Lanes observation[groups];
            Lanes coefficient[groups];
            for (std::size_t g = 0; g < groups; ++g) {
                observation[g] = lanes_of([&](std::size_t e) {
                    const std::size_t i = g * width + e;
                    return observed[i][at * stride[i]];
                });
                coefficient[g] = lanes_of([&](std::size_t e) {
                    const std::size_t i = g * width + e;
                    return seasonal_model ? seasonal[i][j[i]] : 0.0;
                });
            }
            Lanes forecast[groups];
            Lanes e[groups];
            for (std::size_t g = 0; g < groups; ++g)
                step<AdditiveError, TrendKind, SeasonKind>(w[g], observation[g], level[g], slope[g],
                                                           coefficient[g], forecast[g], e[g]);
            for (std::size_t i = 0; i < lanes; ++i) {
                forecasts_at[i][t] = forecast[i / width][i % width];
                errors_at[i][t] = e[i / width][i % width];
                if constexpr (seasonal_model) {
                    seasonal[i][j[i]] = coefficient[i / width][i % width];
                    if (++j[i] == model[i].period) j[i] = 0;
                }
            }
        }

        for (std::size_t i = 0; i < lanes; ++i) {
            if (remaining[i] == 0) continue;
            done[i] += steps;
            remaining[i] -= steps;
            if (remaining[i] > 0) continue;
            *level_out[i] = level[i / width][i % width];
            *trend_out[i] = slope[i / width][i % width];
            park(i);
        }
    }
}

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
    // Each kind is run once, from its first series on.
    std::uint32_t kinds_run = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const EtsModel model = source(k).model;
        ets::with_kind(model, [&]<bool AdditiveError, ets::Trend TrendKind, ets::Season SeasonKind>(
                                  ets::Kind<AdditiveError, TrendKind, SeasonKind>) {
            constexpr std::uint32_t bit =
                1u << ((AdditiveError ? 0 : 12) + 3 * static_cast<int>(TrendKind) +
                       static_cast<int>(SeasonKind));
            if ((kinds_run & bit) != 0) return;
            kinds_run |= bit;
            ets::run_lockstep<AdditiveError, TrendKind, SeasonKind>(k, count, source);
        });
    }
}

}  // namespace lumetra::smoothing
