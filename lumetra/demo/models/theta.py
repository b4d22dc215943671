"""The theta family: classic theta lines, DOT and the hybrid theta score."""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

import lumetra._core as core
from lumetra.models.optimize import Minimum, bounded, golden_section, nelder_mead, unbounded

from . import HORIZON, Array, one_step_levels, reseasonalise
from .decomposition import Seasonal

HYBRID_THETAS = (1.0, 1.5, 2.0, 3.0)


@dataclass(frozen=True)
class Theta:
    intercept: float  # the straight theta-0 line a + b * t of the adjusted series
    slope: float
    alpha: float  # SES weight of the theta-2 line
    fitted: Array  # classic theta: mean of the theta-0 line and the smoothed theta-2 line
    forecast: Array
    dot_theta: float  # DOT: theta, smoothing weight and drift minimising dot_objective
    dot_alpha: float
    dot_drift: float
    dot_search: Minimum
    dot_fitted: Array
    dot_forecast: Array
    hybrid: list[tuple[float, float]]  # theta and mean absolute error of the hybrid model


def fit(seasonal: Seasonal) -> Theta:
    adjusted = seasonal.adjusted
    n = adjusted.size
    line0 = core.theta_decompose(adjusted, 0.0)
    line2 = core.theta_decompose(adjusted, 2.0)
    # theta_decompose's line is first + (t + 1) / n * (last - first).
    slope = float(adjusted[-1] - adjusted[0]) / n
    intercept = float(adjusted[0]) + slope

    # Classic theta: SES on the theta-2 line, averaged with the theta-0 line, fitted and
    # extrapolated in one four_theta_fitted call (beyond the data the last level holds).
    alpha = golden_section(lambda a: core.ses_sse(line2, a), 0.0, 1.0).x[0]
    levels = core.ses_filter(line2, alpha)
    combined = core.four_theta_fitted(
        n + HORIZON,
        np.array([2.0]),
        np.array([intercept]),
        np.array([slope]),
        np.array([1.0]),
        one_step_levels(levels, line2[0]),
        np.array([n], dtype=np.int64),
        levels[-1:],
    )
    fitted = reseasonalise(combined[:n], seasonal.indices, 0)
    forecast = reseasonalise(combined[n:], seasonal.indices, n)

    # DOT: theta, smoothing weight and drift by Nelder-Mead on dot_objective.
    def dot_point(u: Sequence[float]) -> tuple[float, float, float]:
        return bounded(u[0], 1.0, 5.0), bounded(u[1], 1e-3, 0.999), u[2]

    def dot(u: Sequence[float]) -> float:
        return core.dot_objective(adjusted, intercept, slope, *dot_point(u))

    dot_search = nelder_mead(dot, [unbounded(2.0, 1.0, 5.0), 0.0, 0.0], step=[1.0, 1.0, 0.5])
    dot_theta, dot_alpha, dot_drift = dot_point(dot_search.x)
    residuals, last_level = core.dot_residuals(
        adjusted, intercept, slope, dot_theta, dot_alpha, dot_drift
    )
    dot_fitted = np.concatenate(([np.nan], adjusted[1:] - residuals))
    t = np.arange(n, n + HORIZON, dtype=np.float64)
    dot_path = 0.5 * (dot_drift * t + (last_level + (intercept + slope * t)))

    # The hybrid model mixes the series with the straight line geometrically.
    hybrid = [(th, core.dot_hybrid_objective(adjusted, line0, th, False)) for th in HYBRID_THETAS]
    return Theta(
        intercept,
        slope,
        alpha,
        fitted,
        forecast,
        dot_theta,
        dot_alpha,
        dot_drift,
        dot_search,
        reseasonalise(dot_fitted, seasonal.indices, 0),
        reseasonalise(dot_path, seasonal.indices, n),
        hybrid,
    )
