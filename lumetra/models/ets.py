"""Automatic exponential smoothing: the ETS model chosen by AICc (Hyndman et al., 2002, 2008).

Each candidate model is a state-space model of `lumetra._core`'s ETS recursion
(`ets_filter`, `ets_loglik`), named ETS(error, trend, season):

- error A (additive) or M (multiplicative);
- trend N (none), A (additive) or Ad (additive, damped);
- season N (none), A (additive) or M (multiplicative).

Every candidate is fitted by maximum likelihood (minimising `ets_loglik`, minus twice
the Gaussian log-likelihood) over its smoothing weights, its damping and its initial
states, and the model with the smallest AICc is chosen. The candidates are those of the
usual automatic ETS:

- multiplicative error or season only for a strictly positive series;
- no additive error with a multiplicative season (an unstable combination);
- a season only with a period of 2 to 24 and at least two full periods of data, else the
  series is fitted without season and the result's `notes` say why;
- models with more parameters than the series can estimate (AICc undefined) are left out.

The recursion and its parameters
--------------------------------
The recursion updates the trend as b <- phi * b + beta * (l_new - l_old), where the
textbook form is b <- phi * b + beta* * (l_new - l_old - phi * b). With a zero error the
level moves by phi * b and the trend is multiplied by phi * (1 + beta): the trend
compounds when phi * (1 + beta) > 1. The search therefore moves the per-step trend
factor f = phi * (1 + beta) (f = 1 for an undamped trend, 0.8 <= f <= 0.98 for a damped
one) and sets phi = f / (1 + beta). So parameterised, the recursion is the textbook
model with damping f, trend weight beta_t = alpha * beta / (1 + beta) on the one-step
error, and a first trend increment phi * trend0: the one-step and multi-step forecasts
are the textbook ones. The recursion is kept exactly as it is; only the parameters are
mapped.

The usual bounds are applied to the recursion's own weights: 1e-4 <= alpha <= 0.9999,
beta <= alpha (as a share of alpha between 1e-4 and 0.9999), gamma <= 1 - alpha (the
same share of 1 - alpha). The weights must also be admissible: the linear model's
characteristic roots (but the unit root that a season shares with the level) lie inside
the unit circle, so that the one-step errors forget the initial states. A multiplicative
model's initial level and seasonal coefficients must be positive.

Two of the recursion's forms differ from the textbook in a way no mapping removes: a
multiplicative error with an additive season updates the level by B * (1 + alpha e / f)
rather than B + alpha e (these models are candidates as they are), and the
multiplicative trend (code 3) forecasts l * b while its level moves by phi * b, so it is
not offered.

The search
----------
The initial states start from the usual heuristic: the seasonal indices of the first
(up to four) years around their centred moving average, and a straight line through the
first ten seasonally adjusted values for the level and the trend. The weights start
slow: alpha at 0.2, beta and gamma at 3e-4 of their ranges (a nearly fixed trend and
season), the damping factor at 0.97. A Nelder-Mead search (`lumetra.models.optimize`)
moves all of them together, in the coordinates that the objective ``"ets"`` of
`lumetra._fit` documents (src/fit/ets_objective.hpp), and stops after
`MAX_EVALUATIONS` evaluations past its initial simplex. The start and the short search
are deliberate: on the 3,003 M3 series, longer searches and searches started from faster
weights find higher likelihoods whose trends and seasons follow the last observations
more closely, and forecast worse (mean sMAPE 12.89 for this start run to convergence,
12.92 to 13.04 for starts with beta and gamma at 1% to 10% of their ranges, against
12.81 here).

`engine="native"` runs the search in `lumetra._fit` on its objective ``"ets"``,
`engine="python"` runs the same algorithm on the same objective in Python; both give the
same bits.

Forecasts and intervals
-----------------------
The point forecasts continue the recursion from its final states with every future
error zero: appending them to the series and filtering gives zero errors. The intervals
are Gaussian around them, with the scale of each step k taken as the larger of two
estimates from the series' own training data:

- the usual one, sigma * sqrt(c_0^2 + ... + c_{k-1}^2) with the linear model's error
  weights c_0 = 1, c_j = alpha + beta_t * (f + ... + f^j) + gamma [j a multiple of the
  period], and sigma the one-step errors' root mean square (relative errors, times the
  forecast, for a multiplicative error);
- the root mean square of the in-sample k-step errors, the weighted sums
  c_0 e_t + c_1 e_{t-1} + ... + c_{k-1} e_{t-k+1} of the one-step errors (exactly the
  k-step errors of a linear model), which also catches errors that are not independent.

The scale is widened by sqrt(n / (n - p)) for the p estimated parameters and the
quantile is Student's t with n - p degrees of freedom (at least 2).
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field

import numpy as np
from numpy.typing import NDArray

import lumetra._core as core

from . import _checks
from ._common import at_bounds, check_engine
from ._forecast import Forecast
from ._intervals import student_quantile
from .optimize import Minimum, bounded, native_nelder_mead, nelder_mead, unbounded

__all__ = [
    "ALPHA_BOUNDS",
    "EtsFit",
    "EtsModel",
    "MAX_EVALUATIONS",
    "MAX_PERIOD",
    "PHI_BOUNDS",
    "SHARE_BOUNDS",
    "admissible",
    "candidates",
    "fit",
]

Array = NDArray[np.float64]
# The arguments of ets_filter after y.
Arguments = tuple[float, float, Array, float, float, float, float, int, int, int, int]

# The usual bounds: alpha itself, beta as a share of alpha, gamma as a share of 1 - alpha,
# and the damping factor of a damped trend.
ALPHA_BOUNDS = (1e-4, 0.9999)
SHARE_BOUNDS = (1e-4, 0.9999)
PHI_BOUNDS = (0.8, 0.98)
# The longest season fitted.
MAX_PERIOD = 24
# Evaluations of the likelihood per model, beyond the initial simplex's.
MAX_EVALUATIONS = 100
TOLERANCE = 1e-8
# Where the weights start: alpha, the shares of beta and gamma, the damping factor.
START = (0.2, 0.0003, 0.0003, 0.97)
# How many first values the starting line goes through.
LINE_VALUES = 10
# How many first years give the starting seasonal indices.
SEASON_YEARS = 4

# The recursion's constants, repeated by the forecasts.
_EPSILON = 1e-10
_SEASONAL_FLOOR = 1e-6
_LEVEL_BOUND = 1e15

NOTE_SHORT = "series shorter than two periods: fitted without season"
NOTE_LONG_PERIOD = f"period longer than {MAX_PERIOD}: fitted without season"
NOTE_NOT_POSITIVE = "series not strictly positive: additive error and season only"
NOTE_SHORT_FOR_MODELS = "series too short for some models: fewer candidates"


@dataclass(frozen=True)
class EtsModel:
    """One ETS model class.

    Attributes
    ----------
    error : {"A", "M"}
        Additive or multiplicative error.
    trend : {"N", "A", "Ad"}
        No trend, an additive trend, an additive damped trend.
    season : {"N", "A", "M"}
        No season, an additive or a multiplicative one.
    """

    error: str
    trend: str
    season: str

    def __post_init__(self) -> None:
        if self.error not in ("A", "M") or self.trend not in ("N", "A", "Ad"):
            raise ValueError(f"model must be ETS(A|M, N|A|Ad, N|A|M), got {self.name}")
        if self.season not in ("N", "A", "M"):
            raise ValueError(f"model must be ETS(A|M, N|A|Ad, N|A|M), got {self.name}")

    @property
    def name(self) -> str:
        """The model's name, such as ``"ETS(M,Ad,N)"``."""
        return f"ETS({self.error},{self.trend},{self.season})"

    @property
    def codes(self) -> tuple[int, int, int]:
        """The recursion's (error_type, trend_type, seasonal_type)."""
        return (
            0 if self.error == "A" else 1,
            0 if self.trend == "N" else 1,
            {"N": 0, "A": 1, "M": 2}[self.season],
        )

    @property
    def multiplicative(self) -> bool:
        """Whether the model needs a positive series (a multiplicative error or season)."""
        return self.error == "M" or self.season == "M"

    @classmethod
    def parse(cls, name: str) -> EtsModel:
        """The model named ``"ETS(E,T,S)"`` (or ``"E,T,S"``)."""
        text = name.strip()
        if text.startswith("ETS(") and text.endswith(")"):
            text = text[4:-1]
        parts = [part.strip() for part in text.split(",")]
        if len(parts) != 3:
            raise ValueError(f"model must be a name such as 'ETS(M,Ad,N)', got {name!r}")
        return cls(*parts)


