"""Nearest-pattern (DTSF) forecasts of the monthly growth."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

import lumetra._core as core

from . import HORIZON, PERIOD, Array, Series, mape


@dataclass(frozen=True)
class Patterns:
    window: int
    neighbours: int
    fitted: Array  # one-step forecasts of the series from nearest-pattern return forecasts
    forecast: Array
    nearest_ends: list[int]  # for the first forecast: last index (in y) of each nearest window

    def describe(self, series: Series) -> list[str]:
        return [
            f"dtsf_fit_residuals on the monthly log growth, window {self.window}, "
            f"{self.neighbours} neighbours:",
            f"  one-step MAPE {mape(series.y, self.fitted):.2f}%",
            f"dtsf_distances: the {self.neighbours} windows nearest to the last year end in",
            "  " + ", ".join(series.months[i] for i in self.nearest_ends),
        ]


def fit(y: Array, window: int = PERIOD, neighbours: int = 5, decay: float = 0.01) -> Patterns:
    """Nearest-pattern forecasts of the monthly log growth r[t] = log y[t + 1] - log y[t]."""
    r = np.diff(np.log(y))
    residuals = core.dtsf_fit_residuals(r, window, neighbours, False)
    predicted = r - residuals
    fitted = np.full(y.size, np.nan)
    # r[t] becomes y[t + 1]; residuals exist from position window + 1 of r.
    start = window + 1
    fitted[start + 1 :] = y[start:-1] * np.exp(predicted[start:])

    path = list(r)
    nearest_ends: list[int] = []
    for h in range(HORIZON):
        series = np.array(path)
        count = series.size - window  # windows followed by a known value
        distances = core.dtsf_distances(
            series, series[-window:], window, count, False, decay, series.size
        )
        nearest = np.argsort(distances, kind="stable")[:neighbours]
        if h == 0:
            nearest_ends = [int(s) + window for s in nearest]  # r[s + window - 1] is y[s + window]
        path.append(float(np.median(series[nearest + window])))
    forecast = y[-1] * np.exp(np.cumsum(path[r.size :]))
    return Patterns(window, neighbours, fitted, forecast, nearest_ends)
