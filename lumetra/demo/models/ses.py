"""Simple exponential smoothing of the seasonally adjusted series."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

import lumetra._core as core
from lumetra.models.optimize import Minimum, golden_section

from . import HORIZON, Array, one_step_levels, reseasonalise
from .decomposition import Seasonal


@dataclass(frozen=True)
class Ses:
    alpha: float
    search: Minimum
    fitted: Array  # one-step forecasts of the series (reseasonalised)
    forecast: Array


def fit(y: Array, seasonal: Seasonal) -> Ses:
    """SES of the seasonally adjusted series; the weight minimises ses_sse."""
    adjusted = seasonal.adjusted
    search = golden_section(lambda a: core.ses_sse(adjusted, a), 0.0, 1.0)
    alpha = search.x[0]
    levels = core.ses_filter(adjusted, alpha)
    fitted = reseasonalise(one_step_levels(levels, adjusted[0]), seasonal.indices, 0)
    fitted[0] = np.nan  # the first observation only seeds the level
    forecast = reseasonalise(np.full(HORIZON, levels[-1]), seasonal.indices, y.size)
    return Ses(alpha, search, fitted, forecast)
