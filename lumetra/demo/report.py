"""Run the demonstration's steps with a progress line and timing each, and print the report."""

from __future__ import annotations

import time
from collections.abc import Callable
from dataclasses import dataclass
from typing import TextIO, TypeVar

import numpy as np

from . import models
from .models import HORIZON, MONTH_NAMES, PERIOD, Array, mape

T = TypeVar("T")


@dataclass(frozen=True)
class Results:
    months: list[str]
    y: Array
    seasonal: models.Seasonal
    ses: models.Ses
    ets: list[models.EtsFit]
    chosen: models.EtsFit  # the ETS model with the lower -2 log-likelihood
    theta: models.Theta
    other: models.OtherSmoothing
    arima: models.Arima
    volatility: models.Volatility
    patterns: models.Patterns
    reservoir: models.Reservoir
    diagnostics: models.Diagnostics
    seconds: float


def future_months(last: str, count: int) -> list[str]:
    """The `count` month labels ("YYYY-MM") after `last`."""
    year, month = map(int, last.split("-"))
    labels = []
    for _ in range(count):
        year, month = (year + 1, 1) if month == 12 else (year, month + 1)
        labels.append(f"{year:04d}-{month:02d}")
    return labels


class Progress:
    """Numbered step headings with the time each step took, written as the steps run."""

    def __init__(self, out: TextIO, total: int) -> None:
        self.out, self.total, self.done = out, total, 0
        self.seconds = 0.0

    def step(self, title: str, work: Callable[[], T]) -> T:
        self.done += 1
        heading = f"[{self.done:2d}/{self.total}] {title} "
        self.out.write(heading.ljust(64, "."))
        self.out.flush()
        start = time.perf_counter()
        result = work()
        elapsed = time.perf_counter() - start
        self.seconds += elapsed
        self.out.write(f" {elapsed * 1e3:7.1f} ms\n")
        return result

    def say(self, *lines: str) -> None:
        for line in lines:
            self.out.write(f"    {line}\n")


