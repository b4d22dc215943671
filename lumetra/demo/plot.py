"""A picture of the series with the chosen ETS model's fitted values and forecasts."""

from __future__ import annotations

from pathlib import Path

import numpy as np

from .models import HORIZON
from .report import Results


def plot(results: Results, path: Path) -> None:
    """Write the picture to `path` (the format follows its suffix, PNG for .png)."""
    # Imported here: matplotlib is an optional dependency, needed for this alone.
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    y, n = results.y, results.y.size
    start = int(results.months[0][:4]) + (int(results.months[0][5:7]) - 1) / 12
    t = start + np.arange(n) / 12
    ahead = start + np.arange(n, n + HORIZON) / 12
    chosen = results.chosen

    figure = Figure(figsize=(10, 5.5), dpi=100)
    FigureCanvasAgg(figure)
    axes = figure.add_subplot()
    axes.plot(t, y, color="black", linewidth=1.6, label="observed")
    axes.plot(
        t,
        chosen.fitted,
        color="tab:blue",
        linewidth=1.0,
        label=f"{chosen.model.name} one-step fitted",
    )
    axes.plot(
        ahead,
        chosen.forecast,
        color="tab:red",
        linewidth=1.8,
        label=f"{chosen.model.name} forecast",
    )
    axes.plot(
        ahead,
        results.theta.forecast,
        color="tab:green",
        linestyle="--",
        linewidth=1.2,
        label="theta forecast",
    )
    axes.axvline(start + n / 12, color="grey", linewidth=0.8, linestyle=":")
    axes.set_title("International airline passengers: fitted values and forecasts by lumetra")
    axes.set_xlabel("year")
    axes.set_ylabel("passengers (thousands)")
    axes.grid(alpha=0.3)
    axes.legend(loc="upper left")
    figure.tight_layout()
    figure.savefig(path)
