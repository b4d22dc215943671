"""The models of lumetra.models: their forecasts of series whose future is known, their
recursions run on past the data, their two engines, their intervals and their boundary."""

from __future__ import annotations

import importlib.util
import math

import numpy as np
import pytest

import lumetra._core as core
import lumetra._fit as lumetra_fit
from lumetra.models import ces, combination, dotm, theta

from helpers import same_bits

MODELS = {"theta": theta, "dotm": dotm, "ces": ces}
RNG = np.random.default_rng(7)
PATTERN = np.array([0.8, 1.1, 1.3, 0.8])


def walk(n: int, seed: int, drift: float = 0.3) -> np.ndarray:
    return 50.0 + np.cumsum(np.random.default_rng(seed).normal(drift, 1.0, n))


def seasonal(n: int, seed: int) -> np.ndarray:
    return walk(n, seed) * np.resize(PATTERN, n)


SERIES = [
    pytest.param(walk(30, 1), 1, id="walk"),
    pytest.param(walk(9, 2), 1, id="short walk"),
    pytest.param(seasonal(48, 3), 4, id="seasonal"),
    pytest.param(walk(7, 4), 4, id="shorter than two periods"),
]


@pytest.mark.parametrize("name", MODELS)
@pytest.mark.parametrize("y, period", SERIES)
def test_python_and_native_engines_give_the_same_fit_and_forecast_bit_for_bit(name, y, period):
    native = MODELS[name].fit(y, period)
    python = MODELS[name].fit(y, period, engine="python")
    assert (
        same_bits(native.search.x, python.search.x)
        and native.search.evaluations == python.search.evaluations
    )
    assert same_bits(native.fitted, python.fitted) and native.params == python.params
    a, b = native.forecast(7), python.forecast(7)
    assert same_bits(a.mean, b.mean) and same_bits(a.upper, b.upper)


@pytest.mark.parametrize("name", MODELS)
def test_a_constant_series_is_forecast_as_itself(name):
    forecast = MODELS[name].fit(np.full(24, 42.0), 4).forecast(5)
    assert np.allclose(forecast.mean, 42.0, rtol=1e-9)


@pytest.mark.parametrize("name", MODELS)
def test_a_pure_seasonal_pattern_is_forecast_as_itself(name):
    y = 100.0 * np.resize(PATTERN, 40)
    result = MODELS[name].fit(y, 4)
    assert np.allclose(result.forecast(8).mean, 100.0 * np.resize(PATTERN, 8), rtol=1e-6), (
        result.method
    )
    assert getattr(result, "seasonal", True) and result.method != "CES(n)"


def test_theta_forecasts_a_straight_line_with_half_its_slope_from_the_last_value():
    """The theta method is simple exponential smoothing with a drift of half the line's slope."""
    y = 10.0 + 2.0 * np.arange(30.0)
    result = theta.fit(y)
    assert result.params["slope"] == pytest.approx(2.0) and result.params["alpha"] > 0.99
    assert np.allclose(result.forecast(6).mean, y[-1] + 1.0 * np.arange(1, 7), rtol=1e-6)


def test_dotm_follows_a_straight_line_by_raising_theta_to_its_bound():
    y = 10.0 + 2.0 * np.arange(30.0)
    result = dotm.fit(y)
    assert "theta" in result.at_bound and result.params["theta"] == pytest.approx(
        dotm.THETA_BOUNDS[1]
    )
    slope = (1.0 - 1.0 / dotm.THETA_BOUNDS[1]) * 2.0  # the weight of the line times its slope
    assert np.allclose(np.diff(result.forecast(6).mean), slope, rtol=1e-6)


@pytest.mark.parametrize("y, period", SERIES[:3])
def test_dotm_forecast_is_the_dot_recursion_run_on_with_zero_errors(y, period):
    """Appending the forecasts to the series, the kernel's errors there are exactly zero and
    its last level is the one the forecast continued from."""
    result = dotm.fit(y, period)
    x = result._adjustment.adjusted
    a, b = dotm.kernel_line(result.params)
    path = dotm.run_on(result._level, a, b, result.params["alpha"], x.size, 9)
    padded = np.concatenate(([result.params["level0"]], x, path))
    errors, _ = core.dot_residuals(padded, a, b, 2.0, result.params["alpha"], 0.0)
    assert not np.any(errors[x.size :])
    assert same_bits(result._adjustment.reseasonalise(path, x.size), result.forecast(9).mean)


