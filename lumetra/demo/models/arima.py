"""ARIMA models scored by conditional sums of squares."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

import lumetra._core as core
from lumetra.models.optimize import nelder_mead

from . import PERIOD, Array
from .decomposition import Seasonal


@dataclass(frozen=True)
class Arima:
    airline: tuple[float, float]  # MA(1) and seasonal MA(1) of the twice differenced logs
    airline_sigma: float
    # (p, d, q), coefficients, AIC and residual sd of each non-seasonal order
    orders: list[tuple[tuple[int, int, int], tuple[float, ...], float, float]]
    growth_arma: tuple[float, float]  # ARMA(1,1) of the annual log growth
    growth_sigma: float


def fit(y: Array, seasonal: Seasonal) -> Arima:
    z = np.log(y)
    # The airline model: (1 - B)(1 - B^12) log y is MA(1) plus seasonal MA(1).
    w = np.diff(z[PERIOD:] - z[:-PERIOD])
    none = np.empty(0)

    def airline(u: Sequence[float]) -> float:
        ma, sma = math.tanh(u[0]) * 0.99, math.tanh(u[1]) * 0.99
        return core.seasonal_css_objective(w, none, np.array([ma]), none, np.array([sma]), PERIOD)

    fit = nelder_mead(airline, [0.0, 0.0])
    theta1, theta12 = (math.tanh(u) * 0.99 for u in fit.x)
    airline_sigma = math.sqrt(fit.value / (w.size - PERIOD))

    # Non-seasonal ARIMA(p, 1, q) of the seasonally adjusted logs, scored by CSS.
    log_adjusted = np.log(seasonal.adjusted)
    orders = []
    for p, q in ((1, 0), (0, 1), (1, 1)):

        def css(u: Sequence[float], p: int = p) -> float:
            coefs = np.tanh(np.asarray(u, dtype=np.float64)) * 0.99
            return core.arima_css(log_adjusted, coefs[:p], coefs[p:], 1)

        best = nelder_mead(css, [0.0] * (p + q))
        coefs = tuple(math.tanh(u) * 0.99 for u in best.x)
        r = log_adjusted.size - 1 - max(p, q)
        orders.append(
            ((p, 1, q), coefs, best.value + 2.0 * (p + q), math.exp(best.value / r / 2.0))
        )

    # Annual growth log y[t] - log y[t - 12] as ARMA(1, 1), by the plain CSS objective.
    growth = z[PERIOD:] - z[:-PERIOD]
    growth = growth - np.mean(growth)

    def arma(u: Sequence[float]) -> float:
        return core.css_objective(growth, np.array([math.tanh(u[0])]), np.array([math.tanh(u[1])]))

    best = nelder_mead(arma, [0.0, 0.0])
    return Arima(
        (theta1, theta12),
        airline_sigma,
        orders,
        (math.tanh(best.x[0]), math.tanh(best.x[1])),
        math.sqrt(best.value / (growth.size - 1)),
    )
