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
first value and never score it); the initial imaginary state is 0.

The seasonal model is estimated in two steps. The smoothing parameters and the initial
level are searched with the initial seasonal states fixed at the usual starting season:
the zero-centred phase means of the first (up to three) full periods around their centred
moving average (`mstl_moving_average`, `mstl_extract_seasonal`). For those parameters the
errors are an affine function of the initial states, so their sum of squares is a
quadratic whose minimum is found exactly (`lumetra._fit.ces_initial_states`): the initial
level and seasonal states move there, the seasonal states keeping their sum, when that
lowers the sum of squares. Searching the parameters with the season fixed keeps them from
trading the first period's errors against a season fitted to it, and leaves the search
four coordinates instead of period + 3.

With a season asked for and two full periods of data, both models are fitted and the one
with the lower AICc is kept (the seasonal model counts its period - 1 free initial
seasonal states; it is not fitted when its AICc cannot be finite). CES gives no
prediction intervals here.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field

import numpy as np
from numpy.typing import NDArray

import lumetra._core as core
import lumetra._fit as _fit

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
        The kept model's minimisation, in the optimiser's coordinates: (u, v, level0) for
        the non-seasonal model, (u, v, w, level0) for the seasonal one, whose level0 and
        value are those after the least-squares step on the initial states (the
        evaluations are those of the search).
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
    _engine: str = field(repr=False, default="native")

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
        path, _, _ = run(future, self.params, self._states, self._season, True, self._engine)
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


def run(
    y: Array,
    params: dict[str, float],
    states: tuple[float, float, int],
    season: Array,
    predict: bool,
    engine: str,
) -> tuple[Array, tuple[float, float, int], Array]:
    """`recursion` run by the engine: natively by `lumetra._fit.ces_filter`, with the same
    bits, or by `recursion` itself for engine="python"."""
    if engine == "python":
        return recursion(y, params, states, season, predict)
    forecasts = np.empty(y.size)
    final_season = season.copy()
    level, p, phase = states
    after = _fit.ces_filter(
        forecasts if predict else y,  # with predict the observations are not read
        forecasts,
        final_season,
        params["a0_real"],
        params["a0_imag"],
        params.get("gamma", 0.0),
        level,
        p,
        phase,
        predict,
    )
    return forecasts, after, final_season


def seasonal_objective(
    arrays: Sequence[Array], constants: Sequence[float]
) -> Callable[[Sequence[float]], float]:
    """The Python form of the native objective ``"ces_s"`` (the reference for engine="python").

    x = (u, v, w, level0): the parameter from (u, v), gamma = bounded(w, 0, 1) and the
    initial level; the initial seasonal states are arrays[1], by the kernel's phase.
    """
    work = arrays[0].copy()
    season = arrays[1]
    m = int(constants[0])

    def objective(x: Sequence[float]) -> float:
        a_r, a_i = parameter(x[0], x[1])
        gamma = bounded(x[2], 0.0, 1.0)
        work[0] = x[3] + season[0]
        return core.ces_seasonal_sse(work, a_r, a_i, gamma, season, m)

    return objective


def _dot(a: list[float], b: list[float]) -> float:
    total = 0.0  # in index order (the built-in sum of floats compensates)
    for u, v in zip(a, b, strict=True):
        total += u * v
    return total