@pytest.mark.parametrize("y, period", SERIES)
def test_ces_fitted_values_reproduce_the_kernels_sse_and_the_forecast_adds_zero_errors(y, period):
    result = ces.fit(y, period)
    sse = 0.0
    for e in result.residuals.tolist():
        sse += e * e
    assert same_bits(sse, result.search.value)  # the kernel's sum, from the native search
    forecast = result.forecast(6).mean
    p = result.params
    padded = np.concatenate(([0.0], y, forecast))
    if result.method == "CES(s)":
        season = np.roll(result.season0, 1)  # by the kernel's phase: the pseudo-observation's first
        padded[0] = result.params["level0"] + season[0]
        extended = core.ces_seasonal_sse(
            padded, p["a0_real"], p["a0_imag"], p["gamma"], season, period
        )
    else:
        padded[0] = result.params["level0"]
        extended = core.ces_nonseasonal_sse(padded, p["a0_real"], p["a0_imag"])
    assert same_bits(extended, sse)  # every appended step's error is exactly zero


def ces_sse(y, params, level, season):
    """The kernel's sum of squares with these initial states (by the kernel's phase)."""
    padded = np.concatenate(([level + season[0]], y))
    return core.ces_seasonal_sse(
        padded, params["a0_real"], params["a0_imag"], params["gamma"], season, season.size
    )


@pytest.mark.parametrize("engine", ["native", "python"])
def test_ces_least_squares_states_recover_the_states_that_made_a_series(engine):
    """A series that the seasonal recursion makes with every error zero is fitted exactly
    from wrong initial states (whose seasonal part has the same sum)."""
    params = {"a0_real": 1.1, "a0_imag": 0.35, "gamma": 0.15}
    level, season = 50.0, np.array([3.0, -1.0, 2.5, -4.5])
    y, _, _ = ces.recursion(np.zeros(36), params, (level, 0.0, 0), season, predict=True)
    if engine == "native":
        found = lumetra_fit.ces_initial_states(
            y, season + [1.0, 2.0, -1.0, -2.0], 1.1, 0.35, 0.15, level - 7.0
        )
        moved = (found[0], np.array(found[1]))
    else:
        moved = ces.least_squares_states(y, params, level - 7.0, season + [1.0, 2.0, -1.0, -2.0])
    assert moved[0] == pytest.approx(level, abs=1e-9) and np.allclose(moved[1], season, atol=1e-9)
    assert ces_sse(y, params, *moved) < 1e-16 * float(y @ y)


@pytest.mark.parametrize("y, period", [SERIES[2], pytest.param(seasonal(60, 21), 12, id="monthly")])
def test_ces_least_squares_states_are_the_minimum_of_the_quadratic(y, period):
    """No move of the level or of one seasonal state against the last one lowers the sum of
    squares, the moved seasonal states keep their sum, and the fit keeps the lower of the
    search's states and these."""
    result = ces.fit(y, period)
    assert result.method == "CES(s)"
    params, season = result.params, np.roll(result.season0, 1)
    level = (params["level0"] + season[0]) - season[0]
    best = ces_sse(y, params, level, season)
    for i in range(period):
        for h in (-1e-3, 1e-3):
            moved = season.copy()
            if i > 0:
                moved[i - 1] += h
                moved[-1] -= h
            assert ces_sse(y, params, level + (h if i == 0 else 0.0), moved) > best
    start = ces.initial_season(y, period)
    assert math.isclose(
        float(np.sum(result.season0)), float(np.sum(start)), abs_tol=1e-9 * float(np.max(np.abs(y)))
    )
    search = ces.minimise(
        "ces_s",
        ces.seasonal_objective,
        [0.0, 0.0, 0.0, float(y[0] - start[0])],
        [1.0, 1.0, 1.0, ces.level_step(y)],
        (np.concatenate(([0.0], y)), np.roll(start, 1)),
        (float(period),),
        "native",
    )
    assert result.search.value < search.value and result.search.evaluations == search.evaluations