def candidates(y: Array, period: int) -> tuple[tuple[EtsModel, ...], tuple[str, ...]]:
    """The model classes that the automatic choice compares for this series.

    Parameters
    ----------
    y : ndarray
        The series (float64).
    period : int
        The season length; 1 for none.

    Returns
    -------
    tuple
        The candidate models, in a fixed order, and the notes on the fallbacks taken.
    """
    notes: list[str] = []
    seasons = ["N"]
    if period > 1:
        if period > MAX_PERIOD:
            notes.append(NOTE_LONG_PERIOD)
        elif y.size < 2 * period:
            notes.append(NOTE_SHORT)
        else:
            seasons += ["A", "M"]
    positive = bool(np.all(y > 0.0))
    if not positive:
        notes.append(NOTE_NOT_POSITIVE)
    models = []
    dropped = False
    for error in ("A", "M") if positive else ("A",):
        for trend in ("N", "A", "Ad"):
            for season in seasons:
                if season == "M" and (error == "A" or not positive):
                    continue
                model = EtsModel(error, trend, season)
                if _parameter_count(model, period) + 1 >= y.size:
                    dropped = True
                    continue
                models.append(model)
    if dropped:
        notes.append(NOTE_SHORT_FOR_MODELS)
    return tuple(models), tuple(notes)


