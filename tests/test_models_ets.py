"""Automatic ETS: the native objective and search against their Python forms bit for bit, the
forecasts as the recursion run on, the admissibility test against the eigenvalues it stands
for, the candidates and fallbacks, and the intervals."""

from __future__ import annotations

import math

import numpy as np
import pytest

import lumetra._core as core
from lumetra.models import ets
from lumetra.models.optimize import native_value

from helpers import same_bits

MODELS = [
    ets.EtsModel(e, t, s)
    for e in "AM"
    for t in ("N", "A", "Ad")
    for s in "NAM"
    if not (e == "A" and s == "M")
]


def seasonal_series(n: int, period: int, seed: int) -> np.ndarray:
    """A positive series with a trend, a season and noise."""
    rng = np.random.default_rng(seed)
    t = np.arange(n)
    season = 1.0 + 0.2 * np.sin(2.0 * np.pi * t / period)
    return (100.0 + 0.8 * t) * season * np.exp(rng.normal(0.0, 0.03, n))


def problem(model: ets.EtsModel, period: int, y: np.ndarray):
    layout = ets._layout(model, period)
    return (y,), layout.constants()


def dims(model: ets.EtsModel, period: int) -> int:
    return 2 + (model.trend != "N") * 2 + (model.trend == "Ad") + (model.season != "N") * period


@pytest.mark.parametrize("model", [pytest.param(m, id=m.name) for m in MODELS])
def test_native_objective_is_the_python_objective_bit_for_bit(model):
    period = 4 if model.season != "N" else 1
    y = seasonal_series(23, 4, 1)
    arrays, constants = problem(model, period, y)
    objective = ets.ets_objective(arrays, constants)
    rng = np.random.default_rng(7)
    d = dims(model, period)
    seasons = period - 1 if model.season != "N" else 0
    points = []
    for _ in range(40):
        x = rng.normal(0.0, 3.0, d)
        x[d - seasons - (2 if model.trend != "N" else 1)] += y[0]  # the level
        if model.season == "M":
            x[d - seasons :] = rng.normal(1.0, 0.1, seasons)
        points.append(list(x))
    points += [[math.nan] * d, [math.inf] * d, [-800.0] * d, [0.0] * d]
    values = []
    for x in points:
        value = native_value("ets", x, arrays, constants)
        assert same_bits(value, objective(x)), x
        values.append(value)
    finite = [v for v in values if math.isfinite(v)]
    assert finite and len(finite) < len(values)  # both admissible points and refused ones were met


# (period, error, trend, damped, season) and the bounds, the parameters given, the series, what
# the refusal says
FULL = (0.0,) * 6


@pytest.mark.parametrize(
    "constants, dims, y, message",
    [
        pytest.param(constants, dims, y, message, id=name)
        for constants, dims, y, message, name in [
            ((1, 0, 0, 0, 0), 2, np.ones(9), "11 constants", "too few constants"),
            ((0, 0, 0, 0, 0) + FULL, 2, np.ones(9), "period", "zero period"),
            ((1.5, 0, 0, 0, 0) + FULL, 2, np.ones(9), "period", "half period"),
            ((2e6, 0, 0, 0, 0) + FULL, 2, np.ones(9), "period", "huge period"),
            ((1, -1, 0, 0, 0) + FULL, 2, np.ones(9), "model codes", "negative code"),
            ((1, 0.5, 0, 0, 0) + FULL, 2, np.ones(9), "model codes", "half code"),
            ((1, 2, 0, 0, 0) + FULL, 2, np.ones(9), "model codes", "error code"),
            ((1, 0, 0, 1, 0) + FULL, 3, np.ones(9), "model codes", "damped without trend"),
            ((1, 0, 0, 0, 1) + FULL, 3, np.ones(9), "period of at least 2", "season of period 1"),
            ((1, 0, 1, 0, 0) + FULL, 2, np.ones(9), "one parameter per coordinate", "dims"),
            ((1, 0, 0, 0, 0) + FULL, 2, np.empty(0), "non-empty", "empty"),
        ]
    ],
)
def test_native_objective_refuses_a_problem_it_cannot_evaluate(constants, dims, y, message):
    with pytest.raises(ValueError, match=message):
        native_value("ets", [0.0] * dims, (y,), [float(c) for c in constants])


@pytest.mark.parametrize(
    "period, n", [pytest.param(1, 14, id="yearly"), pytest.param(4, 20, id="quarterly")]
)
def test_native_search_is_the_python_search_bit_for_bit(period, n):
    y = seasonal_series(n, max(period, 2), 3)
    native = ets.fit(y, period)
    python = ets.fit(y, period, engine="python")
    assert native.candidates.keys() == python.candidates.keys()
    assert same_bits(list(native.candidates.values()), list(python.candidates.values()))
    assert (
        same_bits(native.search.x, python.search.x)
        and native.search.evaluations == python.search.evaluations
    )
    assert same_bits(native.forecast(5).upper, python.forecast(5).upper)