@pytest.mark.parametrize("name", ["theta", "dotm"])
@pytest.mark.parametrize("y, period", SERIES)
def test_intervals_contain_the_forecast_widen_with_the_horizon_and_the_level(name, y, period):
    forecast = MODELS[name].fit(y, period).forecast(12, level=(50, 80, 95))
    assert forecast.levels == (50.0, 80.0, 95.0)
    assert np.all(forecast.lower <= forecast.mean) and np.all(forecast.mean <= forecast.upper)
    assert np.all(np.diff(forecast.lower, axis=0) < 0) and np.all(
        np.diff(forecast.upper, axis=0) > 0
    )
    adjusted = MODELS[name].fit(y, period)._adjustment
    width = (forecast.upper - forecast.lower) / adjusted.reseasonalise(np.ones(12), y.size)
    assert np.all(np.diff(width, axis=1) >= -1e-9 * width[:, 1:])


def test_the_combination_is_the_mean_of_its_parts():
    y, members = seasonal(40, 5), ("theta", "dotm", "ces")
    result = combination.fit(y, 4, members=members)
    parts = [MODELS[name].fit(y, 4) for name in members]
    means = [part.forecast(8).mean for part in parts]
    assert same_bits(result.forecast(8).mean, ((np.zeros(8) + means[0] + means[1]) + means[2]) / 3)
    assert same_bits(
        result.fitted, ((np.zeros(40) + parts[0].fitted + parts[1].fitted) + parts[2].fitted) / 3
    )
    assert (
        result.method == f"Combination(Theta, DOTM, {parts[2].method})"
        and result.forecast(8).levels == ()
    )


@pytest.mark.skipif(
    importlib.util.find_spec("lumetra.models.ets") is None,
    reason="lumetra.models.ets is not installed",
)
def test_the_default_combination_is_ets_dotm_and_ces():
    y = seasonal(40, 6)
    result = combination.fit(y, 4)
    assert result.names == ("ets", "dotm", "ces") and len(result.members) == 3


def test_a_seasonal_series_shorter_than_two_periods_is_fitted_without_season_and_says_so():
    for name, module in MODELS.items():
        result = module.fit(walk(7, 4), 4)
        assert result.notes == ("series shorter than two periods: fitted without season",), name
        assert module.fit(walk(7, 4), 1).notes == ()


BAD_Y = [
    ([], "y is empty"),
    ([1.0, math.nan], r"y contains NaN \(first at index 1\)"),
    ([[1.0, 2.0]], "y must be one-dimensional"),
    ([1j, 2j], "y must hold real numbers"),
]


@pytest.mark.parametrize("name", [*MODELS, "combination"])
def test_bad_input_gets_the_documented_value_error(name):
    module = MODELS.get(name, combination)
    for y, message in BAD_Y:
        with pytest.raises(ValueError, match=message):
            module.fit(y)
    for period in (0, 1.5, True):
        with pytest.raises(ValueError, match=r"^period must be a positive integer, got "):
            module.fit([1.0, 2.0, 3.0], period)
    kwargs = {"members": ("theta",)} if name == "combination" else {}
    result = module.fit([1.0, 2.0, 3.0, 5.0], **kwargs)
    for h in (0, -1, 2.0):
        with pytest.raises(ValueError, match=r"^h must be a positive integer, got "):
            result.forecast(h)
    with pytest.raises(ValueError, match=r"^level must hold numbers strictly between 0 and 100"):
        result.forecast(3, level=(80, 100))


@pytest.mark.parametrize("name", MODELS)
def test_the_caller_s_array_is_neither_written_nor_kept(name):
    y = seasonal(40, 8)
    before = y.copy()
    result = MODELS[name].fit(y, 4)
    forecast = result.forecast(5).mean
    assert same_bits(y, before)
    y[:] = 0.0  # changing the caller's array later changes nothing in the fit
    assert same_bits(result.forecast(5).mean, forecast) and np.allclose(
        result.fitted + result.residuals, before
    )