def _parameter_count(model: EtsModel, period: int) -> int:
    """The parameters the likelihood is maximised over, and the error variance."""
    count = 3  # alpha, level0, the variance
    if model.trend != "N":
        count += 2 if model.trend == "A" else 3
    if model.season != "N":
        count += 1 + (period - 1)
    return count


def admissible(
    alpha: float, beta_t: float, gamma: float, phi: float, trend: bool, seasons: int
) -> bool:
    """Whether the linear ETS model with these weights forgets its initial states.

    The weights are in error-correction form: the level moves by alpha times the one-step
    error, the trend by beta_t times it, the season by gamma times it, and the trend is
    damped by phi at each step. The model is admissible when every root of its
    characteristic polynomial (the determinant of z I - D, D = F - g w', less the unit
    root that a season's coefficients always share with the level) lies strictly inside
    the unit circle: the Schur-Cohn recursion decides it without finding the roots.

    Parameters
    ----------
    alpha, beta_t, gamma, phi : float
        The weights and the damping factor (phi is ignored without trend, beta_t too).
    trend : bool
        Whether the model has a trend.
    seasons : int
        The period of a seasonal model (at least 2), 0 without season.

    Returns
    -------
    bool
    """
    if seasons == 0:
        if not trend:
            c = [alpha - 1.0, 1.0]
        else:
            c = [phi * (1.0 - alpha), ((alpha + phi * beta_t) - 1.0) - phi, 1.0]
    elif not trend:
        c = [(alpha - 1.0) + gamma] + [alpha] * (seasons - 1) + [1.0]
    else:
        common = (alpha + phi * beta_t) - alpha * phi
        c = [phi * ((1.0 - alpha) - gamma), (common + gamma) - 1.0]
        c += [common] * (seasons - 2)
        c += [(alpha + phi * beta_t) - phi, 1.0]
    return _roots_inside_unit_circle(c)


