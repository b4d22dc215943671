// The ETS state-space recursion: error, trend and seasonal components chosen
// by integer type codes. It is written once, here, and run with identical
// arithmetic by ets_filter, ets_loglik and batch_ets_filter (whose lanes run
// it for many series at once, ets_lockstep.hpp); they differ only in what
// they do with each step's forecast and error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "common/failure.hpp"
#include "common/lanes.hpp"
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

namespace ets {

// Added to every divisor.
inline constexpr double epsilon = 1e-10;
// Lower bound of a multiplicative seasonal coefficient.
inline constexpr double seasonal_floor = 1e-6;
// The level is clamped to -level_bound .. level_bound after every update.
inline constexpr double level_bound = 1e15;

enum class Trend { none, damped, multiplicative, frozen_multiplicative };
enum class Season { none, additive, multiplicative };

// How many kinds there are: of trend and of seasonality (one past the last
// of each), and of models, which add the two kinds of error.
inline constexpr std::size_t trend_kinds =
    static_cast<std::size_t>(Trend::frozen_multiplicative) + 1;
inline constexpr std::size_t season_kinds = static_cast<std::size_t>(Season::multiplicative) + 1;
inline constexpr std::size_t kinds = 2 * trend_kinds * season_kinds;

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

// The kinds of one model as template arguments, so that each of the models
// runs a loop holding only its own arithmetic.
template <bool AdditiveError, Trend TrendKind, Season SeasonKind>
struct Kind {
    static_assert(static_cast<std::size_t>(TrendKind) < trend_kinds &&
                  static_cast<std::size_t>(SeasonKind) < season_kinds);
    // The model's place among all kinds, counted by error, then trend, then
    // season: every kind has its own index below `kinds`.
    static constexpr std::size_t index =
        ((AdditiveError ? 0 : 1) * trend_kinds + static_cast<std::size_t>(TrendKind)) *
            season_kinds +
        static_cast<std::size_t>(SeasonKind);
};

// Calls visit(Kind<...>{}) with the kinds of `model`.
template <class Visit>
void with_kind(const EtsModel& model, Visit&& visit) {
    // (Each switch has a case for every kind: its branch past them all is never taken.)
    const auto with_season = [&]<bool AdditiveError, Trend TrendKind>() {  // GCOVR_EXCL_BR_LINE
        switch (season_kind(model.seasonal_type)) {
            case Season::none:
                return visit(Kind<AdditiveError, TrendKind, Season::none>{});
            case Season::additive:
                return visit(Kind<AdditiveError, TrendKind, Season::additive>{});
            case Season::multiplicative:
                return visit(Kind<AdditiveError, TrendKind, Season::multiplicative>{});
        }
    };
    const auto with_trend = [&]<bool AdditiveError>() {  // GCOVR_EXCL_BR_LINE
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
// recursion's dependency chain and almost never applies, so it is a branch,
// kept one (lanes::keep_branch): a predicted branch adds no latency to the
// chain, where a maximum and a minimum would add theirs at every step.
inline void bound_level(double& x) noexcept {
    if (x < -level_bound) [[unlikely]] {
        x = -level_bound;
        lanes::keep_branch();
    }
    if (x > level_bound) [[unlikely]] {
        x = level_bound;
        lanes::keep_branch();
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
// the scalar recursion's). On entry `level` and `trend` are the previous states
// and `coefficient` is S[j] as stored (ignored without seasonality); on
// return they are the new states, the value to store back into S[j], and the
// step's one-step-ahead forecast and error.
//
// Every expression is evaluated as written, one IEEE operation at a time
// (products and quotients before the sums that use them, no fused
// multiply-add), so that all callers produce the same bits.
template <bool AdditiveError, Trend TrendKind, Season SeasonKind, class Real>
[[gnu::always_inline]] inline void step(const StepWeights<Real>& w, const Real& observation,
                                        Real& level, Real& trend, Real& coefficient, Real& forecast,
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
        trended = level + w.phi * trend;
    } else {
        trended = level * trend;
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
    const Real base = level + w.phi * trend;
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
        trend = w.phi * trend + w.beta * (updated - level);
    } else if constexpr (TrendKind == Trend::multiplicative) {
        Real growth = updated / (level + epsilon);
        lanes::pow(growth, w.beta);
        trend = trend * growth;
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

// The recursion over the series y, from season index j on. level_state and
// trend_state hold the states before the first step and are left with those
// after the last; seasonal is the series' private seasonal vector. The states
// are carried in locals, out of reach of on_step's stores, so that they stay
// in registers.
template <bool AdditiveError, Trend TrendKind, Season SeasonKind, class OnStep>
void run_steps(View<double> y, const EtsModel& model, double* seasonal, std::size_t j,
               double& level_state, double& trend_state, OnStep& on_step) {
    const std::size_t n = y.size();
    const StepWeights<double> w{model.alpha, model.beta, model.gamma, model.phi};
    double level = level_state;
    double trend = trend_state;
    for (std::size_t t = 0; t < n; ++t) {
        double coefficient = 0.0;
        if constexpr (SeasonKind != Season::none) coefficient = seasonal[j];
        double forecast;
        double e;
        step<AdditiveError, TrendKind, SeasonKind>(w, y[t], level, trend, coefficient, forecast, e);
        on_step(t, forecast, e);
        if constexpr (SeasonKind != Season::none) seasonal[j] = coefficient;
        if (++j == model.period) j = 0;
    }
    level_state = level;
    trend_state = trend;
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

}  // namespace lumetra::smoothing
