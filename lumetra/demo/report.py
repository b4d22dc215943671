"""Run the demonstration's steps with a progress line and timing each, and print the report.

`run` calls each model family's `fit` in turn with the inputs it needs, the series and the
results of earlier steps, and prints what it found (the result's `describe`). The summary
table of forecasts follows the last step.
"""

from __future__ import annotations

import time
from collections.abc import Callable
from dataclasses import dataclass, fields
from typing import Concatenate, ParamSpec, Protocol, TextIO, TypeVar

import numpy as np

from .models import (
    HORIZON,
    PERIOD,
    Array,
    Series,
    arima,
    decomposition,
    diagnostics,
    ets,
    mape,
    patterns,
    reservoir,
    ses,
    tbats_ces,
    theta,
    volatility,
)


class Described(Protocol):
    def describe(self, series: Series) -> list[str]: ...


Inputs = ParamSpec("Inputs")
Result = TypeVar("Result", bound=Described)


@dataclass(frozen=True)
class Results:
    series: Series
    seasonal: decomposition.Seasonal
    ses: ses.Ses
    ets: ets.Ets
    theta: theta.Theta
    other: tbats_ces.OtherSmoothing
    arima: arima.Arima
    volatility: volatility.Volatility
    patterns: patterns.Patterns
    reservoir: reservoir.Reservoir
    diagnostics: diagnostics.Diagnostics
    seconds: float  # the time the steps took together


# Every field of Results but the series and the time holds what one step found.
STEPS = len(fields(Results)) - 2


class Steps:
    """Runs the steps in order, writing a progress line, the time and the description of each."""

    def __init__(self, out: TextIO, series: Series) -> None:
        self.out, self.series = out, series
        self.done = 0
        self.seconds = 0.0

    def run(
        self,
        title: str,
        fit: Callable[Concatenate[Inputs], Result],
        *args: Inputs.args,
        **kwargs: Inputs.kwargs,
    ) -> Result:
        self.done += 1
        self.out.write(f"[{self.done:2d}/{STEPS}] {title} ".ljust(64, "."))
        self.out.flush()
        start = time.perf_counter()
        result = fit(*args, **kwargs)
        elapsed = time.perf_counter() - start
        self.seconds += elapsed
        self.out.write(f" {elapsed * 1e3:7.1f} ms\n")
        self.out.writelines(f"    {line}\n" for line in result.describe(self.series))
        return result


def future_months(last: str, count: int) -> list[str]:
    """The `count` month labels ("YYYY-MM") after `last`."""
    year, month = map(int, last.split("-"))
    labels = []
    for _ in range(count):
        year, month = (year + 1, 1) if month == 12 else (year, month + 1)
        labels.append(f"{year:04d}-{month:02d}")
    return labels


def summary(results: Results) -> list[str]:
    """The table of each forecasting model's in-sample error and forecasts."""
    series = results.series
    y = series.y
    chosen = results.ets.chosen
    lower, upper = results.ets.forecast.interval(95.0)
    naive = (np.concatenate((np.full(PERIOD, np.nan), y[:-PERIOD])), y[-PERIOD:])
    columns: list[tuple[str, Array, Array]] = [
        ("snaive", naive[0], naive[1][np.arange(HORIZON) % PERIOD]),
        ("SES", results.ses.fitted, results.ses.forecast),
        ("ETS", chosen.fitted, results.ets.forecast.mean),
        ("theta", results.theta.theta.fitted, results.theta.theta_forecast.mean),
        ("DOTM", results.theta.dotm.fitted, results.theta.dotm_forecast.mean),
        ("DTSF", results.patterns.fitted, results.patterns.forecast),
        ("ESN", results.reservoir.fitted, results.reservoir.forecast),
    ]
    return [
        "Summary: one-step in-sample MAPE and forecasts, in thousands (snaive: a year before;",
        f"ETS: {chosen.method}, with its 95% prediction interval)",
        "month   " + "".join(f"{name:>9}" for name, _, _ in columns) + "  ETS 95% interval",
        "MAPE %  " + "".join(f"{mape(y, fitted):9.2f}" for _, fitted, _ in columns),
    ] + [
        f"{month} "
        + "".join(f"{forecast[h]:9.1f}" for _, _, forecast in columns)
        + f"  {lower[h]:6.1f} to {upper[h]:5.1f}"
        for h, month in enumerate(series.ahead)
    ]


def run(months: list[str], y: Array, out: TextIO) -> Results:
    """Run every step on the series, writing the report to `out` as the steps finish."""
    series = Series(months, y, future_months(months[-1], HORIZON))
    out.write(
        "lumetra demonstration: monthly international airline passengers, in thousands\n"
        f"{months[0]} to {months[-1]}, {y.size} observations; forecasts for "
        f"{series.ahead[0]} to {series.ahead[-1]}\n\n"
    )
    steps = Steps(out, series)
    seasonal = steps.run("seasonal structure", decomposition.fit, y)
    smoothed = steps.run("simple exponential smoothing", ses.fit, y, seasonal)
    automatic = steps.run("ETS, chosen by AICc", ets.fit, y)
    thetas = steps.run("theta method, optimised theta, hybrid theta", theta.fit, y, seasonal)
    other = steps.run("trigonometric and complex smoothing", tbats_ces.fit, y, seasonal)
    orders = steps.run("ARIMA by conditional sum of squares", arima.fit, y, seasonal)
    growth = steps.run("volatility of the monthly growth", volatility.fit, seasonal)
    nearest = steps.run("nearest-pattern forecasts (DTSF)", patterns.fit, y)
    network = steps.run("echo-state network", reservoir.fit, y)
    measures = steps.run("diagnostics", diagnostics.fit, y, seasonal)
    results = Results(
        series,
        seasonal,
        smoothed,
        automatic,
        thetas,
        other,
        orders,
        growth,
        nearest,
        network,
        measures,
        steps.seconds,
    )
    out.writelines(f"{line}\n" for line in ["", *summary(results), ""])
    out.write(f"{steps.done} steps in {steps.seconds * 1e3:.1f} ms\n")
    out.flush()
    return results