def _roots_inside_unit_circle(a: list[float]) -> bool:
    """The Schur-Cohn recursion, with the operations of lumetra._fit's."""
    d = len(a) - 1
    while d > 0:
        low, high = a[0], a[d]
        if not abs(low) < abs(high):
            return False
        q = [high * a[k + 1] - low * a[d - 1 - k] for k in range(d)]
        lead = q[d - 1]
        a = [value / lead for value in q]
        d -= 1
    return True


@dataclass(frozen=True)
class _Layout:
    """The constants of the objective ``"ets"`` (see src/fit/ets_objective.hpp)."""

    period: int
    error: int
    trend: bool
    damped: bool
    season: int

    @property
    def seasons(self) -> int:
        return self.period if self.season else 0

    def constants(self) -> tuple[float, ...]:
        flags = (self.error, self.trend, self.damped, self.season)
        return (float(self.period), *map(float, flags), *ALPHA_BOUNDS, *SHARE_BOUNDS, *PHI_BOUNDS)


def _layout(model: EtsModel, period: int) -> _Layout:
    error, trend, season = model.codes
    return _Layout(period, error, trend == 1, model.trend == "Ad", season)


@dataclass(frozen=True)
class _Point:
    """The recursion's arguments at one point of the search, and the weights that bound it."""

    alpha: float
    beta: float  # the recursion's
    gamma: float
    phi: float  # the recursion's
    factor: float  # the trend's factor per step, phi * (1 + beta)
    share_beta: float
    share_gamma: float
    level0: float
    trend0: float
    seasonal0: Array
    valid: bool  # positive where a multiplicative model needs it, and admissible

    @property
    def beta_t(self) -> float:
        """The trend's weight on the one-step error in the textbook form."""
        return self.alpha * (self.beta / (1.0 + self.beta))

    def arguments(self, layout: _Layout) -> Arguments:
        """The arguments of ets_filter and ets_loglik after y, for a model of this layout."""
        return (
            self.level0,
            self.trend0,
            self.seasonal0,
            self.alpha,
            self.beta,
            self.gamma,
            self.phi,
            layout.period,
            layout.error,
            int(layout.trend),
            layout.season,
        )


def _point(x: Sequence[float], layout: _Layout) -> _Point:
    """Map search coordinates onto the recursion's arguments, with lumetra._fit's operations."""
    m = layout.seasons
    i = 0
    alpha = bounded(x[i], *ALPHA_BOUNDS)
    i += 1
    beta, factor, share_beta, share_gamma = 0.0, 1.0, math.nan, math.nan
    if layout.trend:
        share_beta = bounded(x[i], *SHARE_BOUNDS)
        beta = alpha * share_beta
        i += 1
    gamma = 0.0
    if m:
        share_gamma = bounded(x[i], *SHARE_BOUNDS)
        gamma = (1.0 - alpha) * share_gamma
        i += 1
    if layout.damped:
        factor = bounded(x[i], *PHI_BOUNDS)
        i += 1
    level0 = x[i]
    i += 1
    phi, trend0 = 0.0, 0.0
    if layout.trend:
        phi = factor / (1.0 + beta)
        trend0 = x[i] / phi
        i += 1
    seasonal = np.empty(m)
    valid = True
    if layout.error or layout.season == 2:
        valid = level0 > 0.0
    if m:
        total = 0.0
        for k in range(m - 1):
            seasonal[k] = x[i]
            total = total + x[i]
            i += 1
        seasonal[m - 1] = float(m) - total if layout.season == 2 else -total
        if layout.season == 2 and valid:
            valid = bool(np.all(seasonal > 0.0))
    if valid:
        beta_t = alpha * (beta / (1.0 + beta))
        valid = admissible(alpha, beta_t, gamma, factor, layout.trend, m)
    return _Point(
        alpha, beta, gamma, phi, factor, share_beta, share_gamma, level0, trend0, seasonal, valid
    )