@pytest.mark.parametrize("model", [pytest.param(m, id=m.name) for m in MODELS])
def test_forecast_is_the_recursion_run_on_with_zero_errors(model):
    period = 4 if model.season != "N" else 1
    y = seasonal_series(26, 4, 4)
    fit = ets.fit(y, period, model=model.name)
    mean = fit.forecast(11).mean
    fitted, errors, *_ = core.ets_filter(np.concatenate((y, mean)), *fit.arguments)
    assert same_bits(fitted[y.size :], mean)
    assert same_bits(errors[y.size :], np.zeros(11))
    assert same_bits(fitted[: y.size], fit.fitted) and same_bits(fit.residuals, y - fit.fitted)


@pytest.mark.parametrize(
    "y, period",
    [
        pytest.param(5.0 + 2.0 * np.arange(30.0), 1, id="line"),
        pytest.param(np.tile([3.0, -9.0, 5.0, 1.0], 6), 4, id="season"),
        pytest.param(np.tile([30.0, 90.0, 50.0, 10.0], 6), 4, id="positive season"),
    ],
)
def test_a_line_and_a_pure_season_are_forecast_as_themselves(y, period):
    fit = ets.fit(y, period)
    np.testing.assert_allclose(fit.fitted, y, rtol=1e-9)  # found by the heuristic start
    n = y.size
    if period == 1:
        expected = 5.0 + 2.0 * np.arange(n, n + 9.0)
    else:
        expected = np.resize(y[:period], n + 9)[n:]
    np.testing.assert_allclose(fit.forecast(9).mean, expected, rtol=1e-9)


@pytest.mark.parametrize("period", [pytest.param(m, id=f"m={m}") for m in (0, 2, 4, 7, 12)])
def test_admissible_agrees_with_the_eigenvalues_of_the_discount_matrix(period):
    rng = np.random.default_rng(period)
    for _ in range(300):
        alpha, gamma = rng.uniform(0.0, 1.5, 2)
        beta, phi = rng.uniform(-0.2, 1.0), rng.uniform(0.7, 1.0)
        trend = bool(rng.integers(2))
        k = 1 + trend + period
        f = np.zeros((k, k))
        f[0, 0] = 1.0
        w = np.zeros(k)
        w[0] = 1.0
        g = np.zeros(k)
        g[0] = alpha
        if trend:
            f[0, 1] = f[1, 1] = w[1] = phi
            g[1] = beta
        if period:
            first = 1 + trend
            f[first, k - 1] = 1.0  # the new coefficient is the one a period old
            f[first + 1 :, first : k - 1] = np.eye(period - 1)
            w[k - 1] = 1.0
            g[first] = gamma
        roots = np.sort(np.abs(np.linalg.eigvals(f - np.outer(g, w))))
        if period:  # the unit root shared by the season and the level is always there
            roots = np.delete(roots, np.argmin(np.abs(roots - 1.0)))
        if abs(roots.max() - 1.0) < 1e-7:
            continue  # too close to the circle to say
        assert ets.admissible(alpha, beta, gamma, phi, trend, period) == (roots.max() < 1.0)


def test_candidates_follow_the_usual_restrictions():
    positive = seasonal_series(40, 4, 5)
    models, notes = ets.candidates(positive, 4)
    assert len(models) == 15 and notes == ()
    assert all(not (m.error == "A" and m.season == "M") for m in models)
    models, notes = ets.candidates(positive - 150.0, 4)
    assert {m.error for m in models} == {"A"} and {m.season for m in models} == {"N", "A"}
    assert notes == (ets.NOTE_NOT_POSITIVE,)
    assert {m.season for m in ets.candidates(positive[:7], 4)[0]} == {"N"}
    assert ets.candidates(positive, 52)[1] == (ets.NOTE_LONG_PERIOD,)


@pytest.mark.parametrize(
    "y, period, note, seasons",
    [
        pytest.param(
            seasonal_series(7, 4, 6), 4, ets.NOTE_SHORT, {"N"}, id="shorter than two periods"
        ),
        pytest.param(
            seasonal_series(60, 30, 6), 30, ets.NOTE_LONG_PERIOD, {"N"}, id="period above 24"
        ),
        pytest.param(
            seasonal_series(5, 1, 6), 1, ets.NOTE_SHORT_FOR_MODELS, {"N"}, id="five values"
        ),
    ],
)
def test_fallbacks_are_recorded_in_notes(y, period, note, seasons):
    fit = ets.fit(y, period)
    assert note in fit.notes
    assert {name[-2] for name in fit.candidates} == seasons


def test_a_series_too_short_for_any_model_is_refused():
    with pytest.raises(ValueError, match="too short for any ETS model"):
        ets.fit([1.0, 2.0, 3.0])