def test_engine_must_be_native_or_python():
    with pytest.raises(ValueError, match="engine must be 'native' or 'python', got 'c'"):
        theta.fit([1.0, 2.0], engine="c")


def test_results_are_frozen_and_carry_their_search_bounds():
    result = ces.fit(walk(30, 9))
    with pytest.raises(AttributeError):
        result.method = "x"  # type: ignore[misc]
    assert (
        set(result.bounds) >= {"r", "phi"}
        and result.aicc is not None
        and math.isfinite(result.aicc)
    )
    assert theta.fit(walk(30, 9)).aicc is None


@pytest.mark.parametrize("name", [*MODELS, "combination"])
@pytest.mark.parametrize("y", [[5.0], [5.0, 7.0], [5.0, 7.0, 6.0]], ids=["one", "two", "three"])
@pytest.mark.parametrize("period", [1, 12])
def test_the_shortest_series_are_fitted_and_forecast(name, y, period):
    module = MODELS.get(name, combination)
    kwargs = {"members": ("theta", "dotm", "ces")} if name == "combination" else {}
    result = module.fit(y, period, **kwargs)
    forecast = result.forecast(4)
    assert (
        np.all(np.isfinite(forecast.mean))
        and np.all(np.isfinite(forecast.lower))
        and np.all(np.isfinite(forecast.upper))
    )
    assert result.fitted.shape == (len(y),) and (period == 1) == (result.notes == ())


def test_values_not_all_positive_take_the_additive_decomposition_and_say_so():
    y = seasonal(48, 11) - 60.0  # crosses zero
    for module in (theta, dotm):
        result = module.fit(y, 4)
        assert result.seasonal and "additive seasonal decomposition" in result.notes[0]
        forecast = result.forecast(8)
        assert np.all(forecast.lower <= forecast.mean) and np.all(forecast.mean <= forecast.upper)


@pytest.mark.parametrize("name", ["theta", "dotm"])
def test_a_season_is_taken_out_only_when_the_autocorrelation_test_finds_one(name):
    noise = 100.0 + np.random.default_rng(12).normal(0.0, 1.0, 60)
    assert not MODELS[name].fit(noise, 12).seasonal and MODELS[name].fit(noise, 12).notes == ()
    assert MODELS[name].fit(seasonal(60, 12), 4).seasonal
    assert not MODELS[name].fit(seasonal(60, 12), 1).seasonal  # no season asked for


def test_ces_chooses_the_seasonal_model_for_a_season_and_not_for_a_walk():
    assert ces.fit(seasonal(60, 13), 4).method == "CES(s)"
    assert ces.fit(walk(60, 13), 4).method == "CES(n)"
    result = ces.fit(seasonal(60, 13), 4)
    assert (
        set(result.params) == {"a0_real", "a0_imag", "level0", "gamma"}
        and 0.0 < result.params["gamma"] < 1.0
    )
    a_r, a_i = result.params["a0_real"], result.params["a0_imag"]
    assert (1.0 - a_r) ** 2 + a_i**2 < 1.0  # inside the region where the recursion forgets its past


def test_calibrated_intervals_cover_simulated_futures_at_about_their_level():
    """On random walks with noise (a model the theta method fits), the 80% and 95% intervals
    hold about 80% and 95% of the simulated future values: neither far narrower nor far wider."""
    rng = np.random.default_rng(14)
    inside = {80.0: 0, 95.0: 0}
    total = 0
    for _ in range(150):
        path = np.cumsum(rng.normal(0.0, 1.0, 48)) + rng.normal(0.0, 1.0, 48) + 100.0
        forecast = theta.fit(path[:40]).forecast(8)
        for level in inside:
            lower, upper = forecast.interval(level)
            inside[level] += int(np.sum((path[40:] >= lower) & (path[40:] <= upper)))
        total += 8
    assert 0.72 < inside[80.0] / total < 0.92 and 0.90 < inside[95.0] / total < 0.995


