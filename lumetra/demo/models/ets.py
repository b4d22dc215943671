"""ETS state-space models, fitted by maximum likelihood on ets_loglik.

As standard packages fit them, the smoothing weights, the damping and the initial level,
trend and seasonal states are estimated together. The states start from the usual
heuristic (the seasonal pattern of the first years around their moving average, and a
straight line through the first seasonally adjusted values); a quasi-Newton search then
refines all of them with the weights, inside the usual bounds.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

import lumetra._core as core
from lumetra.models.optimize import Minimum, bounded, quasi_newton, unbounded

from . import HORIZON, PERIOD, Array

# The usual bounds: 1e-4 <= alpha <= 0.9999, 1e-4 <= beta <= alpha, 1e-4 <= gamma <=
# 1 - alpha and 0.8 <= phi <= 0.98. The trend update b = phi * b + beta * (new level - old
# level) multiplies the trend by phi * (1 + beta) at every step of a forecast (the level
# then moves by phi * b), so phi is also kept at or below 1 / (1 + beta): the fitted trend
# never grows by itself.
ALPHA = (1e-4, 0.9999)
WEIGHT_FLOOR = 1e-4
PHI = (0.8, 0.98)
# Starting weights: a slow level, a slower trend, a nearly fixed season.
START = (0.2, 0.02, 0.04, 0.95)  # alpha, beta, gamma, phi


@dataclass(frozen=True)
class EtsModel:
    name: str
    error_type: int  # 0 additive, otherwise multiplicative
    trend_type: int  # 0 none, 1 or 2 additive damped, 3 multiplicative
    seasonal_type: int  # 1 additive, 2 multiplicative, otherwise none


EtsArguments = tuple[float, float, Array, float, float, float, float, int, int, int, int]
MODELS = (EtsModel("ETS(A,Ad,A)", 0, 1, 1), EtsModel("ETS(M,Ad,M)", 1, 1, 2))


@dataclass(frozen=True)
class EtsParams:
    level0: float  # the level a month before the first observation
    trend0: float
    seasonal0: Array  # the coefficient of each month, January first
    alpha: float
    beta: float
    gamma: float
    phi: float

    def arguments(self, model: EtsModel) -> EtsArguments:
        """The arguments of ets_filter and ets_loglik after `y`."""
        states = (self.level0, self.trend0, self.seasonal0)
        weights = (self.alpha, self.beta, self.gamma, self.phi)
        return states + weights + (PERIOD, model.error_type, model.trend_type, model.seasonal_type)


@dataclass(frozen=True)
class EtsFit:
    model: EtsModel
    params: EtsParams
    search: Minimum
    fitted: Array
    level: float
    trend: float
    seasonal: Array
    forecast: Array

    @property
    def minus_twice_loglik(self) -> float:
        return self.search.value


def initial_states(y: Array, model: EtsModel) -> EtsParams:
    """The usual heuristic start, with the usual starting weights.

    The seasonal coefficients are the monthly pattern of the first (up to five) years
    around their centred moving average; the level a month before y[0] and the trend are
    the intercept and slope of a straight line through the first ten adjusted values.
    """
    first = y[: min(5, y.size // PERIOD) * PERIOD]
    trend = core.mstl_moving_average(first, PERIOD)
    if model.seasonal_type == 2:
        seasonal0 = 1.0 + core.mstl_extract_seasonal(first / trend - 1.0, PERIOD)[:PERIOD]
        adjusted = first[:10] / seasonal0[:10]
    else:
        seasonal0 = core.mstl_extract_seasonal(first - trend, PERIOD)[:PERIOD]
        adjusted = first[:10] - seasonal0[:10]
    slope, intercept = np.polyfit(np.arange(1.0, 11.0), adjusted, 1)
    return EtsParams(float(intercept), float(slope), seasonal0, *START)


def phi_bound(beta: float) -> float:
    """The largest damping allowed with this trend weight."""
    return min(PHI[1], 1.0 / (1.0 + beta))


def from_search(u: Sequence[float], start: EtsParams, model: EtsModel) -> EtsParams:
    """The parameters at the optimiser's unconstrained point `u`.

    u[0:4] map into the bounds of the weights and the damping; u[4] and u[5] move the level and the trend
    by tenths and hundredths of the starting level; u[6:17] move eleven of the twelve
    seasonal coefficients (by a factor, or by hundredths of the level), after which the
    season is normalised to mean 1 (multiplicative) or 0 (additive): a common factor or
    offset of the season would only trade places with the level.
    """
    alpha = bounded(u[0], *ALPHA)
    beta = bounded(u[1], WEIGHT_FLOOR, alpha)
    gamma = bounded(u[2], WEIGHT_FLOOR, 1.0 - alpha)
    phi = bounded(u[3], PHI[0], phi_bound(beta))
    level0 = start.level0 * (1.0 + 0.1 * u[4])
    trend0 = start.trend0 + 0.01 * start.level0 * u[5]
    moves = np.append(np.asarray(u[6:], dtype=np.float64), 0.0)
    if model.seasonal_type == 2:
        seasonal0 = start.seasonal0 * np.exp(0.1 * moves)
        seasonal0 /= np.mean(seasonal0)
    else:
        seasonal0 = start.seasonal0 + 0.01 * start.level0 * moves
        seasonal0 -= np.mean(seasonal0)
    return EtsParams(level0, trend0, seasonal0, alpha, beta, gamma, phi)


def estimate(y: Array, model: EtsModel) -> tuple[EtsParams, Minimum]:
    """Minimise ets_loglik over the weights, the damping and all initial states."""
    start = initial_states(y, model)

    def objective(u: Sequence[float]) -> float:
        return core.ets_loglik(y, *from_search(u, start, model).arguments(model))

    u0 = [
        unbounded(start.alpha, *ALPHA),
        unbounded(start.beta, WEIGHT_FLOOR, start.alpha),
        unbounded(start.gamma, WEIGHT_FLOOR, 1.0 - start.alpha),
        unbounded(start.phi, PHI[0], phi_bound(start.beta)),
    ]
    search = quasi_newton(objective, u0 + [0.0] * (2 + PERIOD - 1))
    return from_search(search.x, start, model), search


def fit(y: Array) -> list[EtsFit]:
    """Fit every model of MODELS, then filter them all with one batch_ets_filter call."""
    estimates = [estimate(y, model) for model in MODELS]
    arguments = [
        params.arguments(model) for model, (params, _) in zip(MODELS, estimates, strict=True)
    ]
    results = core.batch_ets_filter([y] * len(MODELS), arguments)
    fits = []
    for model, (params, search), args, result in zip(
        MODELS, estimates, arguments, results, strict=True
    ):
        fitted, errors, level, trend, seasonal = result
        single = core.ets_filter(y, *args)
        arrays = zip((single[0], single[1], single[4]), (fitted, errors, seasonal))
        if single[2:4] != (level, trend) or not all(np.array_equal(a, b) for a, b in arrays):
            raise RuntimeError("batch_ets_filter differs from ets_filter")
        ahead = forecast(
            level, trend, seasonal, params.beta, params.phi, PERIOD, y.size, model, HORIZON
        )
        fits.append(EtsFit(model, params, search, fitted, level, trend, seasonal, ahead))
    return fits


def forecast(
    level: float,
    trend: float,
    seasonal: Array,
    beta: float,
    phi: float,
    period: int,
    n: int,
    model: EtsModel,
    horizon: int,
) -> Array:
    """Continue the ETS recursion from its final states with every future error zero.

    With a zero error the level update reduces to l = l + phi * b, the trend update keeps
    its own rule and the seasonal coefficients stay as they are, so each step is written
    with the operations the filter itself performs.
    """
    s = seasonal.copy()
    lev, b = level, trend
    j = n % period
    out = np.empty(horizon)
    for h in range(horizon):
        season = 0.0
        if model.seasonal_type in (1, 2):
            season = float(s[j])
            if model.seasonal_type == 2 and season < 1e-6:
                season = s[j] = 1e-6
        if model.trend_type == 0:
            base = lev
        elif model.trend_type in (1, 2):
            base = lev + phi * b
        else:
            base = lev * b
        if model.seasonal_type == 1:
            out[h] = base + season
        elif model.seasonal_type == 2:
            out[h] = base * season
        else:
            out[h] = base
        new_level = min(max(lev + phi * b, -1e15), 1e15)
        if model.trend_type in (1, 2):
            b = phi * b + beta * (new_level - lev)
        elif model.trend_type == 3:
            b = b * c_pow(new_level / (lev + 1e-10), beta)
        lev = new_level
        j = j + 1 if j + 1 != period else 0
    return out


def c_pow(x: float, y: float) -> float:
    """The platform's pow(x, y), with its NaN and infinity where Python's raises."""
    try:
        return math.pow(x, y)
    except ValueError:  # a negative base with a fractional exponent, or 0 to a negative one
        return math.nan if x != 0.0 else math.inf
    except OverflowError:
        return math.inf if x > 0.0 or y % 2.0 != 1.0 else -math.inf