def run(months: list[str], y: Array, out: TextIO) -> Results:
    progress = Progress(out, 10)
    say = progress.say
    n = y.size
    ahead = future_months(months[-1], HORIZON)
    out.write(
        "lumetra demonstration: monthly international airline passengers, in thousands\n"
        f"{months[0]} to {months[-1]}, {n} observations; forecasts for {ahead[0]} to "
        f"{ahead[-1]}\n\n"
    )

    seasonal = progress.step("seasonal structure", lambda: models.seasonal_structure(y))
    mode = "multiplicative" if seasonal.multiplicative else "additive"
    say(f"four_theta_deseasonalize chose {mode} seasonal indices (period {PERIOD}):")
    say("  " + " ".join(f"{name:>5}" for name in MONTH_NAMES))
    say("  " + " ".join(f"{v:5.3f}" for v in seasonal.indices))
    pattern = np.exp(seasonal.log_seasonal[:PERIOD]) - 1.0
    peak, trough = int(np.argmax(pattern)), int(np.argmin(pattern))
    say(
        "mstl_moving_average (window 12) and mstl_extract_seasonal on the log scale:",
        f"  the monthly pattern explains {seasonal.explained:.1%} of the detrended variance;",
        f"  peak {MONTH_NAMES[peak]} {pattern[peak]:+.1%}, trough {MONTH_NAMES[trough]} "
        f"{pattern[trough]:+.1%}",
    )

    ses = progress.step("simple exponential smoothing", lambda: models.ses(y, seasonal))
    say(
        "golden-section search on ses_sse of the seasonally adjusted series:",
        f"  alpha = {ses.alpha:.4f} ({ses.search.evaluations} evaluations); levels by ses_filter",
        f"one-step MAPE {mape(y, ses.fitted):.2f}%, forecast {ahead[0]}: {ses.forecast[0]:.1f}",
    )

    ets = progress.step("ETS models, Nelder-Mead on ets_loglik", lambda: models.ets(y))
    chosen = min(ets, key=lambda fit: fit.minus_twice_loglik)
    say("model         alpha   beta  gamma    phi    -2logL  evals   MAPE")
    for fit in ets:
        alpha, beta, gamma, phi = fit.params[3:]
        mark = "  <- chosen" if fit is chosen else ""
        say(
            f"{fit.model.name:12} {alpha:6.3f} {beta:6.3f} {gamma:6.3f} {phi:6.3f} "
            f"{fit.minus_twice_loglik:9.1f} {fit.search.evaluations:6d} "
            f"{mape(y, fit.fitted):5.2f}%{mark}"
        )
    say(
        "fitted values of both by one batch_ets_filter call, equal to ets_filter's;",
        f"  {chosen.model.name} ends at level {chosen.level:.1f}, trend {chosen.trend:+.2f}",
    )

    theta = progress.step("theta lines, DOT and hybrid theta", lambda: models.theta(seasonal))
    say(
        f"theta_decompose of the adjusted series: line {theta.intercept:.1f} {theta.slope:+.3f} t,",
        f"  theta-2 line smoothed with alpha = {theta.alpha:.3f}; combined by "
        f"four_theta_fitted: MAPE {mape(y, theta.fitted):.2f}%",
        f"DOT by Nelder-Mead on dot_objective ({theta.dot_search.evaluations} evaluations):",
        f"  theta = {theta.dot_theta:.3f}, alpha = {theta.dot_alpha:.3f}, drift = "
        f"{theta.dot_drift:+.4f}; dot_residuals: MAPE {mape(y, theta.dot_fitted):.2f}%",
        "dot_hybrid_objective, geometric mixing (MAE of the smoothed fit):",
        "  " + ", ".join(f"theta {th:g}: {mae:.2f}" for th, mae in theta.hybrid),
    )

    other = progress.step(
        "trigonometric and complex smoothing", lambda: models.other_smoothing(y, seasonal)
    )
    alpha, beta, phi = other.tbats
    a_r, a_i, gamma = other.ces
    say(
        f"tbats_filter, log scale, {other.harmonics} harmonics from zero, damped trend:",
        f"  alpha = {alpha:.3f}, beta = {beta:.3f}, phi = {phi:.3f}; one-step RMSE "
        f"{other.tbats_rmse:.4f}",
        f"ces_seasonal_sse, log scale: a0 = {a_r:.3f} + {a_i:.3f}i, gamma = {gamma:.3f}; "
        f"RMSE {other.ces_rmse:.4f}",
        f"ces_nonseasonal_sse, adjusted log series: a0 = {other.ces_plain[0]:.3f} + "
        f"{other.ces_plain[1]:.3f}i; RMSE {other.ces_plain_rmse:.4f}",
    )

    arima = progress.step("ARIMA by conditional sum of squares", lambda: models.arima(y, seasonal))
    ma, sma = arima.airline
    say(
        "seasonal_css_objective, airline model (0,1,1)(0,1,1)12 of log passengers:",
        f"  theta = {ma:+.3f}, seasonal theta = {sma:+.3f}, residual sd {arima.airline_sigma:.4f}",
        "arima_css of the adjusted log series:",
    )
    for order, coefs, aic, sigma in arima.orders:
        shown = ", ".join(f"{c:+.3f}" for c in coefs)
        p, d, q = order
        say(f"  ARIMA({p},{d},{q}): {shown:16} AIC {aic:7.1f}, residual sd {sigma:.4f}")
    phi_g, theta_g = arima.growth_arma
    say(
        "css_objective, annual log growth as ARMA(1,1):",
        f"  phi = {phi_g:+.3f}, theta = {theta_g:+.3f}, residual sd {arima.growth_sigma:.4f}",
    )

    volatility = progress.step(
        "volatility of the monthly growth", lambda: models.volatility(seasonal)
    )
    say(
        f"adjusted monthly log growth in percent: mean {np.mean(volatility.returns):+.2f}, "
        f"sd {np.std(volatility.returns):.2f}",
        "GARCH(1,1) family          NLL     AIC",
    )
    for name, params, nll, aic in volatility.fits:
        shown = " ".join(f"{key} {value:+.3f}" for key, value in params.items())
        say(f"{name:24} {nll:7.2f} {aic:7.1f}", f"  {shown}")

    patterns = progress.step("nearest-pattern forecasts (DTSF)", lambda: models.patterns(y))
    say(
        f"dtsf_fit_residuals on the monthly log growth, window {patterns.window}, "
        f"{patterns.neighbours} neighbours:",
        f"  one-step MAPE {mape(y, patterns.fitted):.2f}%",
        f"dtsf_distances: the {patterns.neighbours} windows nearest to the last year end in",
        "  " + ", ".join(months[i] for i in patterns.nearest_ends),
    )

    reservoir = progress.step("echo-state network", lambda: models.reservoir(y))
    say(
        f"esn_reservoir_update on the monthly log growth: {reservoir.size} units, spectral "
        f"radius {reservoir.spectral_radius:g},",
        f"  leak {reservoir.leak:g}, washout {reservoir.washout}, ridge readout: one-step "
        f"MAPE {mape(y, reservoir.fitted):.2f}%",
    )

    diagnostics = progress.step("diagnostics", lambda: models.diagnostics(y, seasonal))
    say(
        f"hurst_exponent: passengers {diagnostics.hurst_level:.3f}, adjusted monthly growth "
        f"{diagnostics.hurst_growth:.3f}",
        f"sample_entropy of the monthly growth {diagnostics.sample_entropy[0]:.3f}, "
        f"shuffled {diagnostics.sample_entropy[1]:.3f}: a regular rhythm",
        f"approximate_entropy of the monthly growth {diagnostics.approximate_entropy[0]:.3f}, "
        f"shuffled {diagnostics.approximate_entropy[1]:.3f}",
        f"croston_tsb_filter on the rises to a new record ({diagnostics.records} of {n - 1} "
        "months):",
        f"  a record month has probability {diagnostics.record_probability:.2f}, rise "
        f"{diagnostics.record_size:.1f}",
    )

    naive_fitted = np.concatenate((np.full(PERIOD, np.nan), y[:-PERIOD]))
    columns: list[tuple[str, Array, Array]] = [
        ("snaive", naive_fitted, np.tile(y[-PERIOD:], HORIZON // PERIOD)),
        ("SES", ses.fitted, ses.forecast),
        ("ETS", chosen.fitted, chosen.forecast),
        ("theta", theta.fitted, theta.forecast),
        ("DOT", theta.dot_fitted, theta.dot_forecast),
        ("DTSF", patterns.fitted, patterns.forecast),
        ("ESN", reservoir.fitted, reservoir.forecast),
    ]
    out.write(
        "\nSummary: one-step in-sample MAPE and forecasts, in thousands (snaive: a year before)\n"
    )
    out.write("month   " + "".join(f"{name:>9}" for name, _, _ in columns) + "\n")
    out.write("MAPE %  " + "".join(f"{mape(y, fitted):9.2f}" for _, fitted, _ in columns) + "\n")
    for h in range(PERIOD):
        out.write(f"{ahead[h]} " + "".join(f"{f[h]:9.1f}" for _, _, f in columns) + "\n")
    out.write(f"\n10 steps in {progress.seconds * 1e3:.1f} ms\n")
    out.flush()
    return Results(
        months,
        y,
        seasonal,
        ses,
        ets,
        chosen,
        theta,
        other,
        arima,
        volatility,
        patterns,
        reservoir,
        diagnostics,
        progress.seconds,
    )
