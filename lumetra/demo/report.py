"""Run the demonstration's steps with a progress line and timing each, and print the report.

The report is the table STEPS: each step names its title, the field of Results that holds
what it found, how to compute that from the series and the earlier steps' results, and
how to describe it. The summary table of forecasts follows the last step.
"""

from __future__ import annotations

import time
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any, TextIO

import numpy as np

from .models import (
    HORIZON,
    MONTH_NAMES,
    PERIOD,
    Array,
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
from .models.arima import Arima
from .models.decomposition import Seasonal
from .models.diagnostics import Diagnostics
from .models.ets import EtsFit
from .models.patterns import Patterns
from .models.reservoir import Reservoir
from .models.ses import Ses
from .models.tbats_ces import OtherSmoothing
from .models.theta import Theta
from .models.volatility import Volatility


@dataclass(frozen=True)
class Results:
    months: list[str]
    y: Array
    seasonal: Seasonal
    ses: Ses
    ets: list[EtsFit]
    theta: Theta
    other: OtherSmoothing
    arima: Arima
    volatility: Volatility
    patterns: Patterns
    reservoir: Reservoir
    diagnostics: Diagnostics
    seconds: float

    @property
    def chosen(self) -> EtsFit:
        """The ETS model with the lower -2 log-likelihood."""
        return min(self.ets, key=lambda fit: fit.minus_twice_loglik)


@dataclass(frozen=True)
class Context:
    """What a step's description may refer to besides the step's own result."""

    months: list[str]
    y: Array
    ahead: list[str]  # the months forecast
    done: dict[str, Any]  # the results of the steps so far, by field


@dataclass(frozen=True)
class Step:
    title: str
    field: str  # where Results keeps what the step found
    fit: Callable[[Array, dict[str, Any]], Any]  # from the series and the earlier results
    describe: Callable[[Any, Context], list[str]]  # the report's lines about the result


def describe_seasonal(seasonal: Seasonal, _: Context) -> list[str]:
    mode = "multiplicative" if seasonal.multiplicative else "additive"
    pattern = np.exp(seasonal.log_seasonal[:PERIOD]) - 1.0
    peak, trough = int(np.argmax(pattern)), int(np.argmin(pattern))
    return [
        f"four_theta_deseasonalize chose {mode} seasonal indices (period {PERIOD}):",
        "  " + " ".join(f"{name:>5}" for name in MONTH_NAMES),
        "  " + " ".join(f"{v:5.3f}" for v in seasonal.indices),
        "mstl_moving_average (window 12) and mstl_extract_seasonal on the log scale:",
        f"  the monthly pattern explains {seasonal.explained:.1%} of the detrended variance;",
        f"  peak {MONTH_NAMES[peak]} {pattern[peak]:+.1%}, trough {MONTH_NAMES[trough]} "
        f"{pattern[trough]:+.1%}",
    ]


def describe_ses(fit: Ses, context: Context) -> list[str]:
    return [
        "golden-section search on ses_sse of the seasonally adjusted series:",
        f"  alpha = {fit.alpha:.4f} ({fit.search.evaluations} evaluations); levels by ses_filter",
        f"one-step MAPE {mape(context.y, fit.fitted):.2f}%, forecast {context.ahead[0]}: "
        f"{fit.forecast[0]:.1f}",
    ]


def describe_ets(fits: list[EtsFit], context: Context) -> list[str]:
    chosen = min(fits, key=lambda fit: fit.minus_twice_loglik)
    lines = [
        "quasi-Newton search on ets_loglik over the weights, the damping and the initial",
        f"  level, trend and {PERIOD} seasonal states together, within the usual bounds:",
        "model         alpha   beta  gamma    phi    -2logL  evals   MAPE",
    ]
    for fit in fits:
        p = fit.params
        mark = "  <- chosen" if fit is chosen else ""
        lines.append(
            f"{fit.model.name:12} {p.alpha:6.3f} {p.beta:6.3f} {p.gamma:6.3f} {p.phi:6.3f} "
            f"{fit.minus_twice_loglik:9.1f} {fit.search.evaluations:6d} "
            f"{mape(context.y, fit.fitted):5.2f}%{mark}"
        )
    return lines + [
        "fitted values of both by one batch_ets_filter call, equal to ets_filter's;",
        f"  {chosen.model.name} ends at level {chosen.level:.1f}, trend {chosen.trend:+.2f}",
    ]


def describe_theta(fit: Theta, context: Context) -> list[str]:
    return [
        f"theta_decompose of the adjusted series: line {fit.intercept:.1f} {fit.slope:+.3f} t,",
        f"  theta-2 line smoothed with alpha = {fit.alpha:.3f}; combined by "
        f"four_theta_fitted: MAPE {mape(context.y, fit.fitted):.2f}%",
        f"DOT by Nelder-Mead on dot_objective ({fit.dot_search.evaluations} evaluations):",
        f"  theta = {fit.dot_theta:.3f}, alpha = {fit.dot_alpha:.3f}, drift = "
        f"{fit.dot_drift:+.4f}; dot_residuals: MAPE {mape(context.y, fit.dot_fitted):.2f}%",
        "dot_hybrid_objective, geometric mixing: mean absolute error of the smoothed fit",
        f"  for theta {', '.join(f'{th:g}' for th, _ in fit.hybrid)}: "
        f"{', '.join(f'{mae:.2f}' for _, mae in fit.hybrid)} thousand adjusted passengers",
    ]


def describe_other(fit: OtherSmoothing, _: Context) -> list[str]:
    alpha, beta, phi = fit.tbats
    a_r, a_i, gamma = fit.ces
    return [
        f"tbats_filter, log scale, {fit.harmonics} harmonics from zero, damped trend:",
        f"  alpha = {alpha:.3f}, beta = {beta:.3f}, phi = {phi:.3f}; one-step RMSE "
        f"{fit.tbats_rmse:.4f}",
        f"ces_seasonal_sse, log scale: a0 = {a_r:.3f} + {a_i:.3f}i, gamma = {gamma:.3f}; "
        f"RMSE {fit.ces_rmse:.4f}",
        f"ces_nonseasonal_sse, adjusted log series: a0 = {fit.ces_plain[0]:.3f} + "
        f"{fit.ces_plain[1]:.3f}i; RMSE {fit.ces_plain_rmse:.4f}",
    ]


def describe_arima(fit: Arima, _: Context) -> list[str]:
    ma, sma = fit.airline
    lines = [
        "seasonal_css_objective, (0,1,1)(0,1,1)12 of log passengers with the two MA terms",
        "  added (no lag-13 product term, unlike the multiplicative airline model); fitted only:",
        f"  theta = {ma:+.3f}, seasonal theta = {sma:+.3f}, residual sd {fit.airline_sigma:.4f}",
        "arima_css of the adjusted log series:",
    ]
    for (p, d, q), coefs, aic, sigma in fit.orders:
        shown = ", ".join(f"{c:+.3f}" for c in coefs)
        lines.append(f"  ARIMA({p},{d},{q}): {shown:16} AIC {aic:7.1f}, residual sd {sigma:.4f}")
    phi, theta_g = fit.growth_arma
    return lines + [
        "css_objective, annual log growth as ARMA(1,1):",
        f"  phi = {phi:+.3f}, theta = {theta_g:+.3f}, residual sd {fit.growth_sigma:.4f}",
    ]


def describe_volatility(fit: Volatility, _: Context) -> list[str]:
    lines = [
        f"adjusted monthly log growth in percent: mean {np.mean(fit.returns):+.2f}, "
        f"sd {np.std(fit.returns):.2f}",
        "GARCH(1,1) family          NLL     AIC",
    ]
    for name, params, nll, aic in fit.fits:
        shown = " ".join(f"{key} {value:+.3f}" for key, value in params.items())
        lines += [f"{name:24} {nll:7.2f} {aic:7.1f}", f"  {shown}"]
    return lines


def describe_patterns(fit: Patterns, context: Context) -> list[str]:
    return [
        f"dtsf_fit_residuals on the monthly log growth, window {fit.window}, "
        f"{fit.neighbours} neighbours:",
        f"  one-step MAPE {mape(context.y, fit.fitted):.2f}%",
        f"dtsf_distances: the {fit.neighbours} windows nearest to the last year end in",
        "  " + ", ".join(context.months[i] for i in fit.nearest_ends),
    ]


def describe_reservoir(fit: Reservoir, context: Context) -> list[str]:
    return [
        f"esn_reservoir_update on the monthly log growth: {fit.size} units, spectral "
        f"radius {fit.spectral_radius:g},",
        f"  leak {fit.leak:g}, washout {fit.washout}, ridge readout: one-step "
        f"MAPE {mape(context.y, fit.fitted):.2f}%",
    ]


def describe_diagnostics(fit: Diagnostics, context: Context) -> list[str]:
    months = context.y.size - 1
    return [
        f"hurst_exponent: passengers {fit.hurst_level:.3f}, adjusted monthly growth "
        f"{fit.hurst_growth:.3f}",
        f"sample_entropy of the monthly growth {fit.sample_entropy[0]:.3f}, "
        f"shuffled {fit.sample_entropy[1]:.3f}: a regular rhythm",
        f"approximate_entropy of the monthly growth {fit.approximate_entropy[0]:.3f}, "
        f"shuffled {fit.approximate_entropy[1]:.3f}: the reverse",
        "  order, as it counts each pattern's match with itself, which lowers the score",
        f"  of an irregular series of {months} values most; sample_entropy leaves those out",
        f"croston_tsb_filter on the months that set a new record ({fit.records} of {months}, "
        f"a share of {fit.records / months:.2f}):",
        f"  smoothed estimates after {context.months[-1]}: a record with probability "
        f"{fit.record_probability:.2f}, rising {fit.record_size:.1f} thousand",
    ]


STEPS = (
    Step("seasonal structure", "seasonal", lambda y, _: decomposition.fit(y), describe_seasonal),
    Step(
        "simple exponential smoothing",
        "ses",
        lambda y, done: ses.fit(y, done["seasonal"]),
        describe_ses,
    ),
    Step("ETS models, maximum likelihood", "ets", lambda y, _: ets.fit(y), describe_ets),
    Step(
        "theta lines, DOT and hybrid theta",
        "theta",
        lambda _, done: theta.fit(done["seasonal"]),
        describe_theta,
    ),
    Step(
        "trigonometric and complex smoothing",
        "other",
        lambda y, done: tbats_ces.fit(y, done["seasonal"]),
        describe_other,
    ),
    Step(
        "ARIMA by conditional sum of squares",
        "arima",
        lambda y, done: arima.fit(y, done["seasonal"]),
        describe_arima,
    ),
    Step(
        "volatility of the monthly growth",
        "volatility",
        lambda _, done: volatility.fit(done["seasonal"]),
        describe_volatility,
    ),
    Step(
        "nearest-pattern forecasts (DTSF)",
        "patterns",
        lambda y, _: patterns.fit(y),
        describe_patterns,
    ),
    Step("echo-state network", "reservoir", lambda y, _: reservoir.fit(y), describe_reservoir),
    Step(
        "diagnostics",
        "diagnostics",
        lambda y, done: diagnostics.fit(y, done["seasonal"]),
        describe_diagnostics,
    ),
)


def future_months(last: str, count: int) -> list[str]:
    """The `count` month labels ("YYYY-MM") after `last`."""
    year, month = map(int, last.split("-"))
    labels = []
    for _ in range(count):
        year, month = (year + 1, 1) if month == 12 else (year, month + 1)
        labels.append(f"{year:04d}-{month:02d}")
    return labels


def summary(context: Context) -> list[str]:
    """The table of each forecasting model's in-sample error and forecasts."""
    y, done = context.y, context.done
    chosen = min(done["ets"], key=lambda fit: fit.minus_twice_loglik)
    naive = (np.concatenate((np.full(PERIOD, np.nan), y[:-PERIOD])), y[-PERIOD:])
    columns: list[tuple[str, Array, Array]] = [
        ("snaive", naive[0], naive[1][np.arange(HORIZON) % PERIOD]),
        ("SES", done["ses"].fitted, done["ses"].forecast),
        ("ETS", chosen.fitted, chosen.forecast),
        ("theta", done["theta"].fitted, done["theta"].forecast),
        ("DOT", done["theta"].dot_fitted, done["theta"].dot_forecast),
        ("DTSF", done["patterns"].fitted, done["patterns"].forecast),
        ("ESN", done["reservoir"].fitted, done["reservoir"].forecast),
    ]
    return [
        "Summary: one-step in-sample MAPE and forecasts, in thousands (snaive: a year before)",
        "month   " + "".join(f"{name:>9}" for name, _, _ in columns),
        "MAPE %  " + "".join(f"{mape(y, fitted):9.2f}" for _, fitted, _ in columns),
    ] + [
        f"{month} " + "".join(f"{forecast[h]:9.1f}" for _, _, forecast in columns)
        for h, month in enumerate(context.ahead)
    ]


def run(months: list[str], y: Array, out: TextIO) -> Results:
    """Run every step on the series, writing the report to `out` as the steps finish."""
    context = Context(months, y, future_months(months[-1], HORIZON), {})
    out.write(
        "lumetra demonstration: monthly international airline passengers, in thousands\n"
        f"{months[0]} to {months[-1]}, {y.size} observations; forecasts for "
        f"{context.ahead[0]} to {context.ahead[-1]}\n\n"
    )
    seconds = 0.0
    for number, step in enumerate(STEPS, 1):
        out.write(f"[{number:2d}/{len(STEPS)}] {step.title} ".ljust(64, "."))
        out.flush()
        start = time.perf_counter()
        context.done[step.field] = step.fit(y, context.done)
        elapsed = time.perf_counter() - start
        seconds += elapsed
        out.write(f" {elapsed * 1e3:7.1f} ms\n")
        out.writelines(f"    {line}\n" for line in step.describe(context.done[step.field], context))
    out.writelines(f"{line}\n" for line in ["", *summary(context), ""])
    out.write(f"{len(STEPS)} steps in {seconds * 1e3:.1f} ms\n")
    out.flush()
    return Results(months, y, **context.done, seconds=seconds)
