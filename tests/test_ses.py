"""Simple exponential smoothing: ses_sse and ses_filter."""

from __future__ import annotations

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import lumetra._core as core
from helpers import PanicException, same_bits

finite = st.floats(-1e6, 1e6, allow_nan=False)


def levels_reference(y, alpha):
    levels = [y[0]]
    for value in y[1:]:
        levels.append(alpha * value + (1.0 - alpha) * levels[-1])
    return levels


def sse_reference(y, alpha):
    sse, level = 0.0, y[0]
    for value in y[1:]:
        e = value - level
        sse = sse + e * e
        level = (1.0 - alpha) * level + alpha * value
    return sse


def test_worked_case():
    y = np.array([1.0, 2.0, 3.0])
    assert core.ses_sse(y, 0.5) == 3.25
    assert core.ses_filter(y, 0.5).tolist() == [1.0, 1.5, 2.25]


@pytest.mark.parametrize("alpha", [0.0, 0.5, 1.0, -3.0, 7.5])
def test_single_observation(alpha):
    assert core.ses_sse(np.array([5.0]), alpha) == 0.0
    assert core.ses_filter(np.array([5.0]), alpha).tolist() == [5.0]


def test_alpha_one_follows_the_series_and_alpha_zero_stays_at_the_start():
    y = np.array([2.0, -1.0, 4.0, 4.5, 10.0])
    assert core.ses_sse(y, 1.0) == sum(float(d) ** 2 for d in np.diff(y))
    assert core.ses_filter(y, 1.0).tolist() == y.tolist()
    assert core.ses_sse(y, 0.0) == sum(float(v - y[0]) ** 2 for v in y[1:])
    assert core.ses_filter(y, 0.0).tolist() == [2.0] * 5


@given(st.lists(finite, min_size=1, max_size=60), st.floats(-2, 2, allow_nan=False))
def test_bit_identical_to_the_recursion(values, alpha):
    y = np.array(values)
    assert same_bits(core.ses_sse(y, alpha), sse_reference(values, alpha))
    assert same_bits(core.ses_filter(y, alpha), np.array(levels_reference(values, alpha)))


@given(st.lists(finite, min_size=1, max_size=60), st.floats(0, 1))
def test_sse_scores_the_filters_one_step_forecasts(values, alpha):
    # ses_filter's level after y[t-1] is the forecast of y[t] that ses_sse scores
    y = np.array(values)
    levels = core.ses_filter(y, alpha)
    sse = 0.0
    for t in range(1, len(values)):
        e = values[t] - float(levels[t - 1])
        sse = sse + e * e
    assert same_bits(core.ses_sse(y, alpha), sse)


@pytest.mark.parametrize("function", [core.ses_sse, core.ses_filter])
def test_empty_series_is_an_internal_failure(function):
    with pytest.raises(PanicException(), match="^ndarray: index out of bounds$"):
        function(np.empty(0), 0.5)


def test_special_values_propagate():
    y = np.array([1.0, np.nan, 3.0])
    assert np.isnan(core.ses_sse(y, 0.5))
    assert np.isnan(core.ses_filter(y, 0.5)[1:]).all()
    assert np.isnan(core.ses_sse(np.array([1.0, 2.0, 3.0]), float("nan")))
    assert core.ses_sse(np.array([0.0, np.inf]), 0.5) == np.inf
