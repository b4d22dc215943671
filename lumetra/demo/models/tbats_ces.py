"""Trigonometric (TBATS-style) and complex exponential smoothing of the log series."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

import lumetra._core as core
from lumetra.models.optimize import bounded, nelder_mead

from . import PERIOD, Array
from .decomposition import Seasonal


@dataclass(frozen=True)
class OtherSmoothing:
    harmonics: int
    tbats: tuple[float, float, float]  # alpha, beta, phi
    tbats_rmse: float  # one-step RMSE on the log scale
    ces: tuple[float, float, float]  # a0_real, a0_imag, gamma
    ces_rmse: float
    ces_plain: tuple[float, float]  # complex smoothing of the seasonally adjusted log series
    ces_plain_rmse: float


def fit(y: Array, seasonal: Seasonal) -> OtherSmoothing:
    z = np.log(y)
    n = z.size
    harmonics = 4
    frequencies = 2.0 * math.pi * np.arange(1, harmonics + 1) / PERIOD

    def tbats_point(u: Sequence[float]) -> tuple[float, float, float]:
        return bounded(u[0], 1e-3, 0.999), bounded(u[1], 1e-4, 0.5), bounded(u[2], 0.8, 1.0)

    def tbats(u: Sequence[float]) -> float:
        alpha, beta, phi = tbats_point(u)
        return core.tbats_filter(z, alpha, beta, phi, True, True, frequencies, harmonics)

    tbats_search = nelder_mead(tbats, [0.0, -2.0, 1.0])

    seasonal_init = seasonal.log_seasonal[:PERIOD].copy()

    def ces(u: Sequence[float]) -> float:
        return core.ces_seasonal_sse(z, u[0], u[1], bounded(u[2], 0.0, 1.0), seasonal_init, PERIOD)

    ces_search = nelder_mead(ces, [1.3, 1.0, -2.0], step=0.2)
    log_adjusted = np.log(seasonal.adjusted)
    plain = nelder_mead(
        lambda u: core.ces_nonseasonal_sse(log_adjusted, u[0], u[1]), [1.3, 1.0], 0.2
    )
    a_r, a_i, g = ces_search.x
    return OtherSmoothing(
        harmonics,
        tbats_point(tbats_search.x),
        math.sqrt(tbats_search.value / (n - 1)),
        (a_r, a_i, bounded(g, 0.0, 1.0)),
        math.sqrt(ces_search.value / (n - 1)),
        (plain.x[0], plain.x[1]),
        math.sqrt(plain.value / (n - 1)),
    )
