"""The theta method as run in the M3 competition (Assimakopoulos and Nikolopoulos, 2000).

The series is seasonally adjusted when a season is asked for and the 90% autocorrelation
test at lag `period` finds one (classical multiplicative decomposition by
`four_theta_deseasonalize`). The adjusted series x is split into two theta lines: the
theta-0 line L, the least-squares straight line through x against t = 1..n, and the
theta-2 line Z = 2x - L, which doubles the local curvature. Z is extrapolated by simple
exponential smoothing, its weight alpha and initial level estimated by least squares on
the one-step errors (`ses_sse`), and L by itself. The forecast is the mean of the two
lines' forecasts, ``(L(n + h) + level_n) / 2``: simple exponential smoothing of x with a
drift of half the line's slope (Hyndman and Billah, 2003). The fitted values and the
forecasts are put together by `four_theta_fitted` and the season is put back.

Prediction intervals are those of simple exponential smoothing with drift, with the
standard deviation of each step's error estimated from the series' own multi-step errors
(see `lumetra.models._intervals`, shared with `lumetra.models.dotm`).
"""

from __future__ import annotations

from collections.abc import Callable, Sequence
from dataclasses import dataclass, field

import numpy as np
from numpy.typing import NDArray

import lumetra._core as core

from . import _checks, _season
from ._common import at_bounds, check_engine, level_step, minimise
from ._forecast import Forecast
from ._intervals import DriftErrors, drift_intervals
from .optimize import Minimum, bounded

__all__ = ["ALPHA_BOUNDS", "ThetaFit", "fit", "trend_line"]

Array = NDArray[np.float64]

# The smoothing weight of the theta-2 line is searched in this open interval.
ALPHA_BOUNDS = (0.0, 1.0)


def trend_line(x: Array) -> tuple[float, float]:
    """The least-squares straight line through x against t = 1..n.

    Parameters
    ----------
    x : ndarray
        A series of at least one value.

    Returns
    -------
    tuple of float
        (intercept, slope): the line's value at t is ``intercept + slope * t``. A single
        value gives a flat line through it.
    """
    n = x.size
    t = np.arange(1.0, n + 1.0)
    centred = t - (n + 1.0) / 2.0
    spread = float(centred @ centred)
    slope = float(centred @ x) / spread if spread > 0.0 else 0.0
    return float(np.mean(x)) - slope * (n + 1.0) / 2.0, slope


