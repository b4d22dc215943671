"""The optimised theta model of Fiorucci et al. (2016), fitted by the DOT recursion.

The model forecasts the seasonally adjusted series x (adjusted as in
`lumetra.models.theta`) by a weighted combination of two theta lines: the theta-0 line
L (the least-squares line through x against t = 1..n) with weight 1 - 1/theta, and the
simple exponential smoothing of the theta line Z = theta * x + (1 - theta) * L with
weight 1/theta. theta = 2 is the standard theta method; theta, the smoothing weight
alpha and the initial level are estimated by least squares on the one-step errors.

How the published model maps onto `dot_objective`, which always averages its trend
line and its smoothed theta line with weights 1/2: with the kernel's theta at 2, and its
line set to w * L with w = 2 - 2/theta, the kernel's theta line is
2x - w * L = (2/theta) * Z and its forecast
(w * L + (2/theta) * level(Z)) / 2 = (1 - 1/theta) * L + (1/theta) * level(Z),
which is the model's, for every t. The kernel seeds its level with the theta line's
first value and never scores it; so a pseudo-observation is put in front of the series
and its value is the free initial level (the one-step forecast of x[0] is that value
plus (1 - 1/theta) times the line's slope). The kernel's drift is not used (0).

The kernel's line is fixed for the whole series, so the intercept and slope are those of
the whole sample at every t: this is the model's static form. The dynamic form, which
re-estimates the line from the observations up to t at every step, is not what the
kernel computes. The forecasts of both use the line of the whole sample.
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
from .optimize import Minimum, bounded, unbounded
from .theta import trend_line

__all__ = ["ALPHA_BOUNDS", "DotmFit", "THETA_BOUNDS", "fit"]

Array = NDArray[np.float64]

THETA_BOUNDS = (1.0, 10.0)
ALPHA_BOUNDS = (0.0, 1.0)


@dataclass(frozen=True)
class DotmFit:
    """A fitted optimised theta model; see the module's description.

    Attributes
    ----------
    params : dict of str to float
        ``theta``, ``alpha``, ``level0`` (the initial level: the one-step forecast of
        the first adjusted value is level0 + (1 - 1/theta) * slope), ``intercept`` and
        ``slope`` of the theta-0 line (its value at t = 1..n is intercept + slope * t).
    at_bound : tuple of str
        The estimated parameters that ended within 1e-6 of a bound of the search.
    bounds : dict of str to (float, float)
        The search bounds of theta and alpha.
    fitted : ndarray
        One-step in-sample forecasts of y.
    residuals : ndarray
        ``y - fitted``.
    aicc : None
        Not reported: the model is fitted by least squares.
    notes : tuple of str
        The fallbacks taken.
    method : str
        ``"DOTM"``.
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
    _level: float = field(repr=False)  # the kernel's level after the last observation
    _errors: DriftErrors = field(repr=False)

    def forecast(self, h: int, level: float | Sequence[float] = (80, 95)) -> Forecast:
        """Point forecasts and prediction intervals for the h steps after the data.

        The point forecasts continue the DOT recursion with every future error zero.

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
        path = run_on(self._level, *kernel_line(self.params), self.params["alpha"], n, h)
        return self._adjustment.forecast(drift_intervals(path, self._errors, levels), n)


def kernel_line(params: dict[str, float]) -> tuple[float, float]:
    """The kernel's intercept and slope: the theta-0 line times w = 2 - 2/theta."""
    w = 2.0 - 2.0 / params["theta"]
    return w * params["intercept"], w * params["slope"]


def run_on(level: float, intercept: float, slope: float, alpha: float, n: int, h: int) -> Array:
    """The DOT recursion (kernel theta 2, drift 0) run past the n observations with every
    error zero: each forecast is the value that makes the kernel's error exactly 0, and
    the level absorbs the theta line of that value, with the kernel's operations."""
    out = np.empty(h)
    keep = 1.0 - alpha
    for k in range(h):
        i = float(n + 1 + k)  # index in the kernel's series, behind the pseudo-observation
        trend = intercept + slope * i
        c = 0.0 * i + (level + trend)
        value = 0.5 * c
        out[k] = value
        level = keep * level + alpha * ((1.0 - 2.0) * trend + 2.0 * value)
    return out


