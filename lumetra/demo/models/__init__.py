"""The models of the demonstration, one module per model family.

ETS, the theta method and the optimised theta model are fitted by the modelling layer
(`lumetra.models`); the other families are fitted here with lumetra._core's objectives
and filters and the layer's small optimisers. Each module's `fit` is a pure computation on
the series it is given, and its result's `describe` gives the report's lines about it; the
report times the steps and prints them. Forecasts run each model's own recursion on from
its final state with every future error set to zero. This module holds what the families
share.
"""

from __future__ import annotations

import math
from collections.abc import Mapping
from dataclasses import dataclass

import numpy as np
from numpy.typing import NDArray

Array = NDArray[np.float64]

PERIOD = 12  # months per season
HORIZON = 12  # months forecast: the year after the data
MONTH_NAMES = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")
# A parameter within this distance of a bound (relative; absolute near 0) sits at the bound,
# as in the modelling layer's `at_bound`.
AT_BOUND = 1e-6

Bounds = Mapping[str, tuple[float, float]]


@dataclass(frozen=True)
class Series:
    """What every description may refer to besides its own model's result."""

    months: list[str]  # the observed months, "YYYY-MM"
    y: Array
    ahead: list[str]  # the months forecast


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


def bound_side(value: float, low: float, high: float) -> str | None:
    """ "lower" or "upper" when `value` sits at that (finite) bound, else None."""
    for side, bound in (("lower", low), ("upper", high)):
        if math.isfinite(bound) and abs(value - bound) <= AT_BOUND * max(1.0, abs(bound)):
            return side
    return None


def bounds_line(values: Mapping[str, float], bounds: Bounds) -> str:
    """The search bounds of the estimated parameters, naming each that ended at one.

    For example "bounds: theta [1, 10] AT THE UPPER BOUND, alpha [0, 1]". An infinite
    bound is written as an inequality ("omega > 0").
    """
    parts = []
    for name, (low, high) in bounds.items():
        if math.isinf(high):
            text = f"{name} > {low:.4g}"
        elif math.isinf(low):
            text = f"{name} < {high:.4g}"
        else:
            text = f"{name} [{low:.4g}, {high:.4g}]"
        side = bound_side(values[name], low, high)
        parts.append(text if side is None else f"{text} AT THE {side.upper()} BOUND")
    return "bounds: " + ", ".join(parts)