@dataclass(frozen=True)
class ThetaFit:
    """A fitted theta method; see the module's description.

    Attributes
    ----------
    params : dict of str to float
        ``alpha`` (smoothing weight of the theta-2 line), ``level0`` (its level before the
        first observation), ``intercept`` and ``slope`` of the theta-0 line (its value at
        t = 1..n is intercept + slope * t), all of the adjusted series.
    at_bound : tuple of str
        The estimated parameters that ended within 1e-6 of a bound of the search.
    bounds : dict of str to (float, float)
        The search bounds of the estimated parameters.
    fitted : ndarray
        One-step in-sample forecasts of y.
    residuals : ndarray
        ``y - fitted``.
    aicc : None
        The method is not a likelihood model.
    notes : tuple of str
        The fallbacks taken (a series shorter than two periods is fitted without season).
    method : str
        ``"Theta"``.
    seasonal : bool
        Whether the series was seasonally adjusted.
    search : Minimum
        The minimisation's result (in the optimiser's coordinates).
    """

    params: dict[str, float]
    at_bound: tuple[str, ...]
    bounds: dict[str, tuple[float, float]]
    fitted: Array
    residuals: Array
    aicc: float | None
    notes: tuple[str, ...]
    method: str
    seasonal: bool
    search: Minimum
    _adjustment: _season.Adjustment = field(repr=False)
    _levels: Array = field(repr=False)  # the level before each observation, then the last
    _errors: DriftErrors = field(repr=False)

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

        Raises
        ------
        ValueError
            For an h or a level that is not allowed.
        """
        h = _checks.horizon(h)
        levels = _checks.levels(level)
        n = self.fitted.size
        path = _combine(self.params, self._levels, n + h)[n:]
        return self._adjustment.forecast(drift_intervals(path, self._errors, levels), n)


def _combine(params: dict[str, float], levels: Array, length: int) -> Array:
    """Mean of the theta-0 line and the smoothed theta-2 line at times 0..length-1."""
    n = levels.size - 1
    slope = params["slope"]
    return core.four_theta_fitted(
        length,
        np.array([2.0]),
        np.array([params["intercept"] + slope]),  # the line at index 0, that is t = 1
        np.array([slope]),
        np.array([1.0]),
        levels[:n],
        np.array([n], dtype=np.int64),
        levels[n:],
    )


def ses_objective(
    arrays: Sequence[Array], constants: Sequence[float]
) -> Callable[[Sequence[float]], float]:
    """The Python form of the native objective ``"ses"`` (the reference for engine="python").

    Parameters
    ----------
    arrays : sequence of ndarray
        One array: the series to smooth behind a placeholder for the initial level.
    constants : sequence of float
        The bounds of alpha.

    Returns
    -------
    callable
        x = (u, level0) -> ``ses_sse`` of the series behind level0 with
        alpha = bounded(u, *constants).
    """
    work = arrays[0].copy()
    lo, hi = constants

    def objective(x: Sequence[float]) -> float:
        work[0] = x[1]
        return core.ses_sse(work, bounded(x[0], lo, hi))

    return objective


def fit(y: object, period: int = 1, *, engine: str = "native") -> ThetaFit:
    """Fit the theta method.

    Parameters
    ----------
    y : array_like
        The series: a list, a pandas Series or any array of real numbers, without NaN or
        infinite values.
    period : int
        The season length (12 for monthly data, 4 for quarterly); 1 for none.
    engine : {"native", "python"}
        Where the smoothing weight and the initial level are searched: by the native
        Nelder-Mead of `lumetra._fit` (the default) or by the same algorithm in Python;
        both give the same bits.

    Returns
    -------
    ThetaFit

    Raises
    ------
    ValueError
        For a `y`, a `period` or an `engine` that is not allowed (the message names it).

    Examples
    --------
    >>> from lumetra.models import theta
    >>> result = theta.fit([float(v) for v in range(1, 21)])
    >>> [round(float(v), 6) for v in result.forecast(3).mean]
    [21.0, 22.0, 23.0]
    """
    y = _checks.series(y)
    period = _checks.period(period)
    engine = check_engine(engine)
    adjustment = _season.adjust(y, period)
    x = adjustment.adjusted
    n = x.size
    intercept, slope = trend_line(x)
    line = intercept + slope * np.arange(1.0, n + 1.0)
    z = 2.0 * x - line
    arrays = (np.concatenate(([0.0], z)),)
    search = minimise(
        "ses", ses_objective, [0.0, float(z[0])], [1.0, level_step(z)], arrays, ALPHA_BOUNDS, engine
    )
    alpha = bounded(search.x[0], *ALPHA_BOUNDS)
    level0 = search.x[1]
    series = arrays[0].copy()
    series[0] = level0
    levels = core.ses_filter(series, alpha)
    params = {"alpha": alpha, "level0": level0, "intercept": intercept, "slope": slope}
    fitted_x = _combine(params, levels, n)
    fitted = adjustment.reseasonalise(fitted_x, 0)
    bounds = {"alpha": ALPHA_BOUNDS}
    return ThetaFit(
        params=params,
        at_bound=at_bounds(params, bounds),
        bounds=bounds,
        fitted=fitted,
        residuals=y - fitted,
        aicc=None,
        notes=adjustment.notes,
        method="Theta",
        seasonal=adjustment.indices is not None,
        search=search,
        _adjustment=adjustment,
        _levels=levels,
        _errors=DriftErrors(x, fitted_x, alpha, 0.5 * slope, 4 + adjustment.parameters),
    )