@pytest.mark.parametrize(
    "call, message",
    [
        pytest.param(lambda: ets.fit([], 1), "y is empty", id="empty"),
        pytest.param(lambda: ets.fit([1.0, math.nan] * 5), "y contains NaN", id="nan"),
        pytest.param(
            lambda: ets.fit([1.0] * 9, 0), "period must be a positive integer", id="period"
        ),
        pytest.param(lambda: ets.fit([1.0] * 9, engine="c"), "engine must be", id="engine"),
        pytest.param(
            lambda: ets.fit([1.0] * 9, model="ETS(A,X,N)"), r"model must be ETS\(A\|M", id="model"
        ),
        pytest.param(
            lambda: ets.fit([1.0] * 9, model="AAN"), "model must be a name", id="model name"
        ),
        pytest.param(
            lambda: ets.fit([-1.0, 1.0] * 9, model="ETS(M,N,N)"),
            "not a candidate",
            id="not a candidate",
        ),
        pytest.param(
            lambda: ets.fit([1.0, 2.0] * 9).forecast(0), "h must be a positive integer", id="h"
        ),
        pytest.param(
            lambda: ets.fit([1.0, 2.0] * 9).forecast(3, level=100), "level must hold", id="level"
        ),
    ],
)
def test_bad_input_gets_a_value_error_naming_it(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_the_chosen_model_has_the_smallest_aicc_and_reports_its_parameters():
    y = seasonal_series(48, 12, 8)
    fit = ets.fit(y, 12)
    assert fit.aicc == min(fit.candidates.values()) == fit.candidates[fit.method]
    assert fit.arguments[3:7] == tuple(fit.params[k] for k in ("alpha", "beta", "gamma", "phi"))
    for name, (lo, hi) in fit.bounds.items():
        value = fit.params[name]
        assert lo <= value <= hi
        near = min(abs(value - lo) / max(1.0, abs(lo)), abs(value - hi) / max(1.0, abs(hi))) <= 1e-6
        assert near == (name in fit.at_bound)
    if fit.model.trend != "N":  # the trend neither compounds nor dies out faster than its damping
        assert math.isclose(fit.params["phi"] * (1.0 + fit.params["beta"]), fit.params["damping"])


@pytest.mark.parametrize(
    "seed, period",
    [pytest.param(s, p, id=f"seed {s}, m={p}") for s, p in [(9, 1), (10, 4), (11, 12)]],
)
def test_intervals_hold_the_forecast_and_widen_with_level_and_horizon(seed, period):
    y = seasonal_series(60, max(period, 2), seed)
    fit = ets.fit(y, period)
    forecast = fit.forecast(12, level=(50, 80, 95))
    width = forecast.upper - forecast.lower
    assert np.all(forecast.lower < forecast.mean) and np.all(forecast.mean < forecast.upper)
    assert np.all(np.diff(width, axis=0) > 0.0)  # a higher level is wider
    if fit.model.error == "M":  # the error is relative to the forecast
        width = width / np.abs(forecast.mean)
    assert np.all(np.diff(width, axis=1) >= -1e-12 * width[:, 1:])  # and so is a later step


def test_fit_leaves_the_callers_array_alone_and_accepts_a_list():
    y = seasonal_series(30, 4, 12)
    before = y.copy()
    fit = ets.fit(y, 4)
    assert same_bits(y, before)
    assert same_bits(ets.fit(y.tolist(), 4).forecast(6).mean, fit.forecast(6).mean)


@pytest.mark.parametrize("trend", ["A", "Ad"])
def test_the_recursion_so_parameterised_is_the_textbook_trend_model(trend):
    # Textbook (error-correction form): forecast l + f b, l <- l + f b + alpha e,
    # b <- f b + beta_t e. The recursion's fitted values must be the same.
    y = 50.0 + np.cumsum(np.random.default_rng(13).normal(1.0, 2.0, 40))
    fit = ets.fit(y, model=f"ETS(A,{trend},N)")
    p = fit.params
    f, beta_t = p["damping"], p["alpha"] * p["beta"] / (1.0 + p["beta"])
    level, slope = p["level0"], p["phi"] * p["trend0"] / f  # the first increment is f * slope
    expected = np.empty(y.size)
    for t, value in enumerate(y):
        expected[t] = level + f * slope
        e = value - expected[t]
        level, slope = level + f * slope + p["alpha"] * e, f * slope + beta_t * e
    np.testing.assert_allclose(fit.fitted, expected, rtol=1e-12)
    steps = np.diff(fit.forecast(8).mean)
    # neither compounds nor fades faster
    np.testing.assert_allclose(steps[1:] / steps[:-1], f, rtol=1e-9)


def test_intervals_cover_futures_of_the_model_itself():
    # Local level series: the 95% interval of ETS(A,N,N) should hold about 95% of their futures.
    rng = np.random.default_rng(14)
    covered = []
    for _ in range(150):
        level = 100.0 + np.cumsum(rng.normal(0.0, 1.0, 66))
        y = level + rng.normal(0.0, 2.0, 66)
        forecast = ets.fit(y[:60], model="ETS(A,N,N)").forecast(6, level=95)
        covered.append((forecast.lower[0] <= y[60:]) & (y[60:] <= forecast.upper[0]))
    assert 0.92 <= np.mean(covered) <= 0.99
