"""The result of every model's `forecast`, and the ways its intervals are made.

A forecast is a point path and, for each requested level, a lower and an upper path.
Models make their intervals with one of the helpers here: `gaussian` from the standard
deviation of each step's forecast error, `from_paths` from simulated (or otherwise
sampled) future paths, `point` when a model gives none.
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from statistics import NormalDist

import numpy as np
from numpy.typing import NDArray

__all__ = ["Forecast", "from_paths", "gaussian", "normal_quantile", "point"]

Array = NDArray[np.float64]


@dataclass(frozen=True)
class Forecast:
    """Point forecasts and prediction intervals for the steps 1..h after the data.

    Attributes
    ----------
    mean : ndarray, shape (h,)
        The point forecasts.
    levels : tuple of float
        The interval levels in percent, in the order asked for; empty when the model
        gives no intervals.
    lower, upper : ndarray, shape (len(levels), h)
        Row i holds the bounds of the interval at ``levels[i]``. Every row satisfies
        ``lower[i] <= mean <= upper[i]``, and a higher level gives a wider interval.

    The arrays are read-only.
    """

    mean: Array
    levels: tuple[float, ...]
    lower: Array
    upper: Array

    def __post_init__(self) -> None:
        h = self.mean.shape[0]
        expected = (len(self.levels), h)
        if self.mean.shape != (h,) or self.lower.shape != expected or self.upper.shape != expected:
            raise ValueError(
                f"a forecast of {h} steps at {len(self.levels)} levels needs bounds of shape "
                f"{expected}, got {self.lower.shape} and {self.upper.shape}"
            )
        for array in (self.mean, self.lower, self.upper):
            array.flags.writeable = False

    @property
    def h(self) -> int:
        """The number of steps forecast."""
        return int(self.mean.shape[0])

    def interval(self, level: float) -> tuple[Array, Array]:
        """The lower and upper bounds at one of `levels`.

        Raises
        ------
        KeyError
            When the forecast has no interval at that level.
        """
        for i, known in enumerate(self.levels):
            if known == level:
                return self.lower[i], self.upper[i]
        raise KeyError(f"no interval at level {level}; the levels are {self.levels}")


def normal_quantile(level: float) -> float:
    """The upper quantile of the standard normal distribution for a central interval.

    Parameters
    ----------
    level : float
        The interval's level in percent, in (0, 100).

    Returns
    -------
    float
        z such that a standard normal variable lies in [-z, z] with probability
        level / 100 (1.959963984540054 for 95).
    """
    return NormalDist().inv_cdf(0.5 + level / 200.0)


def point(mean: Array) -> Forecast:
    """A forecast without intervals."""
    h = mean.shape[0]
    return Forecast(mean.copy(), (), np.empty((0, h)), np.empty((0, h)))


def gaussian(mean: Array, scale: Array, levels: Sequence[float]) -> Forecast:
    """Intervals ``mean -+ z * scale`` of a normally distributed forecast error.

    Parameters
    ----------
    mean : ndarray, shape (h,)
        The point forecasts.
    scale : ndarray, shape (h,)
        The standard deviation of each step's forecast error (non-negative).
    levels : sequence of float
        The levels in percent, each in (0, 100).

    Returns
    -------
    Forecast
    """
    z = np.array([normal_quantile(level) for level in levels], dtype=np.float64)
    width = z[:, None] * scale[None, :]
    return Forecast(mean.copy(), tuple(levels), mean[None, :] - width, mean[None, :] + width)


def from_paths(mean: Array, paths: Array, levels: Sequence[float]) -> Forecast:
    """Intervals from the quantiles of sampled future paths.

    Parameters
    ----------
    mean : ndarray, shape (h,)
        The point forecasts.
    paths : ndarray, shape (k, h)
        k sampled paths of the future, one per row.
    levels : sequence of float
        The levels in percent, each in (0, 100).

    Returns
    -------
    Forecast
        For each level the central interval of the paths at each step (linear
        interpolation between order statistics), widened where needed to hold the
        point forecast.
    """
    h = mean.shape[0]
    lower = np.empty((len(levels), h))
    upper = np.empty((len(levels), h))
    for i, level in enumerate(levels):
        tail = (1.0 - level / 100.0) / 2.0
        lower[i] = np.minimum(np.quantile(paths, tail, axis=0), mean)
        upper[i] = np.maximum(np.quantile(paths, 1.0 - tail, axis=0), mean)
    return Forecast(mean.copy(), tuple(levels), lower, upper)
