"""The modelling layer's boundary: what fit() and forecast() accept and the ValueError they raise
otherwise, and the Forecast type's guarantees."""

from __future__ import annotations

import numpy as np
import pytest

from lumetra.models import Forecast, _checks, _forecast

GOOD = [1.0, 2.0, 4.0, 7.0]


@pytest.mark.parametrize(
    "given",
    [
        pytest.param(GOOD, id="list"),
        pytest.param(tuple(GOOD), id="tuple"),
        pytest.param([1, 2, 4, 7], id="ints"),
        pytest.param(np.array(GOOD, dtype=np.float32), id="float32"),
        pytest.param(np.array([1, 2, 4, 7], dtype=np.uint8), id="uint8"),
        pytest.param(np.repeat(GOOD, 2)[::2], id="strided"),
        pytest.param(np.array(GOOD, dtype=object), id="objects"),
    ],
)
def test_series_accepts_real_sequences_as_a_new_contiguous_float64_array(given):
    result = _checks.series(given)
    assert result.dtype == np.float64 and result.flags.c_contiguous and result.tolist() == GOOD
    assert (
        not np.shares_memory(result, np.asarray(given)) if isinstance(given, np.ndarray) else True
    )


def test_series_accepts_a_pandas_series_and_its_nullable_columns():
    pd = pytest.importorskip("pandas")
    assert _checks.series(pd.Series(GOOD, index=list("abcd"))).tolist() == GOOD
    assert _checks.series(pd.Series([1, 2, 4, 7], dtype="Int64")).tolist() == GOOD
    with pytest.raises(
        ValueError, match=r"^y contains (NaN|a missing value) \(first at index 1\)$"
    ):
        _checks.series(pd.Series([1, None, 3], dtype="Float64"))


@pytest.mark.parametrize(
    "given, message",
    [
        pytest.param([], "y is empty", id="empty"),
        pytest.param(3.0, "y must be one-dimensional, got a scalar", id="scalar"),
        pytest.param(
            [[1.0, 2.0]], r"y must be one-dimensional, got an array of shape \(1, 2\)", id="2-d"
        ),
        pytest.param([1.0, np.nan], r"y contains NaN \(first at index 1\)", id="nan"),
        pytest.param(
            [1.0, 2.0, -np.inf], r"y contains an infinite value \(first at index 2\)", id="inf"
        ),
        pytest.param(
            np.array([1e300], dtype=np.longdouble) * 1e300,
            r"y contains an infinite value \(first at index 0\)",
            id="overflow",
        ),
        pytest.param([1 + 2j], "y must hold real numbers, got dtype complex128", id="complex"),
        pytest.param(["1.5"], "y must hold real numbers, got dtype <U3", id="strings"),
        pytest.param([True, False], "y must hold real numbers, got dtype bool", id="bools"),
        pytest.param(
            np.array([1.0, "a"], dtype=object),
            "y must hold real numbers, got str at index 1",
            id="object str",
        ),
        pytest.param(
            np.array([1.0, None], dtype=object),
            r"y contains a missing value \(first at index 1\)",
            id="None",
        ),
        pytest.param(
            [[1.0], [2.0, 3.0]], "y must be a one-dimensional sequence of real numbers", id="ragged"
        ),
    ],
)
def test_series_refuses_with_a_message_naming_the_argument(given, message):
    with pytest.raises(ValueError, match=f"^{message}$"):
        _checks.series(given)


@pytest.mark.parametrize("value", [0, -1, 1.0, 12.0, True, "12", None, 2.5])
def test_period_and_horizon_must_be_positive_integers(value):
    with pytest.raises(
        ValueError, match=rf"^period must be a positive integer, got {value!r}$".replace("(", r"\(")
    ):
        _checks.period(value)
    with pytest.raises(ValueError, match=r"^h must be a positive integer, got "):
        _checks.horizon(value)


def test_period_and_horizon_accept_python_and_numpy_integers():
    assert _checks.period(np.int64(12)) == 12 and type(_checks.period(np.int64(12))) is int
    assert _checks.horizon(1) == 1


@pytest.mark.parametrize(
    "value", [0, 100, -5, 150.0, float("nan"), "95", [80, 100], [True], None], ids=repr
)
def test_levels_must_lie_strictly_between_0_and_100(value):
    with pytest.raises(
        ValueError, match=r"^level must hold numbers strictly between 0 and 100, got "
    ):
        _checks.levels(value)


def test_levels_take_one_number_or_several_in_order():
    assert (
        _checks.levels(95) == (95.0,)
        and _checks.levels([95, 80.5]) == (95.0, 80.5)
        and _checks.levels(()) == ()
    )


def test_gaussian_intervals_contain_the_mean_widen_with_level_and_scale():
    mean, scale = np.array([10.0, 11.0, 12.0]), np.array([1.0, 2.0, 3.0])
    forecast = _forecast.gaussian(mean, scale, (80.0, 95.0, 50.0))
    assert forecast.lower.shape == (3, 3) and forecast.levels == (80.0, 95.0, 50.0)
    lo80, hi80 = forecast.interval(80.0)
    lo95, hi95 = forecast.interval(95.0)
    assert np.all(lo95 < lo80) and np.all(hi80 < hi95) and np.all(np.diff(hi95 - lo95) > 0)
    assert np.allclose(hi95 - mean, 1.959963984540054 * scale, rtol=1e-15)
    with pytest.raises(KeyError):
        forecast.interval(90.0)
    with pytest.raises(ValueError):  # read-only: a forecast cannot be changed after the fact
        forecast.mean[0] = 0.0


def test_intervals_from_paths_hold_the_point_forecast_even_when_the_paths_miss_it():
    rng = np.random.default_rng(1)
    paths = 5.0 + rng.normal(size=(2000, 4)) * np.arange(1, 5)
    mean = np.array([5.0, 5.0, 5.0, 50.0])  # the last step's paths all lie below the mean
    forecast = _forecast.from_paths(mean, paths, (80.0, 95.0))
    assert (
        np.all(forecast.lower <= mean)
        and np.all(mean <= forecast.upper)
        and forecast.upper[1, 3] == 50.0
    )
    assert np.all(forecast.lower[1] <= forecast.lower[0]) and np.all(
        np.diff(forecast.upper[1, :3]) > 0
    )


def test_a_forecast_without_intervals_and_a_malformed_one():
    forecast = _forecast.point(np.arange(3.0))
    assert forecast.lower.shape == (0, 3) and forecast.levels == () and forecast.h == 3
    with pytest.raises(ValueError, match="needs bounds of shape"):
        Forecast(np.zeros(3), (95.0,), np.zeros((1, 2)), np.zeros((1, 3)))
