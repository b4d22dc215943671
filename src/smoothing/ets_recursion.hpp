// The ETS state-space recursion: error, trend and seasonal components chosen
// by integer type codes. It is written once, here, and run with identical
// arithmetic by ets_filter, ets_loglik and batch_ets_filter; they differ only
// in what they do with each step's forecast and error.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

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

// Level, trend and the private seasonal vector (indexed 0..m0-1, never
// rotated); on return they hold the states after the last step.
struct EtsState {
    double level;
    double trend;
    Series seasonal;
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

// The steps of one model. The kinds are template arguments, so that each of
// the 24 models runs a loop holding only its own arithmetic; the operations,
// and their order, are those of the one body below for every model.
template <bool AdditiveError, Trend TrendKind, Season SeasonKind, class OnStep>
void run_steps(View<double> y, const EtsModel& model, EtsState& state, OnStep& on_step) {
    const std::size_t n = y.size();
    const double alpha = model.alpha;
    const double beta = model.beta;
    const double gamma = model.gamma;
    const double phi = model.phi;
    double* seasonal = state.seasonal.data();
    double level = state.level;
    double slope = state.trend;
    std::size_t j = 0;  // t mod period
    for (std::size_t t = 0; t < n; ++t) {
        // Seasonal read. A multiplicative coefficient below the floor is
        // raised to it, and S keeps the raised value unless the update below
        // replaces it.
        double s = 0.0;
        if constexpr (SeasonKind != Season::none) {
            s = seasonal[j];
            if constexpr (SeasonKind == Season::multiplicative) {
                if (s < seasonal_floor) {
                    s = seasonal_floor;
                    seasonal[j] = s;
                }
            }
        }

        // One-step-ahead forecast from the previous level and trend.
        double trended;
        if constexpr (TrendKind == Trend::none) {
            trended = level;
        } else if constexpr (TrendKind == Trend::damped) {
            trended = level + phi * slope;
        } else {
            trended = level * slope;
        }
        double forecast = trended;
        if constexpr (SeasonKind == Season::additive) {
            forecast = trended + s;
        } else if constexpr (SeasonKind == Season::multiplicative) {
            forecast = trended * s;
        }

        const double e = y[t] - forecast;
        on_step(t, forecast, e);

        // The level update starts from l + phi * b for every trend kind, also
        // where the forecast used l or l * b.
        const double base = level + phi * slope;
        double updated;
        if constexpr (!AdditiveError) {
            updated = base * (alpha * (e / (forecast + epsilon)) + 1.0);
        } else if constexpr (SeasonKind == Season::multiplicative) {
            updated = base + (alpha * e) / (s + epsilon);
        } else {
            updated = base + alpha * e;
        }
        // Plain comparisons: a NaN level passes through the bound unchanged.
        if (updated < -level_bound) updated = -level_bound;
        if (updated > level_bound) updated = level_bound;

        if constexpr (TrendKind == Trend::damped) {
            slope = phi * slope + beta * (updated - level);
        } else if constexpr (TrendKind == Trend::multiplicative) {
            slope = slope * std::pow(updated / (level + epsilon), beta);
        }

        if constexpr (SeasonKind == Season::additive) {
            seasonal[j] = s + gamma * e;
        } else if constexpr (SeasonKind == Season::multiplicative) {
            double coefficient;
            if constexpr (AdditiveError) {
                coefficient = s + (gamma * e) / (base + epsilon);
            } else {
                coefficient = s * ((gamma * e) / (forecast + epsilon) + 1.0);
            }
            if (coefficient < seasonal_floor) coefficient = seasonal_floor;  // a NaN stays
            seasonal[j] = coefficient;
        }

        level = updated;
        if (++j == model.period) j = 0;
    }
    state.level = level;
    state.trend = slope;
}

template <bool AdditiveError, Trend TrendKind, class OnStep>
void run_season(Season season, View<double> y, const EtsModel& model, EtsState& state,
                OnStep& on_step) {
    switch (season) {
        case Season::none:
            return run_steps<AdditiveError, TrendKind, Season::none>(y, model, state, on_step);
        case Season::additive:
            return run_steps<AdditiveError, TrendKind, Season::additive>(y, model, state, on_step);
        case Season::multiplicative:
            return run_steps<AdditiveError, TrendKind, Season::multiplicative>(y, model, state,
                                                                               on_step);
    }
}

template <bool AdditiveError, class OnStep>
void run_trend(Trend trend, Season season, View<double> y, const EtsModel& model, EtsState& state,
               OnStep& on_step) {
    switch (trend) {
        case Trend::none:
            return run_season<AdditiveError, Trend::none>(season, y, model, state, on_step);
        case Trend::damped:
            return run_season<AdditiveError, Trend::damped>(season, y, model, state, on_step);
        case Trend::multiplicative:
            return run_season<AdditiveError, Trend::multiplicative>(season, y, model, state,
                                                                    on_step);
        case Trend::frozen_multiplicative:
            return run_season<AdditiveError, Trend::frozen_multiplicative>(season, y, model, state,
                                                                           on_step);
    }
}

}  // namespace ets

// Runs the recursion over y from `state`, calling on_step(t, forecast, error)
// at every step t once the one-step-ahead forecast and its error are known.
//
// Every expression is evaluated as written, one IEEE operation at a time
// (products and quotients before the sums that use them, no fused
// multiply-add), so that all three callers produce the same bits.
template <class OnStep>
void ets_recursion(View<double> y, const EtsModel& model, EtsState& state, OnStep&& on_step) {
    const std::size_t n = y.size();
    if (n == 0) return;  // the states stay as given, whatever the period
    // The season index is t mod period.
    if (model.period == 0) fail_remainder_by_zero();

    const ets::Trend trend = ets::trend_kind(model.trend_type);
    const ets::Season season = ets::season_kind(model.seasonal_type);
    const std::size_t m0 = state.seasonal.size();
    // A seasonal model reads S[t mod period] at step t. That index passes the
    // end of S only when the period is longer than S, and first at step
    // t = m0; no result survives a failure, so it is reported before the run.
    if (season != ets::Season::none && model.period > m0 && n > m0) fail_index(m0, m0);

    if (model.error_type == 0) {
        ets::run_trend<true>(trend, season, y, model, state, on_step);
    } else {
        ets::run_trend<false>(trend, season, y, model, state, on_step);
    }
}

}  // namespace lumetra::smoothing
