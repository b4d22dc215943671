"""Seasonal adjustment as the theta models use it.

A series is adjusted only when a season is asked for (period > 1), the series covers at
least two full periods and its autocorrelation at lag `period` passes the usual 90%
test; the adjustment is then the classical decomposition of `four_theta_deseasonalize`
(multiplicative for positive series, additive otherwise).
"""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np
from numpy.typing import NDArray

import lumetra._core as core

from ._forecast import Forecast

Array = NDArray[np.float64]

# The one-sided 90% point of the standard normal distribution, as in the M3 theta method.
SEASONALITY_Z = 1.645

SHORT_SERIES_NOTE = "series shorter than two periods: fitted without season"
ADDITIVE_NOTE = "series not positive throughout: additive seasonal decomposition"


def is_seasonal(y: Array, period: int) -> bool:
    """The 90% autocorrelation test for a season of length `period`.

    The autocorrelation r_m at lag m = `period` is significant when
    |r_m| > 1.645 * sqrt((1 + 2 * (r_1^2 + ... + r_{m-1}^2)) / n), Bartlett's standard
    error of r_m for a series whose autocorrelations vanish beyond lag m - 1.

    Parameters
    ----------
    y : ndarray
        The series, with more than `period` values.
    period : int
        The season length, at least 2.

    Returns
    -------
    bool
        Whether the test finds a season; False for a constant series.
    """
    n = y.size
    d = y - np.mean(y)
    total = float(d @ d)
    if not total > 0.0:
        return False
    if period >= n:
        return False
    # Autocovariances at lags 1..period, all from one correlation.
    r = np.correlate(d, d, mode="full")[n : n + period] / total
    limit = SEASONALITY_Z * math.sqrt((1.0 + 2.0 * float(r[:-1] @ r[:-1])) / n)
    return abs(float(r[-1])) > limit


@dataclass(frozen=True)
class Adjustment:
    """A series' seasonal adjustment, or its absence.

    Attributes
    ----------
    adjusted : ndarray
        The seasonally adjusted series (the series itself when there is no season).
    indices : ndarray or None
        One seasonal index per phase, phase 0 being that of y[0]; None without a season.
    multiplicative : bool
        Whether the indices are ratios (else differences).
    notes : tuple of str
        The fallbacks taken.
    """

    adjusted: Array
    indices: Array | None
    multiplicative: bool
    notes: tuple[str, ...]

    @property
    def parameters(self) -> int:
        """The number of seasonal indices estimated (they are normalised: period - 1)."""
        return 0 if self.indices is None else self.indices.size - 1

    def reseasonalise(self, path: Array, start: int) -> Array:
        """Put the season back into an adjusted path (or rows of paths) whose first value
        is at time `start`."""
        if self.indices is None:
            return path
        season = self.indices[(start + np.arange(path.shape[-1])) % self.indices.size]
        result: Array = path * season if self.multiplicative else path + season
        return result

    def forecast(self, adjusted: Forecast, start: int) -> Forecast:
        """A forecast of the adjusted series with the season put back into its paths (an
        index is positive, so the bounds keep their order)."""
        if self.indices is None:
            return adjusted
        return Forecast(
            self.reseasonalise(adjusted.mean, start),
            adjusted.levels,
            self.reseasonalise(adjusted.lower, start),
            self.reseasonalise(adjusted.upper, start),
        )


def adjust(y: Array, period: int, test: bool = True) -> Adjustment:
    """The seasonal adjustment of y, when a season is asked for and found.

    Parameters
    ----------
    y : ndarray
        The series.
    period : int
        The season length; 1 means none.
    test : bool
        Whether to adjust only when `is_seasonal` finds a season (else always, given two
        full periods).

    Returns
    -------
    Adjustment
    """
    if period == 1:
        return Adjustment(y, None, True, ())
    if y.size < 2 * period:
        return Adjustment(y, None, True, (SHORT_SERIES_NOTE,))
    if test and not is_seasonal(y, period):
        return Adjustment(y, None, True, ())
    indices, multiplicative, adjusted = core.four_theta_deseasonalize(y, period)
    notes = () if multiplicative else (ADDITIVE_NOTE,)
    return Adjustment(adjusted, indices, multiplicative, notes)
