"""Trigonometric (TBATS-style) and complex exponential smoothing of the log series."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

import lumetra._core as core
from lumetra.models.optimize import bounded, nelder_mead

from . import PERIOD, Array, Series, bounds_line
from .decomposition import Seasonal

TBATS_BOUNDS = {"alpha": (1e-3, 0.999), "beta": (1e-4, 0.5), "phi": (0.8, 1.0)}
CES_BOUNDS = {"gamma": (0.0, 1.0)}  # a0 is searched without bounds


@dataclass(frozen=True)
class OtherSmoothing:
    harmonics: int
    tbats: dict[str, float]  # alpha, beta, phi
    tbats_rmse: float  # one-step RMSE on the log scale
    ces: dict[str, float]  # a0_real, a0_imag, gamma
    ces_rmse: float
    ces_plain: dict[str, float]  # complex smoothing of the seasonally adjusted log series
    ces_plain_rmse: float

    def describe(self, _: Series) -> list[str]:
        t, c, plain = self.tbats, self.ces, self.ces_plain
        return [
            f"tbats_filter, log scale, {self.harmonics} harmonics from zero, damped trend:",
            f"  alpha = {t['alpha']:.3f}, beta = {t['beta']:.4f}, phi = {t['phi']:.3f}; "
            f"one-step RMSE {self.tbats_rmse:.4f}",
            f"  {bounds_line(t, TBATS_BOUNDS)}",
            f"ces_seasonal_sse, log scale: a0 = {c['a0_real']:.3f} + {c['a0_imag']:.3f}i, "
            f"gamma = {c['gamma']:.3f}; RMSE {self.ces_rmse:.4f}",
            f"  {bounds_line(c, CES_BOUNDS)}; a0 unbounded",
            f"ces_nonseasonal_sse, adjusted log series: a0 = {plain['a0_real']:.3f} + "
            f"{plain['a0_imag']:.3f}i (unbounded); RMSE {self.ces_plain_rmse:.4f}",
        ]


def fit(y: Array, seasonal: Seasonal) -> OtherSmoothing:
    z = np.log(y)
    n = z.size
    harmonics = 4
    frequencies = 2.0 * math.pi * np.arange(1, harmonics + 1) / PERIOD

    def tbats_point(u: Sequence[float]) -> dict[str, float]:
        return {name: bounded(v, *TBATS_BOUNDS[name]) for name, v in zip(TBATS_BOUNDS, u)}

    def tbats(u: Sequence[float]) -> float:
        p = tbats_point(u)
        return core.tbats_filter(
            z, p["alpha"], p["beta"], p["phi"], True, True, frequencies, harmonics
        )

    tbats_search = nelder_mead(tbats, [0.0, -2.0, 1.0])

    seasonal_init = seasonal.log_seasonal[:PERIOD].copy()

    def ces(u: Sequence[float]) -> float:
        gamma = bounded(u[2], *CES_BOUNDS["gamma"])
        return core.ces_seasonal_sse(z, u[0], u[1], gamma, seasonal_init, PERIOD)

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
        {"a0_real": a_r, "a0_imag": a_i, "gamma": bounded(g, *CES_BOUNDS["gamma"])},
        math.sqrt(ces_search.value / (n - 1)),
        {"a0_real": plain.x[0], "a0_imag": plain.x[1]},
        math.sqrt(plain.value / (n - 1)),
    )