def test_student_quantiles_match_the_tables():
    from lumetra.models._intervals import student_quantile

    table = {
        (95.0, 1.0): 12.7062,
        (95.0, 2.0): 4.30265,
        (95.0, 3.0): 3.18245,
        (95.0, 5.0): 2.57058,
        (95.0, 30.0): 2.04227,
        (95.0, 500.0): 1.96472,
        (80.0, 3.0): 1.63774,
        (80.0, 30.0): 1.31042,
        (50.0, 4.0): 0.74070,
    }
    for (level, nu), value in table.items():
        assert float(student_quantile(level, np.array([nu]))[0]) == pytest.approx(value, rel=2e-4)


def test_interval_scales_are_the_larger_of_the_formula_and_the_in_sample_k_step_errors():
    """Checked against a plain loop over the origins, for a series long enough that every
    step is reached from five origins or more."""
    from lumetra.models._intervals import DriftErrors, drift_intervals, student_quantile

    x = walk(30, 15)
    fitted = np.concatenate(([x[0]], x[:-1])) + 0.2  # a one-step forecast with a bias
    errors = DriftErrors(x, fitted, alpha=0.6, drift=0.2, parameters=3)
    forecast = drift_intervals(np.zeros(6), errors, (95.0,))
    sigma = math.sqrt(np.mean((x - fitted) ** 2))
    for k in range(1, 7):
        loop = [x[i + k - 1] - fitted[i] - 0.2 * (k - 1) for i in range(30 - k + 1)]
        empirical = math.sqrt(sum(e * e for e in loop) / len(loop))
        usual = sigma * math.sqrt(1.0 + (k - 1) * 0.36)
        nu = np.array([float(len(loop) - 3)])
        expected = max(empirical, usual) * math.sqrt(30 / 27) * float(student_quantile(95.0, nu)[0])
        assert forecast.upper[0, k - 1] == pytest.approx(expected, rel=1e-12)


@pytest.mark.parametrize("name", MODELS)
@pytest.mark.parametrize("y, period", SERIES[:3])
def test_forecasts_scale_with_the_series(name, y, period):
    """Every model is homogeneous: a series in other units is forecast in those units. An
    absolute constant hidden in a search (a step, a floor, a tolerance) would break this."""
    small, large = (
        MODELS[name].fit(y, period).forecast(6),
        MODELS[name].fit(1e6 * y, period).forecast(6),
    )
    assert np.allclose(large.mean, 1e6 * small.mean, rtol=1e-6)
    assert np.allclose(large.upper, 1e6 * small.upper, rtol=1e-6)


@pytest.mark.parametrize("y, period", SERIES[:3])
def test_the_residuals_are_the_errors_the_search_minimised(y, period):
    """Fitted values aligned one step off the levels would leave the objective's value behind."""
    result = theta.fit(y, period)
    season = result._adjustment.reseasonalise(np.ones(y.size), 0)
    adjusted = result.residuals / season if result.seasonal else result.residuals
    # the theta-2 line's errors are twice the series' (the forecast is the mean of two lines)
    assert 4.0 * float(adjusted @ adjusted) == pytest.approx(result.search.value, rel=1e-9)
    result = dotm.fit(y, period)
    adjusted = result.residuals / season if result.seasonal else result.residuals
    assert float(adjusted @ adjusted) == pytest.approx(result.search.value, rel=1e-9)


def test_the_trend_line_is_the_least_squares_line_through_t_1_to_n():
    for n in (1, 2, 5, 40):
        x = walk(n, n)
        intercept, slope = theta.trend_line(x)
        if n > 1:
            expected_slope, expected_intercept = np.polyfit(np.arange(1.0, n + 1.0), x, 1)
            assert (intercept, slope) == pytest.approx(
                (expected_intercept, expected_slope), rel=1e-9, abs=1e-9
            )
        else:
            assert (intercept, slope) == (x[0], 0.0)


def test_the_combination_refuses_an_empty_or_unknown_member_list():
    with pytest.raises(ValueError, match="members must name at least one model"):
        combination.fit([1.0, 2.0, 3.0], members=())
    with pytest.raises(ValueError, match="members: no model named 'arima'"):
        combination.fit([1.0, 2.0, 3.0], members=("theta", "arima"))
