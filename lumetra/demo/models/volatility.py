"""GARCH, EGARCH and GJR-GARCH models of the monthly growth."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

import lumetra._core as core
from lumetra.models.optimize import bounded, nelder_mead

from . import Array
from .decomposition import Seasonal


@dataclass(frozen=True)
class Volatility:
    returns: Array  # monthly log growth of the seasonally adjusted series, in percent
    fits: list[tuple[str, dict[str, float], float, float]]  # name, parameters, NLL, AIC


def fit(seasonal: Seasonal) -> Volatility:
    r = 100.0 * np.diff(np.log(seasonal.adjusted))
    mean, var = float(np.mean(r)), float(np.var(r))

    def garch_point(u: Sequence[float]) -> dict[str, float]:
        persistence = bounded(u[2], 0.0, 0.999)
        alpha = persistence * bounded(u[3], 0.0, 1.0)
        return {
            "mu": u[0],
            "omega": math.exp(u[1]),
            "alpha": alpha,
            "beta": persistence - alpha,
            "ar1": bounded(u[4], -0.99, 0.99),
        }

    def garch(u: Sequence[float]) -> float:
        p = garch_point(u)
        return core.garch_filter(r, p["mu"], p["omega"], p["alpha"], p["beta"], var, True, p["ar1"])

    def egarch_point(u: Sequence[float]) -> dict[str, float]:
        return {
            "mu": u[0],
            "omega": u[1],
            "alpha": u[2],
            "beta": bounded(u[3], -0.999, 0.999),
            "gamma": u[4],
        }

    def egarch(u: Sequence[float]) -> float:
        p = egarch_point(u)
        return core.egarch_filter(
            r, p["mu"], p["omega"], p["alpha"], p["beta"], p["gamma"], math.log(var)
        )

    def gjr_point(u: Sequence[float]) -> dict[str, float]:
        persistence = bounded(u[2], 0.0, 0.999)
        shares = np.exp([u[3], u[4], 0.0])
        alpha, half_gamma, beta = (float(v) for v in persistence * shares / shares.sum())
        return {
            "mu": u[0],
            "omega": math.exp(u[1]),
            "alpha": alpha,
            "beta": beta,
            "gamma": 2.0 * half_gamma,
        }

    def gjr(u: Sequence[float]) -> float:
        p = gjr_point(u)
        return core.gjr_garch_filter(r, p["mu"], p["omega"], p["alpha"], p["beta"], p["gamma"], var)

    fits = []
    log_omega = math.log(0.1 * var)
    for name, objective, point, start in (
        ("garch_filter, AR(1) mean", garch, garch_point, [mean, log_omega, 2.0, -2.0, 0.0]),
        ("egarch_filter", egarch, egarch_point, [mean, 0.1 * math.log(var), 0.0, 1.5, 0.1]),
        ("gjr_garch_filter", gjr, gjr_point, [mean, log_omega, 2.0, -2.0, -2.0]),
    ):
        best = nelder_mead(objective, start)
        fits.append((name, point(best.x), best.value, 2.0 * best.value + 2.0 * len(start)))
    return Volatility(r, fits)
