"""GARCH, EGARCH and GJR-GARCH models of the monthly growth."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

import lumetra._core as core
from lumetra.models.optimize import bounded, nelder_mead

from . import Array, Series, bounds_line
from .decomposition import Seasonal

# The largest persistence searched (alpha + beta, or alpha + gamma / 2 + beta for GJR).
PERSISTENCE = 0.999
AR1_BOUNDS = (-0.99, 0.99)
# What each model's search keeps its parameters within; the persistence is a sum of them.
GARCH_BOUNDS = {
    "omega": (0.0, math.inf),
    "alpha": (0.0, PERSISTENCE),
    "beta": (0.0, PERSISTENCE),
    "persistence": (0.0, PERSISTENCE),
    "ar1": AR1_BOUNDS,
}
EGARCH_BOUNDS = {"beta": (-PERSISTENCE, PERSISTENCE)}  # mu, omega, alpha, gamma unbounded
GJR_BOUNDS = {
    "omega": (0.0, math.inf),
    "alpha": (0.0, PERSISTENCE),
    "beta": (0.0, PERSISTENCE),
    "gamma": (0.0, 2.0 * PERSISTENCE),
    "persistence": (0.0, PERSISTENCE),
}


@dataclass(frozen=True)
class VolatilityFit:
    function: str  # the kernel scored
    params: dict[str, float]  # the kernel's arguments, and the persistence where bounded
    bounds: dict[str, tuple[float, float]]
    nll: float  # the kernel's negative log-likelihood
    aic: float


@dataclass(frozen=True)
class Volatility:
    returns: Array  # monthly log growth of the seasonally adjusted series, in percent
    fits: list[VolatilityFit]

    def describe(self, _: Series) -> list[str]:
        lines = [
            f"adjusted monthly log growth in percent: mean {np.mean(self.returns):+.2f}, "
            f"sd {np.std(self.returns):.2f}",
            "GARCH(1,1) family          NLL     AIC",
        ]
        for fit in self.fits:
            shown = " ".join(f"{key} {value:+.3f}" for key, value in fit.params.items())
            lines += [
                f"{fit.function:24} {fit.nll:7.2f} {fit.aic:7.1f}",
                f"  {shown}",
                f"  {bounds_line(fit.params, fit.bounds)}",
            ]
        return lines


def fit(seasonal: Seasonal) -> Volatility:
    r = 100.0 * np.diff(np.log(seasonal.adjusted))
    mean, var = float(np.mean(r)), float(np.var(r))

    def garch_point(u: Sequence[float]) -> dict[str, float]:
        persistence = bounded(u[2], 0.0, PERSISTENCE)
        alpha = persistence * bounded(u[3], 0.0, 1.0)
        return {
            "mu": u[0],
            "omega": math.exp(u[1]),
            "alpha": alpha,
            "beta": persistence - alpha,
            "ar1": bounded(u[4], *AR1_BOUNDS),
            "persistence": persistence,
        }

    def garch(u: Sequence[float]) -> float:
        p = garch_point(u)
        return core.garch_filter(r, p["mu"], p["omega"], p["alpha"], p["beta"], var, True, p["ar1"])

    def egarch_point(u: Sequence[float]) -> dict[str, float]:
        return {
            "mu": u[0],
            "omega": u[1],
            "alpha": u[2],
            "beta": bounded(u[3], *EGARCH_BOUNDS["beta"]),
            "gamma": u[4],
        }

    def egarch(u: Sequence[float]) -> float:
        p = egarch_point(u)
        return core.egarch_filter(
            r, p["mu"], p["omega"], p["alpha"], p["beta"], p["gamma"], math.log(var)
        )

    def gjr_point(u: Sequence[float]) -> dict[str, float]:
        persistence = bounded(u[2], 0.0, PERSISTENCE)
        shares = np.exp([u[3], u[4], 0.0])
        alpha, half_gamma, beta = (float(v) for v in persistence * shares / shares.sum())
        return {
            "mu": u[0],
            "omega": math.exp(u[1]),
            "alpha": alpha,
            "beta": beta,
            "gamma": 2.0 * half_gamma,
            "persistence": persistence,
        }

    def gjr(u: Sequence[float]) -> float:
        p = gjr_point(u)
        return core.gjr_garch_filter(r, p["mu"], p["omega"], p["alpha"], p["beta"], p["gamma"], var)

    fits = []
    log_omega = math.log(0.1 * var)
    for name, objective, point, bounds, start in (
        (
            "garch_filter, AR(1) mean",
            garch,
            garch_point,
            GARCH_BOUNDS,
            [mean, log_omega, 2.0, -2.0, 0.0],
        ),
        (
            "egarch_filter",
            egarch,
            egarch_point,
            EGARCH_BOUNDS,
            [mean, 0.1 * math.log(var), 0.0, 1.5, 0.1],
        ),
        ("gjr_garch_filter", gjr, gjr_point, GJR_BOUNDS, [mean, log_omega, 2.0, -2.0, -2.0]),
    ):
        best = nelder_mead(objective, start)
        aic = 2.0 * best.value + 2.0 * len(start)
        fits.append(VolatilityFit(name, point(best.x), bounds, best.value, aic))
    return Volatility(r, fits)
