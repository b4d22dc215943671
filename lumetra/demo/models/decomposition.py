"""Seasonal structure: four-theta seasonal indices and an MSTL-style log decomposition."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

import lumetra._core as core

from . import MONTH_NAMES, PERIOD, Array, Series


@dataclass(frozen=True)
class Seasonal:
    indices: Array  # multiplicative index of each month (four-theta decomposition)
    multiplicative: bool  # the mode four_theta_deseasonalize chose
    adjusted: Array  # the series divided by its months' indices
    log_trend: Array  # 12-month centred moving average of the log series
    log_seasonal: Array  # zero-centred monthly pattern of the detrended log series
    explained: float  # share of the detrended log variance the pattern explains

    def describe(self, _: Series) -> list[str]:
        mode = "multiplicative" if self.multiplicative else "additive"
        pattern = np.exp(self.log_seasonal[:PERIOD]) - 1.0
        peak, trough = int(np.argmax(pattern)), int(np.argmin(pattern))
        return [
            f"four_theta_deseasonalize chose {mode} seasonal indices (period {PERIOD}):",
            "  " + " ".join(f"{name:>5}" for name in MONTH_NAMES),
            "  " + " ".join(f"{v:5.3f}" for v in self.indices),
            "mstl_moving_average (window 12) and mstl_extract_seasonal on the log scale:",
            f"  the monthly pattern explains {self.explained:.1%} of the detrended variance;",
            f"  peak {MONTH_NAMES[peak]} {pattern[peak]:+.1%}, trough {MONTH_NAMES[trough]} "
            f"{pattern[trough]:+.1%}",
        ]


def fit(y: Array) -> Seasonal:
    indices, multiplicative, adjusted = core.four_theta_deseasonalize(y, PERIOD)
    z = np.log(y)
    log_trend = core.mstl_moving_average(z, PERIOD)
    detrended = z - log_trend
    log_seasonal = core.mstl_extract_seasonal(detrended, PERIOD)
    explained = 1.0 - float(np.var(detrended - log_seasonal) / np.var(detrended))
    return Seasonal(indices, multiplicative, adjusted, log_trend, log_seasonal, explained)