def ets_objective(
    arrays: Sequence[Array], constants: Sequence[float]
) -> Callable[[Sequence[float]], float]:
    """The Python form of the native objective ``"ets"`` (the reference for engine="python").

    Parameters
    ----------
    arrays : sequence of ndarray
        One array: the series.
    constants : sequence of float
        period, error, trend, damped, season, then the bounds of alpha, of the shares and
        of the damping factor (see src/fit/ets_objective.hpp).

    Returns
    -------
    callable
        x -> ``ets_loglik`` at the point x of the search coordinates, +inf where the
        point is not admissible or a multiplicative model's states are not positive.
    """
    y = arrays[0]
    period, error, trend, damped, season = (int(c) for c in constants[:5])
    layout = _Layout(period, error, bool(trend), bool(damped), season)

    def objective(x: Sequence[float]) -> float:
        p = _point(x, layout)
        if not p.valid:
            return math.inf
        return core.ets_loglik(y, *p.arguments(layout))

    return objective


def _initial_states(y: Array, season: str, period: int) -> tuple[float, float, Array]:
    """The usual heuristic start: (level0, first trend increment, seasonal indices).

    The seasonal indices are the first (up to `SEASON_YEARS`) years' ratios to (or
    differences from) their centred moving average, averaged by phase and normalised to
    mean 1 (or 0), y[0]'s phase first. The level and the increment are the intercept
    (the value one step before y[0]) and the slope of the least-squares line through the
    first `LINE_VALUES` seasonally adjusted values.
    """
    n = y.size
    if season != "N":
        m = period
        first = y[: min(SEASON_YEARS, n // m) * m]
        if m % 2 == 0:
            weights = np.concatenate(([0.5], np.ones(m - 1), [0.5])) / m
        else:
            weights = np.ones(m) / m
        average = np.convolve(first, weights, mode="valid")
        start = (weights.size - 1) // 2
        index = np.arange(start, start + average.size)
        detrended = first[index] / average if season == "M" else first[index] - average
        phases = index % m
        seasonal = np.bincount(phases, detrended, m) / np.bincount(phases, None, m)
        phase_of_y = np.arange(n) % m
        if season == "M":
            seasonal = seasonal / np.mean(seasonal)
            adjusted = y / seasonal[phase_of_y]
        else:
            seasonal = seasonal - np.mean(seasonal)
            adjusted = y - seasonal[phase_of_y]
    else:
        seasonal = np.empty(0)
        adjusted = y
    k = min(LINE_VALUES, n)
    t = np.arange(1.0, k + 1.0)
    centred = t - (k + 1.0) / 2.0
    spread = float(centred @ centred)
    mean = float(np.mean(adjusted[:k]))
    slope = float(centred @ adjusted[:k]) / spread if spread > 0.0 else 0.0
    return mean - slope * (k + 1.0) / 2.0, slope, seasonal


@dataclass(frozen=True)
class _Estimate:
    model: EtsModel
    layout: _Layout
    search: Minimum
    aicc: float
    parameters: int


def _estimate(
    y: Array, period: int, model: EtsModel, states: tuple[float, float, Array], engine: str
) -> _Estimate:
    """Maximise the likelihood of one model from the heuristic start `states`."""
    layout = _layout(model, period)
    level0, slope, seasonal = states
    if model.multiplicative and not level0 > 0.0:  # a steep start: the mean level instead
        level0 = level0 + slope * (min(LINE_VALUES, y.size) + 1.0) / 2.0
    increment0 = slope if model.trend != "N" else 0.0
    m = layout.seasons
    scale = float(np.mean(np.abs(y[: 2 * max(m, 1)])))
    if not scale > 0.0:
        scale = 1.0
    start = [unbounded(START[0], *ALPHA_BOUNDS)]
    step = [1.0]
    if layout.trend:
        start.append(unbounded(START[1], *SHARE_BOUNDS))
        step.append(1.0)
    if m:
        start.append(unbounded(START[2], *SHARE_BOUNDS))
        step.append(1.0)
    if layout.damped:
        start.append(unbounded(START[3], *PHI_BOUNDS))
        step.append(1.0)
    start.append(level0)
    step.append(0.1 * abs(level0) if level0 != 0.0 else 0.1 * scale)
    if layout.trend:
        start.append(increment0)
        step.append(max(0.1 * abs(increment0), 0.01 * scale))
    if m:
        start += [float(s) for s in seasonal[:-1]]
        step += [0.05 * (scale if model.season == "A" else 1.0)] * (m - 1)
    arrays = (y,)
    constants = layout.constants()
    budget = len(start) + 1 + MAX_EVALUATIONS
    if engine == "native":
        search = native_nelder_mead(
            "ets", start, step, arrays, constants, budget, TOLERANCE, restarts=0
        )
    else:
        search = nelder_mead(
            ets_objective(arrays, constants), start, step, budget, TOLERANCE, restarts=0
        )
    parameters = _parameter_count(model, period)
    n = y.size
    aicc = (
        search.value + 2.0 * parameters + 2.0 * parameters * (parameters + 1) / (n - parameters - 1)
    )
    return _Estimate(model, layout, search, aicc, parameters)


@dataclass(frozen=True)
class EtsFit:
    """The ETS model chosen by AICc, fitted; see the module's description.

    Attributes
    ----------
    params : dict of str to float
        The recursion's arguments: ``alpha``, ``beta``, ``gamma``, ``phi`` (as
        `ets_filter` takes them; 0 where the model has no such component), ``level0``,
        ``trend0`` and ``season0`` ... ``season{m-1}`` (y[0]'s phase first), and the
        search's ``damping`` (the trend's factor per step, phi * (1 + beta); 1 when
        undamped).
    at_bound : tuple of str
        The searched weights (``alpha``, ``beta``, ``gamma``, ``damping``) that ended
        within 1e-6 (relative, absolute near 0) of a bound.
    bounds : dict of str to (float, float)
        The search bounds of the weights, at the estimate (beta's depend on alpha,
        gamma's on alpha).
    fitted : ndarray
        One-step in-sample forecasts.
    residuals : ndarray
        ``y - fitted``.
    aicc : float
        The chosen model's AICc.
    notes : tuple of str
        The fallbacks taken.
    method : str
        The chosen model's name, such as ``"ETS(M,Ad,N)"``.
    model : EtsModel
        The chosen model class.
    loglik : float
        Minus twice the log-likelihood, as `ets_loglik` computes it.
    arguments : tuple
        The arguments of `ets_filter` after ``y`` for the fitted model.
    candidates : dict of str to float
        The AICc of every model compared (inf where its search found no admissible
        point).
    search : Minimum
        The chosen model's minimisation (in the search's coordinates).
    """

    params: dict[str, float]
    at_bound: tuple[str, ...]
    bounds: dict[str, tuple[float, float]]
    fitted: Array
    residuals: Array
    aicc: float
    notes: tuple[str, ...]
    method: str
    model: EtsModel
    loglik: float
    arguments: Arguments
    candidates: dict[str, float]
    search: Minimum
    _y: Array = field(repr=False)
    _point: _Point = field(repr=False)
    _parameters: int = field(repr=False)
    _final: tuple[float, float, Array] = field(repr=False)

    def forecast(self, h: int, level: float | Sequence[float] = (80, 95)) -> Forecast:
        """Point forecasts and prediction intervals for the h steps after the data.

        Parameters
        ----------
        h : int
            The number of steps, at least 1.
        level : float or sequence of float
            Interval levels in percent, each strictly between 0 and 100.

        Returns
        -------
        Forecast
            The recursion run on from its final states with zero errors, and the
            intervals described in the module's notes.

        Raises
        ------
        ValueError
            For an h or a level that is not allowed.
        """
        h = _checks.horizon(h)
        levels = _checks.levels(level)
        mean = _run_on(self._final, self.arguments, self._y.size, h)
        scale = self._scales(mean)
        n = self._y.size
        # Step k's errors come from the n - k origins that reach it.
        nu = np.maximum(n - np.arange(h) - self._parameters, 2).astype(np.float64)
        lower = np.empty((len(levels), h))
        upper = np.empty((len(levels), h))
        for i, value in enumerate(levels):
            width = student_quantile(value, nu) * scale
            lower[i] = mean - width
            upper[i] = mean + width
        return Forecast(mean, levels, lower, upper)

    def _scales(self, mean: Array) -> Array:
        """The standard deviation of each step's forecast error (see the module's notes)."""
        h = mean.size
        p = self._point
        n = self._y.size
        weights = np.ones(h)
        steps = np.arange(1, h)
        if h > 1:
            weights[1:] = p.alpha
            if self.model.trend != "N":
                f = p.factor
                sums = np.cumsum(f ** steps.astype(np.float64))
                weights[1:] += p.beta_t * sums
            if self.model.season != "N":
                period = self.arguments[7]
                weights[1:] += np.where(steps % period == 0, p.gamma, 0.0)
        errors = self.residuals
        if self.model.error == "M":
            errors = errors / np.abs(self.fitted)
        sigma = math.sqrt(float(errors @ errors) / n)
        usual = sigma * np.sqrt(np.cumsum(weights * weights))
        empirical = usual.copy()  # where no origin reaches the step
        for k in range(min(h, n)):
            # From origin t the k+1-step error is sum_j weights[j] * errors[t + k - j].
            total = np.convolve(errors, weights[: k + 1], mode="valid")
            empirical[k] = math.sqrt(float(total @ total) / total.size)
        scale = np.maximum(usual, empirical) * math.sqrt(n / max(n - self._parameters, 1))
        scale = np.maximum.accumulate(scale)  # a later step is never surer
        if self.model.error == "M":
            scale = scale * np.abs(mean)
        return scale


def _run_on(final: tuple[float, float, Array], arguments: Arguments, n: int, h: int) -> Array:
    """The recursion continued from its final states for h steps with every error zero.

    Each step is written with the operations of the recursion: the forecast from the
    level, trend and seasonal coefficient, then (the error being zero) the level moved to
    l + phi * b (through the same update, which keeps it exactly), the trend updated by
    its rule and the coefficient kept.
    """
    level, trend, seasonal = final
    s = seasonal.copy()
    alpha, beta, gamma, phi, period, error, trend_type, season = arguments[3:]
    j = n % period
    out = np.empty(h)
    with np.errstate(all="ignore"):
        for k in range(h):
            coefficient = 0.0
            if season in (1, 2):
                coefficient = float(s[j])
                if season == 2 and coefficient < _SEASONAL_FLOOR:
                    coefficient = _SEASONAL_FLOOR
                    s[j] = coefficient
            trended = level + phi * trend if trend_type in (1, 2) else level
            if season == 1:
                forecast = trended + coefficient
            elif season == 2:
                forecast = trended * coefficient
            else:
                forecast = trended
            out[k] = forecast
            error_value = forecast - forecast
            base = level + phi * trend
            if error:
                updated = base * (
                    alpha * float(np.float64(error_value) / (forecast + _EPSILON)) + 1.0
                )
            elif season == 2:
                updated = base + float(np.float64(alpha * error_value) / (coefficient + _EPSILON))
            else:
                updated = base + alpha * error_value
            if updated < -_LEVEL_BOUND:
                updated = -_LEVEL_BOUND
            if updated > _LEVEL_BOUND:
                updated = _LEVEL_BOUND
            if trend_type in (1, 2):
                trend = phi * trend + beta * (updated - level)
            if season == 1:
                s[j] = coefficient + gamma * error_value
            elif season == 2:
                if error:
                    ratio = float(np.float64(gamma * error_value) / (forecast + _EPSILON))
                    value = coefficient * (ratio + 1.0)
                else:
                    value = coefficient + float(np.float64(gamma * error_value) / (base + _EPSILON))
                s[j] = _SEASONAL_FLOOR if value < _SEASONAL_FLOOR else value
            level = updated
            j = j + 1 if j + 1 != period else 0
    return out


def fit(y: object, period: int = 1, *, model: str | None = None, engine: str = "native") -> EtsFit:
    """Fit the ETS model with the smallest AICc (or one given model).

    Parameters
    ----------
    y : array_like
        The series: a list, a pandas Series or any array of real numbers, without NaN or
        infinite values.
    period : int
        The season length (12 for monthly data, 4 for quarterly); 1 for none.
    model : str, optional
        Fit only this model, such as ``"ETS(M,Ad,N)"`` (it must be one of the candidates
        for the series); by default every candidate is fitted and the one with the
        smallest AICc is chosen.
    engine : {"native", "python"}
        Where the likelihood is maximised: by the native Nelder-Mead of `lumetra._fit`
        (the default) or by the same algorithm in Python; both give the same bits.

    Returns
    -------
    EtsFit

    Raises
    ------
    ValueError
        For a `y`, a `period`, a `model` or an `engine` that is not allowed (the message
        names it).
    """
    y = _checks.series(y)
    period = _checks.period(period)
    engine = check_engine(engine)
    models, notes = candidates(y, period)
    if model is not None:
        wanted = EtsModel.parse(model)
        if wanted not in models:
            names = ", ".join(m.name for m in models)
            raise ValueError(f"model {wanted.name} is not a candidate for this series ({names})")
        models = (wanted,)
    if not models:
        raise ValueError(f"y is too short for any ETS model ({y.size} values)")
    states = {season: _initial_states(y, season, period) for season in {m.season for m in models}}
    estimates = [_estimate(y, period, m, states[m.season], engine) for m in models]
    best = estimates[0]
    for estimate in estimates[1:]:
        if estimate.aicc < best.aicc:
            best = estimate
    return _result(y, period, best, estimates, notes)


def _result(
    y: Array, period: int, best: _Estimate, estimates: list[_Estimate], notes: tuple[str, ...]
) -> EtsFit:
    p = _point(best.search.x, best.layout)
    arguments = p.arguments(best.layout)
    fitted, errors, level, trend_state, seasonal = core.ets_filter(y, *arguments)
    params = {
        "alpha": p.alpha,
        "beta": p.beta,
        "gamma": p.gamma,
        "phi": p.phi,
        "damping": p.factor,
        "level0": p.level0,
        "trend0": p.trend0,
    }
    for k, value in enumerate(p.seasonal0):
        params[f"season{k}"] = float(value)
    bounds = {"alpha": ALPHA_BOUNDS}
    if best.model.trend != "N":
        bounds["beta"] = (p.alpha * SHARE_BOUNDS[0], p.alpha * SHARE_BOUNDS[1])
    if best.model.season != "N":
        bounds["gamma"] = ((1.0 - p.alpha) * SHARE_BOUNDS[0], (1.0 - p.alpha) * SHARE_BOUNDS[1])
    if best.model.trend == "Ad":
        bounds["damping"] = PHI_BOUNDS
    return EtsFit(
        params=params,
        at_bound=at_bounds(params, bounds),
        bounds=bounds,
        fitted=fitted,
        residuals=y - fitted,
        aicc=best.aicc,
        notes=notes,
        method=best.model.name,
        model=best.model,
        loglik=best.search.value,
        arguments=arguments,
        candidates={e.model.name: e.aicc for e in estimates},
        search=best.search,
        _y=y,
        _point=p,
        _parameters=best.parameters,
        _final=(level, trend_state, seasonal),
    )