def least_squares_states(
    y: Array, params: dict[str, float], level: float, season: Array
) -> tuple[float, Array] | None:
    """The Python form of `lumetra._fit.ces_initial_states` (the reference for
    engine="python"), operation for operation.

    For fixed parameters the seasonal recursion's errors over y, started at phase 0 from
    (level, 0, season), are affine in the initial states. The moves d minimise their sum
    of squares: the level moves by d[0], the seasonal state of phase j < m - 1 by d[j + 1]
    and the last one by minus the sum of those, so the seasonal states keep their sum. The
    columns of the design are the errors of the recursion run over zeros from each unit
    move; the normal equations are solved by an LDL' factorisation.

    Parameters
    ----------
    y : ndarray
        The observations after the pseudo-observation.
    params : dict
        a0_real, a0_imag and gamma.
    level : float
        The initial level (the kernel's, after the pseudo-observation).
    season : ndarray
        The initial seasonal states by the kernel's phase (m of them, m >= 1).

    Returns
    -------
    tuple or None
        (the moved level, the moved seasonal states), or None when a pivot falls below
        1e-10 of its diagonal element (the errors cannot tell a move from the others) or
        a moved state is not finite.
    """
    n, m = y.size, season.size
    zeros = np.zeros(n)

    def errors(values: Array, start: float, states: Array) -> list[float]:
        forecasts, _, _ = recursion(values, params, (start, 0.0, 0), states)
        result: list[float] = (values - forecasts).tolist()
        return result

    base = errors(y, level, season)
    columns = []
    for i in range(m):
        states = np.zeros(m)
        if i > 0:
            states[i - 1], states[m - 1] = 1.0, -1.0
        columns.append(errors(zeros, 1.0 if i == 0 else 0.0, states))
    lower = [[0.0] * m for _ in range(m)]
    diagonal = [0.0] * m
    for j in range(m):
        norm = _dot(columns[j], columns[j])
        pivot = norm
        for k in range(j):
            pivot = pivot - (lower[j][k] * lower[j][k]) * diagonal[k]
        if not pivot > 1e-10 * norm:
            return None
        diagonal[j] = pivot
        for i in range(j + 1, m):
            value = _dot(columns[i], columns[j])
            for k in range(j):
                value = value - (lower[i][k] * lower[j][k]) * diagonal[k]
            lower[i][j] = value / pivot
    moves = [0.0] * m
    for i in range(m):  # L z = -r
        value = -_dot(columns[i], base)
        for k in range(i):
            value = value - lower[i][k] * moves[k]
        moves[i] = value
    for i in range(m):
        moves[i] = moves[i] / diagonal[i]
    for i in range(m - 1, -1, -1):  # L' d = D^-1 z, from the last move back
        value = moves[i]
        for k in range(i + 1, m):
            value = value - lower[k][i] * moves[k]
        moves[i] = value
    moved_level = level + moves[0]
    start = season.tolist()
    moved_states = []
    total = 0.0
    for j in range(m - 1):
        moved_states.append(start[j] + moves[j + 1])
        total = total + moves[j + 1]
    moved_states.append(start[m - 1] - total)
    if not all(math.isfinite(value) for value in [moved_level, *moved_states]):
        return None
    return moved_level, np.array(moved_states)


def refine(
    y: Array, search: Minimum, season: Array, period: int, engine: str
) -> tuple[Minimum, Array]:
    """The seasonal search's result with the initial states moved to their least-squares
    values for its parameters, when that lowers the kernel's sum of squares; else as
    it was."""
    a_r, a_i = parameter(search.x[0], search.x[1])
    params = {"a0_real": a_r, "a0_imag": a_i, "gamma": bounded(search.x[2], 0.0, 1.0)}
    level = (search.x[3] + season[0]) - season[0]  # the kernel's, after the pseudo-observation
    if engine == "python":
        moved = least_squares_states(y, params, level, season)
    else:
        found = _fit.ces_initial_states(y, season, a_r, a_i, params["gamma"], level)
        moved = None if found is None else (found[0], np.array(found[1]))
    if moved is None:
        return search, season
    level0, states = moved
    work = np.concatenate(([level0 + states[0]], y))
    value = core.ces_seasonal_sse(work, a_r, a_i, params["gamma"], states, period)
    if not value < search.value:
        return search, season
    return Minimum((*search.x[:3], level0), value, search.evaluations), states


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
        Where the parameters are searched, the initial states solved for and the
        recursion run: in `lumetra._fit` (the default) or by the same operations in
        Python; both give the same bits.

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
    elif period > 1 and math.isfinite(aicc(1.0, n, 4 + period)):
        start = initial_season(y, period)
        season = np.concatenate((start[-1:], start[:-1]))  # by the kernel's phase
        search = minimise(
            "ces_s",
            seasonal_objective,
            [0.0, 0.0, 0.0, float(y[0] - season[1])],
            [1.0, 1.0, 1.0, step],
            (padded, season),
            (float(period),),
            engine,
        )
        search, season = refine(y, search, season, period, engine)
        candidates.append(("CES(s)", search, aicc(search.value, n, 4 + period), season))
    method, search, criterion, season = min(candidates, key=lambda c: c[2])
    a_r, a_i = parameter(search.x[0], search.x[1])
    params = {"a0_real": a_r, "a0_imag": a_i, "level0": search.x[2 if season.size == 0 else 3]}
    position = {"r": bounded(search.x[0], 0.0, 1.0), "phi": bounded(search.x[1], 0.0, math.pi)}
    if season.size:
        params["gamma"] = position["gamma"] = bounded(search.x[2], 0.0, 1.0)
    bounds = {name: BOUNDS[name] for name in position}
    # The kernel's first level: the pseudo-observation less its season, with its rounding.
    level0 = (params["level0"] + season[0]) - season[0] if season.size else params["level0"]
    fitted, states, final_season = run(y, params, (level0, 0.0, 0), season, False, engine)
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
        season0=np.concatenate((season[1:], season[:1])),  # the phase of y[0] first
        _engine=engine,
    )
