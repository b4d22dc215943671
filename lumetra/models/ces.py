"""Complex exponential smoothing (Svetunkov, Kourentzes and Ord), fitted by least squares.

The series is followed by a level and an imaginary companion state, smoothed by one
complex parameter a = a0_real + i * a0_imag: with c = 1 - a0_real and the one-step error
e = y[t] - level,

    level' = a0_imag * p + (c * level + a0_real * y[t]),    p' = c * p + a0_imag * e,

which is `ces_nonseasonal_sse`'s recursion. The seasonal model (`ces_seasonal_sse`) adds
one additive seasonal state per phase, smoothed with gamma, and scores
y[t] - (level + season). The parameter is searched inside the region where the recursion
forgets its past: its discount matrix has the eigenvalues c +- i * a0_imag, so a lies in
the unit disk around 1 + 0i. The initial level is estimated with the parameters (a
pseudo-observation in front of the series holds it, since the kernels start from their
first value and never score it); the initial imaginary state is 0; the initial seasonal
states are estimated with the other parameters, starting from the zero-centred phase
means of the first (up to three) full periods around their centred moving average
(`mstl_moving_average`, `mstl_extract_seasonal`).

With a season asked for and two full periods of data, both models are fitted and the one
with the lower AICc is kept. CES gives no prediction intervals here.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field

import numpy as np
from numpy.typing import NDArray

import lumetra._core as core

from . import _checks
from ._common import at_bounds, check_engine, level_step, minimise
from ._forecast import Forecast, point
from ._season import SHORT_SERIES_NOTE
from .optimize import Minimum, bounded

__all__ = ["CesFit", "aicc", "fit", "parameter"]

Array = NDArray[np.float64]

BOUNDS = {"r": (0.0, 1.0), "phi": (0.0, math.pi), "gamma": (0.0, 1.0)}


def parameter(u: float, v: float) -> tuple[float, float]:
    """The smoothing parameter (a0_real, a0_imag) at the optimiser's point (u, v).

    r = bounded(u, 0, 1) and phi = bounded(v, 0, pi) are polar coordinates about
    1 + 0i: a0_real = 1 - r * cos(phi), a0_imag = r * sin(phi).
    """
    r = bounded(u, 0.0, 1.0)
    phi = bounded(v, 0.0, math.pi)
    return 1.0 - r * math.cos(phi), r * math.sin(phi)


def aicc(sse: float, n: int, k: int) -> float:
    """The corrected Akaike criterion of a least-squares fit with Gaussian errors.

    Parameters
    ----------
    sse : float
        The sum of squared one-step errors.
    n : int
        The number of errors.
    k : int
        The number of estimated parameters, the error variance included.

    Returns
    -------
    float
        n log(sse / n) + 2k + 2k(k + 1) / (n - k - 1); +inf when n <= k + 1.
    """
    if n <= k + 1:
        return math.inf
    return n * math.log(max(sse, 1e-300) / n) + 2.0 * k + 2.0 * k * (k + 1) / (n - k - 1)


@dataclass(frozen=True)
class CesFit:
    """A fitted complex exponential smoothing model; see the module's description.

    Attributes
    ----------
    params : dict of str to float
        ``a0_real``, ``a0_imag``, ``level0`` and, for the seasonal model, ``gamma``.
    at_bound : tuple of str
        Which of ``r`` (the distance of the parameter from 1 + 0i, bounded by 1),
        ``phi`` (its angle) and ``gamma`` ended within 1e-6 of a bound.
    bounds : dict of str to (float, float)
        The bounds of r, phi and gamma.
    fitted : ndarray
        One-step in-sample forecasts.
    residuals : ndarray
        ``y - fitted``.
    aicc : float
        The corrected Akaike criterion of the kept model.
    notes : tuple of str
        The fallbacks taken.
    method : str
        ``"CES(n)"`` or ``"CES(s)"``.
    search : Minimum
        The kept model's minimisation (in the optimiser's coordinates).
    season0 : ndarray
        The estimated initial seasonal states, one per phase, the phase of y[0] first
        (empty for the non-seasonal model).
    """

    params: dict[str, float]
    at_bound: tuple[str, ...]
    bounds: dict[str, tuple[float, float]]
    fitted: Array
    residuals: Array
    aicc: float | None
    notes: tuple[str, ...]
    method: str
    search: Minimum
    _states: tuple[float, float, int] = field(repr=False)  # level, p, phase after the data
    _season: Array = field(repr=False)  # seasonal states after the data (empty without)
    season0: Array = field(repr=False, default_factory=lambda: np.empty(0))

    def forecast(self, h: int, level: float | Sequence[float] = (80, 95)) -> Forecast:
        """Point forecasts for the h steps after the data: the recursion run on with
        every future error zero. CES gives no intervals: `lower` and `upper` have no rows.

        Parameters
        ----------
        h : int
            The number of steps, at least 1.
        level : float or sequence of float
            Checked as for every model, but no interval is made.

        Returns
        -------
        Forecast

        Raises
        ------
        ValueError
            For an h or a level that is not allowed.
        """
        h = _checks.horizon(h)
        _checks.levels(level)
        future = np.zeros(h)  # placeholders: each is replaced by the value that makes e = 0
        path, _, _ = recursion(future, self.params, self._states, self._season, predict=True)
        return point(path)


def recursion(
    y: Array,
    params: dict[str, float],
    states: tuple[float, float, int],
    season: Array,
    predict: bool = False,
) -> tuple[Array, tuple[float, float, int], Array]:
    """Run the CES recursion of the kernels over y from the given states.

    The operations are those of `ces_nonseasonal_sse` and `ces_seasonal_sse`, in their
    order, so the squared errors summed in order give the kernels' value bit for bit.

    Parameters
    ----------
    y : ndarray
        The observations after the states (ignored with `predict`).
    params : dict
        a0_real, a0_imag and, for a seasonal model, gamma.
    states : tuple
        (level, p, phase of the last observation absorbed).
    season : ndarray
        The seasonal states by phase; empty for the non-seasonal model.
    predict : bool
        Take each observation to be its own one-step forecast (every error zero).

    Returns
    -------
    tuple
        (the one-step forecasts, the final (level, p, phase), the final seasonal states).
    """
    a_r, a_i = params["a0_real"], params["a0_imag"]
    c = 1.0 - a_r
    level, p, phase = states
    out = np.empty(y.size)
    values = y.tolist()
    if season.size == 0:
        for t, value in enumerate(values):
            out[t] = level
            if predict:
                value = level
            e = value - level
            next_level = a_i * p + (c * level + a_r * value)
            p = c * p + a_i * e
            level = next_level
        return out, (level, p, phase), season
    gamma = params["gamma"]
    m = season.size
    s_states = season.tolist()
    for t, value in enumerate(values):
        phase += 1
        if phase == m:
            phase = 0
        s = s_states[phase]
        out[t] = level + s
        if predict:
            value = level + s
        e = value - (level + s)
        adjusted = value - s
        next_p = c * p + a_i * (adjusted - level)
        level = a_i * p + (c * level + a_r * adjusted)
        p = next_p
        s_states[phase] = s + gamma * e
    return out, (level, p, phase), np.array(s_states)


def nonseasonal_objective(
    arrays: Sequence[Array], constants: Sequence[float]
) -> Callable[[Sequence[float]], float]:
    """The Python form of the native objective ``"ces_n"`` (the reference for engine="python")."""
    work = arrays[0].copy()

    def objective(x: Sequence[float]) -> float:
        a_r, a_i = parameter(x[0], x[1])
        work[0] = x[2]
        return core.ces_nonseasonal_sse(work, a_r, a_i)

    return objective


def seasonal_states(x: Sequence[float], start: Array) -> Array:
    """The initial seasonal states at the optimiser's point x (see `seasonal_objective`):
    the starting states plus x[4:] (no move for the last phase), less their mean, summed in
    phase order as the native objective sums it."""
    m = start.size
    moved = [value + x[4 + j] if j + 1 < m else value for j, value in enumerate(start.tolist())]
    total = 0.0
    for value in moved:
        total += value
    mean = total / m
    return np.array([value - mean for value in moved])


def seasonal_objective(
    arrays: Sequence[Array], constants: Sequence[float]
) -> Callable[[Sequence[float]], float]:
    """The Python form of the native objective ``"ces_s"`` (the reference for engine="python").

    x = (u, v, w, level0, move_0, ..., move_{m-2}): the parameter from (u, v), gamma =
    bounded(w, 0, 1), the initial level and the moves of the initial seasonal states from
    the starting ones (`seasonal_states`).
    """
    work = arrays[0].copy()
    start = arrays[1]
    m = int(constants[0])

    def objective(x: Sequence[float]) -> float:
        a_r, a_i = parameter(x[0], x[1])
        gamma = bounded(x[2], 0.0, 1.0)
        season = seasonal_states(x, start)
        work[0] = x[3] + season[0]
        return core.ces_seasonal_sse(work, a_r, a_i, gamma, season, m)

    return objective


def initial_season(y: Array, period: int) -> Array:
    """The usual starting season: the zero-centred phase means of the first (up to three)
    full periods of y around their centred moving average, phase of y[0] first."""
    first = y[: min(3, y.size // period) * period]
    trend = core.mstl_moving_average(first, period)
    return core.mstl_extract_seasonal(first - trend, period)[:period]


def fit(y: object, period: int = 1, *, engine: str = "native") -> CesFit:
    """Fit complex exponential smoothing, seasonal or not by AICc.

    Parameters
    ----------
    y : array_like
        The series: a list, a pandas Series or any array of real numbers, without NaN or
        infinite values.
    period : int
        The season length; 1 for none. A seasonal model is tried when the series covers
        two full periods.
    engine : {"native", "python"}
        Where the parameters are searched: by the native Nelder-Mead of `lumetra._fit`
        (the default) or by the same algorithm in Python; both give the same bits.

    Returns
    -------
    CesFit

    Raises
    ------
    ValueError
        For a `y`, a `period` or an `engine` that is not allowed (the message names it).
    """
    y = _checks.series(y)
    period = _checks.period(period)
    engine = check_engine(engine)
    n = y.size
    notes: tuple[str, ...] = ()
    padded = np.concatenate(([0.0], y))
    step = level_step(y)
    candidates = []
    search = minimise(
        "ces_n",
        nonseasonal_objective,
        [0.0, 0.0, float(y[0])],
        [1.0, 1.0, step],
        (padded,),
        (),
        engine,
    )
    candidates.append(("CES(n)", search, aicc(search.value, n, 4), np.empty(0)))
    if period > 1 and n < 2 * period:
        notes = (SHORT_SERIES_NOTE,)
    elif period > 1:
        # by the kernel's phase (the pseudo-observation's first)
        start = np.roll(initial_season(y, period), 1)
        season_step = 0.3 * float(np.std(start)) or 0.5 * step
        search = minimise(
            "ces_s",
            seasonal_objective,
            [0.0, 0.0, 0.0, float(y[0] - start[1])] + [0.0] * (period - 1),
            [1.0, 1.0, 1.0, step] + [season_step] * (period - 1),
            (padded, start),
            (float(period),),
            engine,
        )
        candidates.append(
            ("CES(s)", search, aicc(search.value, n, 4 + period), seasonal_states(search.x, start))
        )
    method, search, criterion, season = min(candidates, key=lambda c: c[2])
    a_r, a_i = parameter(search.x[0], search.x[1])
    params = {"a0_real": a_r, "a0_imag": a_i, "level0": search.x[2 if season.size == 0 else 3]}
    position = {"r": bounded(search.x[0], 0.0, 1.0), "phi": bounded(search.x[1], 0.0, math.pi)}
    if season.size:
        params["gamma"] = position["gamma"] = bounded(search.x[2], 0.0, 1.0)
    bounds = {name: BOUNDS[name] for name in position}
    # The kernel's first level: the pseudo-observation less its season, with its rounding.
    level0 = (params["level0"] + season[0]) - season[0] if season.size else params["level0"]
    fitted, states, final_season = recursion(y, params, (level0, 0.0, 0), season)
    return CesFit(
        params=params,
        at_bound=at_bounds(position, bounds),
        bounds=bounds,
        fitted=fitted,
        residuals=y - fitted,
        aicc=criterion,
        notes=notes,
        method=method,
        search=search,
        _states=states,
        _season=final_season,
        season0=np.roll(season, -1),
    )
