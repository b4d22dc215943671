"""Simple exponential smoothing of the seasonally adjusted series."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

import lumetra._core as core
from lumetra.models.optimize import Minimum, golden_section

from . import HORIZON, Array, Series, bounds_line, mape, one_step_levels, reseasonalise
from .decomposition import Seasonal

ALPHA_BOUNDS = (0.0, 1.0)  # the interval of the golden-section search


@dataclass(frozen=True)
class Ses:
    alpha: float
    search: Minimum
    fitted: Array  # one-step forecasts of the series (reseasonalised)
    forecast: Array

    def describe(self, series: Series) -> list[str]:
        return [
            "golden-section search on ses_sse of the seasonally adjusted series:",
            f"  alpha = {self.alpha:.4f} ({self.search.evaluations} evaluations); levels by "
            "ses_filter",
            f"  {bounds_line({'alpha': self.alpha}, {'alpha': ALPHA_BOUNDS})}",
            f"one-step MAPE {mape(series.y, self.fitted):.2f}%, forecast {series.ahead[0]}: "
            f"{self.forecast[0]:.1f}",
        ]


def fit(y: Array, seasonal: Seasonal) -> Ses:
    """SES of the seasonally adjusted series; the weight minimises ses_sse."""
    adjusted = seasonal.adjusted
    search = golden_section(lambda a: core.ses_sse(adjusted, a), *ALPHA_BOUNDS)
    alpha = search.x[0]
    levels = core.ses_filter(adjusted, alpha)
    fitted = reseasonalise(one_step_levels(levels, adjusted[0]), seasonal.indices, 0)
    fitted[0] = np.nan  # the first observation only seeds the level
    forecast = reseasonalise(np.full(HORIZON, levels[-1]), seasonal.indices, y.size)
    return Ses(alpha, search, fitted, forecast)
