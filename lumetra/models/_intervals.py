"""Prediction intervals of the theta family (simple exponential smoothing with drift).

The usual intervals of simple exponential smoothing with drift, sigma * sqrt(1 + (k - 1)
alpha^2) at step k with sigma the one-step error's standard deviation, are too narrow on
real data: they take the model and its estimated parameters as true. Here each step's
scale is calibrated on the series' own training data, never on what follows it:

- the in-sample k-step errors: from every origin t in the data, the model's k-step
  forecast (its one-step forecast from t plus k - 1 steps of drift) against the value
  observed k steps later; their root mean square is the step's empirical scale, and the
  scale is the larger of it and the usual formula (the formula alone where fewer than
  five origins reach the step, scaled to the last step with enough);
- the scale is widened by sqrt(n / (n - p)) for the p parameters estimated from the n
  values (theta, the smoothing weight, the initial level, the line's two coefficients
  and the seasonal indices), the usual correction of a variance estimated from
  residuals;
- the quantile is Student's t with as many degrees of freedom as that step's errors
  less p (at least 2), not the normal one.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass
from functools import cache

import numpy as np
from numpy.typing import NDArray

from ._forecast import Forecast, normal_quantile

Array = NDArray[np.float64]

# Steps reached from fewer origins than this take the usual formula's shape.
MIN_ORIGINS = 5


@dataclass(frozen=True)
class DriftErrors:
    """What the intervals of a model of simple exponential smoothing with drift are made of.

    Attributes
    ----------
    x : ndarray
        The (seasonally adjusted) series.
    fitted : ndarray
        The model's one-step forecasts of x.
    alpha : float
        The smoothing weight.
    drift : float
        The forecasts' change per step.
    parameters : int
        The number of parameters estimated from x.
    """

    x: Array
    fitted: Array
    alpha: float
    drift: float
    parameters: int


def student_quantile(level: float, nu: Array) -> Array:
    """The upper quantile of Student's t for a central interval.

    Parameters
    ----------
    level : float
        The interval's level in percent.
    nu : ndarray
        Degrees of freedom, whole numbers of at least 1.

    Returns
    -------
    ndarray
        t such that Student's t with nu degrees of freedom lies in [-t, t] with
        probability level / 100 (Hill's algorithm 396, within 1e-6 relative).
    """
    return np.array([_student(level, int(v)) for v in nu.tolist()], dtype=np.float64)


@cache
def _student(level: float, n: int) -> float:
    """Hill (1970), algorithm 396: Student's t quantile for the two-tailed probability
    p = 1 - level / 100 with n degrees of freedom; exact for n = 1 and n = 2."""
    p = 1.0 - level / 100.0
    if n == 1:
        return 1.0 / math.tan(p * math.pi / 2.0)
    if n == 2:
        return math.sqrt(2.0 / (p * (2.0 - p)) - 2.0)
    a = 1.0 / (n - 0.5)
    b = 48.0 / (a * a)
    c = ((20700.0 * a / b - 98.0) * a - 16.0) * a + 96.36
    d = ((94.5 / (b + c) - 3.0) / b + 1.0) * math.sqrt(a * math.pi / 2.0) * n
    x = d * p
    y = x ** (2.0 / n)
    if y > 0.05 + a:  # the asymptotic expansion around the normal quantile
        x = -normal_quantile(level)
        y = x * x
        if n < 5:
            c = c + 0.3 * (n - 4.5) * (x + 0.6)
        c = (((0.05 * d * x - 5.0) * x - 7.0) * x - 2.0) * x + b + c
        y = (((((0.4 * y + 6.3) * y + 36.0) * y + 94.5) / c - y - 3.0) / b + 1.0) * x
        y = math.expm1(a * y * y)
    else:
        y = (
            (1.0 / (((n + 6.0) / (n * y) - 0.089 * d - 0.822) * (n + 2.0) * 3.0) + 0.5 / (n + 4.0))
            * y
            - 1.0
        ) * (n + 1.0) / (n + 2.0) + 1.0 / y
    return math.sqrt(n * y)


def drift_intervals(mean: Array, errors: DriftErrors, levels: Sequence[float]) -> Forecast:
    """Intervals around `mean` (the steps 1..h after the data) as the module describes.

    Parameters
    ----------
    mean : ndarray
        The point forecasts of x.
    errors : DriftErrors
        The model's in-sample one-step forecasts and parameters.
    levels : sequence of float
        The levels in percent.

    Returns
    -------
    Forecast
    """
    h = mean.size
    x, fitted = errors.x, errors.fitted
    n = x.size
    steps = np.arange(h, dtype=np.float64)
    # The usual formula.
    residual = x - fitted
    sigma = math.sqrt(float(residual @ residual) / n)
    usual = sigma * np.sqrt(1.0 + steps * (errors.alpha * errors.alpha))
    # The k-step errors from every origin: origin i forecasts x[i + k - 1] by fitted[i]
    # plus k - 1 steps of drift (k = 1..h down the rows, whose long side is the origins;
    # NaN past the data).
    padded = np.concatenate((x, np.full(h - 1, np.nan)))
    # Row k - 1 is padded[k - 1 : k - 1 + n], as overlapping views of one buffer (never written).
    ahead = np.ndarray((h, n), np.float64, buffer=padded, strides=(8, 8))
    error = ahead - fitted[None, :]
    error -= (errors.drift * steps)[:, None]
    squares = error * error
    squares[np.isnan(squares)] = 0.0
    counts = np.maximum(n - np.arange(h), 0)
    empirical = np.sqrt(squares.sum(axis=1) / np.maximum(counts, 1))
    enough = counts >= MIN_ORIGINS
    if enough.any():
        last = int(np.flatnonzero(enough)[-1])
        shape = usual / usual[last] if usual[last] > 0.0 else np.ones(h)
        empirical = np.where(enough, empirical, empirical[last] * shape)
    else:
        empirical = usual
    p = errors.parameters
    scale = np.maximum(empirical, usual) * np.sqrt(n / max(n - p, 1))
    nu = np.maximum(counts - p, 2).astype(np.float64)
    lower = np.empty((len(levels), h))
    upper = np.empty((len(levels), h))
    for i, level in enumerate(levels):
        width = student_quantile(level, nu) * scale
        lower[i] = mean - width
        upper[i] = mean + width
    return Forecast(mean.copy(), tuple(levels), lower, upper)
