"""ARIMA models scored by conditional sums of squares."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

import lumetra._core as core
from lumetra.models.optimize import nelder_mead

from . import PERIOD, Array, Series, bound_side, bounds_line
from .decomposition import Seasonal

# The coefficients are searched through tanh, within these bounds: the airline model's and
# the ARIMA orders' within 0.99 of the unit circle, the growth ARMA's within it.
LIMIT = 0.99
ARIMA_BOUNDS = (-LIMIT, LIMIT)
GROWTH_BOUNDS = (-1.0, 1.0)


@dataclass(frozen=True)
class Order:
    p: int
    d: int
    q: int
    coefficients: dict[str, float]  # ar1..arp, then ma1..maq
    aic: float
    sigma: float  # residual sd

    @property
    def name(self) -> str:
        return f"ARIMA({self.p},{self.d},{self.q})"


@dataclass(frozen=True)
class Arima:
    airline: dict[str, float]  # MA(1) and seasonal MA(1) of the twice differenced logs
    airline_sigma: float
    orders: list[Order]  # non-seasonal orders of the seasonally adjusted logs
    growth_arma: dict[str, float]  # ARMA(1,1) of the annual log growth
    growth_sigma: float

    def describe(self, _: Series) -> list[str]:
        a, g = self.airline, self.growth_arma
        lines = [
            "seasonal_css_objective, (0,1,1)(0,1,1)12 of log passengers with the two MA terms",
            "  added (no lag-13 product term, unlike the multiplicative airline model); fitted only:",
            f"  ma1 = {a['ma1']:+.3f}, sma1 (seasonal MA, lag 12) = {a['sma1']:+.3f}, residual sd "
            f"{self.airline_sigma:.4f}",
            f"  {bounds_line(a, dict.fromkeys(a, ARIMA_BOUNDS))}",
            "arima_css of the adjusted log series (AR and MA coefficients by lag):",
        ]
        for order in self.orders:
            shown = ", ".join(f"{name} {c:+.3f}" for name, c in order.coefficients.items())
            lines.append(
                f"  {order.name}: {shown:22} AIC {order.aic:7.1f}, residual sd {order.sigma:.4f}"
            )
        at = [
            f"{order.name} {name}"
            for order in self.orders
            for name, value in order.coefficients.items()
            if bound_side(value, *ARIMA_BOUNDS) is not None
        ]
        lines.append(
            f"  bounds: every coefficient within [{-LIMIT:g}, {LIMIT:g}]; at a bound: "
            + (", ".join(at) if at else "none")
        )
        return lines + [
            "css_objective, annual log growth as ARMA(1,1):",
            f"  ar1 = {g['ar1']:+.3f}, ma1 = {g['ma1']:+.3f}, residual sd {self.growth_sigma:.4f}",
            f"  {bounds_line(g, dict.fromkeys(g, GROWTH_BOUNDS))}",
        ]


def fit(y: Array, seasonal: Seasonal) -> Arima:
    z = np.log(y)
    # The airline model: (1 - B)(1 - B^12) log y is MA(1) plus seasonal MA(1).
    w = np.diff(z[PERIOD:] - z[:-PERIOD])
    none = np.empty(0)

    def airline(u: Sequence[float]) -> float:
        ma, sma = math.tanh(u[0]) * LIMIT, math.tanh(u[1]) * LIMIT
        return core.seasonal_css_objective(w, none, np.array([ma]), none, np.array([sma]), PERIOD)

    fit = nelder_mead(airline, [0.0, 0.0])
    ma1, sma1 = (math.tanh(u) * LIMIT for u in fit.x)
    airline_sigma = math.sqrt(fit.value / (w.size - PERIOD))

    # Non-seasonal ARIMA(p, 1, q) of the seasonally adjusted logs, scored by CSS.
    log_adjusted = np.log(seasonal.adjusted)
    orders = []
    for p, q in ((1, 0), (0, 1), (1, 1)):

        def css(u: Sequence[float], p: int = p) -> float:
            coefs = np.tanh(np.asarray(u, dtype=np.float64)) * LIMIT
            return core.arima_css(log_adjusted, coefs[:p], coefs[p:], 1)

        best = nelder_mead(css, [0.0] * (p + q))
        coefs = [math.tanh(u) * LIMIT for u in best.x]
        names = [f"ar{k}" for k in range(1, p + 1)] + [f"ma{k}" for k in range(1, q + 1)]
        r = log_adjusted.size - 1 - max(p, q)
        aic = best.value + 2.0 * (p + q)
        sigma = math.exp(best.value / r / 2.0)
        orders.append(Order(p, 1, q, dict(zip(names, coefs, strict=True)), aic, sigma))

    # Annual growth log y[t] - log y[t - 12] as ARMA(1, 1), by the plain CSS objective.
    growth = z[PERIOD:] - z[:-PERIOD]
    growth = growth - np.mean(growth)

    def arma(u: Sequence[float]) -> float:
        return core.css_objective(growth, np.array([math.tanh(u[0])]), np.array([math.tanh(u[1])]))

    best = nelder_mead(arma, [0.0, 0.0])
    return Arima(
        {"ma1": ma1, "sma1": sma1},
        airline_sigma,
        orders,
        {"ar1": math.tanh(best.x[0]), "ma1": math.tanh(best.x[1])},
        math.sqrt(best.value / (growth.size - 1)),
    )
