"""A picture of the series with the chosen ETS model's fitted values, forecasts and
prediction intervals, and the theta method's forecasts."""

from __future__ import annotations

from pathlib import Path

import numpy as np

from .models import HORIZON
from .report import Results

FORECAST_COLOUR = "tab:red"


def plot(results: Results, path: Path) -> None:
    """Write the picture to `path` (the format follows its suffix, PNG for .png)."""
    # Imported here: matplotlib is an optional dependency, needed for this alone.
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    series = results.series
    y, n = series.y, series.y.size
    start = int(series.months[0][:4]) + (int(series.months[0][5:7]) - 1) / 12
    t = start + np.arange(n) / 12
    # The forecasts start from the last observation, so that their lines join the series.
    ahead = start + np.arange(n - 1, n + HORIZON) / 12
    last = y[-1:]
    ets = results.ets
    name = ets.chosen.method

    figure = Figure(figsize=(10, 5.5), dpi=100)
    FigureCanvasAgg(figure)
    axes = figure.add_subplot()
    for level, alpha in ((95.0, 0.15), (80.0, 0.3)):
        lower, upper = ets.forecast.interval(level)
        axes.fill_between(
            ahead,
            np.concatenate((last, lower)),
            np.concatenate((last, upper)),
            color=FORECAST_COLOUR,
            alpha=alpha,
            linewidth=0,
            label=f"{name} {level:g}% interval",
        )
    axes.plot(t, y, color="black", linewidth=1.6, label="observed")
    axes.plot(
        t, ets.chosen.fitted, color="tab:blue", linewidth=1.0, label=f"{name} one-step fitted"
    )
    axes.plot(
        ahead,
        np.concatenate((last, ets.forecast.mean)),
        color=FORECAST_COLOUR,
        linewidth=1.8,
        label=f"{name} forecast",
    )
    axes.plot(
        ahead,
        np.concatenate((last, results.theta.theta_forecast.mean)),
        color="tab:green",
        linestyle="--",
        linewidth=1.2,
        label="theta forecast",
    )
    axes.axvline(t[-1], color="grey", linewidth=0.8, linestyle=":")
    axes.set_title("International airline passengers: fitted values and forecasts by lumetra")
    axes.set_xlabel("year")
    axes.set_ylabel("passengers (thousands)")
    axes.grid(alpha=0.3)
    axes.legend(loc="upper left")
    figure.tight_layout()
    figure.savefig(path)
