"""The models of the demonstration, one module per model family.

Every model is fitted with lumetra._core's objectives and filters alone. Each module's
`fit` is a pure computation on the series it is given; the report times the steps and
prints them. Forecasts run each model's own recursion on from its final state with every
future error set to zero. This module holds what the families share.
"""

from __future__ import annotations

import numpy as np
from numpy.typing import NDArray

Array = NDArray[np.float64]

PERIOD = 12  # months per season
HORIZON = 12  # months forecast: the year after the data
MONTH_NAMES = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")


def mape(actual: Array, fitted: Array) -> float:
    """Mean absolute percentage error over the positions where `fitted` is finite."""
    mask = np.isfinite(fitted)
    return float(np.mean(np.abs(actual[mask] - fitted[mask]) / np.abs(actual[mask])) * 100.0)


def reseasonalise(adjusted: Array, indices: Array, start: int) -> Array:
    """Multiply a seasonally adjusted path starting at time `start` by its months' indices."""
    phases = (start + np.arange(adjusted.size)) % indices.size
    result: Array = adjusted * indices[phases]
    return result


def one_step_levels(levels: Array, first: float) -> Array:
    """Levels known before each observation: `first`, then the level after each previous one."""
    return np.concatenate(([first], levels[:-1]))
