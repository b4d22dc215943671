"""Seasonal structure: four-theta seasonal indices and an MSTL-style log decomposition."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

import lumetra._core as core

from . import PERIOD, Array


@dataclass(frozen=True)
class Seasonal:
    indices: Array  # multiplicative index of each month (four-theta decomposition)
    multiplicative: bool  # the mode four_theta_deseasonalize chose
    adjusted: Array  # the series divided by its months' indices
    log_trend: Array  # 12-month centred moving average of the log series
    log_seasonal: Array  # zero-centred monthly pattern of the detrended log series
    explained: float  # share of the detrended log variance the pattern explains


def fit(y: Array) -> Seasonal:
    indices, multiplicative, adjusted = core.four_theta_deseasonalize(y, PERIOD)
    z = np.log(y)
    log_trend = core.mstl_moving_average(z, PERIOD)
    detrended = z - log_trend
    log_seasonal = core.mstl_extract_seasonal(detrended, PERIOD)
    explained = 1.0 - float(np.var(detrended - log_seasonal) / np.var(detrended))
    return Seasonal(indices, multiplicative, adjusted, log_trend, log_seasonal, explained)