def dotm_objective(
    arrays: Sequence[Array], constants: Sequence[float]
) -> Callable[[Sequence[float]], float]:
    """The Python form of the native objective ``"dotm"`` (the reference for engine="python").

    Parameters
    ----------
    arrays : sequence of ndarray
        One array: the series behind a placeholder for the initial level.
    constants : sequence of float
        intercept and slope of the theta-0 line, the bounds of theta, the bounds of alpha.

    Returns
    -------
    callable
        x = (u, v, level0) -> ``dot_objective`` of the series behind level0 with
        theta = bounded(u, ...), alpha = bounded(v, ...), the kernel's line w times the
        theta-0 line (w = 2 - 2/theta), kernel theta 2 and drift 0.
    """
    work = arrays[0].copy()
    intercept, slope, theta_lo, theta_hi, alpha_lo, alpha_hi = constants

    def objective(x: Sequence[float]) -> float:
        theta = bounded(x[0], theta_lo, theta_hi)
        alpha = bounded(x[1], alpha_lo, alpha_hi)
        w = 2.0 - 2.0 / theta
        work[0] = x[2]
        return core.dot_objective(work, w * intercept, w * slope, 2.0, alpha, 0.0)

    return objective


def fit(y: object, period: int = 1, *, engine: str = "native") -> DotmFit:
    """Fit the optimised theta model.

    Parameters
    ----------
    y : array_like
        The series: a list, a pandas Series or any array of real numbers, without NaN or
        infinite values.
    period : int
        The season length (12 for monthly data, 4 for quarterly); 1 for none.
    engine : {"native", "python"}
        Where theta, alpha and the initial level are searched: by the native Nelder-Mead
        of `lumetra._fit` (the default) or by the same algorithm in Python; both give
        the same bits.

    Returns
    -------
    DotmFit

    Raises
    ------
    ValueError
        For a `y`, a `period` or an `engine` that is not allowed (the message names it).
    """
    y = _checks.series(y)
    period = _checks.period(period)
    engine = check_engine(engine)
    adjustment = _season.adjust(y, period)
    x = adjustment.adjusted
    intercept, slope = trend_line(x)
    arrays = (np.concatenate(([0.0], x)),)
    constants = (intercept, slope, *THETA_BOUNDS, *ALPHA_BOUNDS)
    start = [unbounded(2.0, *THETA_BOUNDS), 0.0, float(x[0])]
    search = minimise(
        "dotm", dotm_objective, start, [1.0, 1.0, level_step(x)], arrays, constants, engine
    )
    theta = bounded(search.x[0], *THETA_BOUNDS)
    alpha = bounded(search.x[1], *ALPHA_BOUNDS)
    level0 = search.x[2]
    params = {
        "theta": theta,
        "alpha": alpha,
        "level0": level0,
        "intercept": intercept,
        "slope": slope,
    }
    series = arrays[0].copy()
    series[0] = level0
    a, b = kernel_line(params)
    errors, last_level = core.dot_residuals(series, a, b, 2.0, alpha, 0.0)
    fitted_x = x - errors
    fitted = adjustment.reseasonalise(fitted_x, 0)
    bounds = {"theta": THETA_BOUNDS, "alpha": ALPHA_BOUNDS}
    return DotmFit(
        params=params,
        at_bound=at_bounds(params, bounds),
        bounds=bounds,
        fitted=fitted,
        residuals=y - fitted,
        aicc=None,
        notes=adjustment.notes,
        method="DOTM",
        seasonal=adjustment.indices is not None,
        search=search,
        _adjustment=adjustment,
        _level=last_level,
        _errors=DriftErrors(
            x, fitted_x, alpha, (1.0 - 1.0 / theta) * slope, 5 + adjustment.parameters
        ),
    )
