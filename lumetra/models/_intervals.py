"""Prediction intervals of the theta family (simple exponential smoothing with drift)."""

from __future__ import annotations

from collections.abc import Sequence

import numpy as np
from numpy.typing import NDArray

from ._forecast import Forecast, gaussian

Array = NDArray[np.float64]


def theta_errors(x: Array, fitted: Array, alpha: float) -> Array:
    """What the interval scales are made from: (sigma, alpha)."""
    e = x - fitted
    return np.array([float(np.sqrt(e @ e / e.size)), alpha])


def theta_scales(errors: Array, h: int) -> Array:
    """The standard deviation of the error at steps 1..h: sigma * sqrt(1 + (k - 1) alpha^2)."""
    sigma, alpha = errors
    result: Array = sigma * np.sqrt(1.0 + np.arange(h) * alpha * alpha)
    return result


def with_season(mean: Array, scale: Array, levels: Sequence[float]) -> Forecast:
    return gaussian(mean, scale, levels)
