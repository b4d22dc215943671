"""Simple exponential smoothing: ses_sse and ses_filter."""

from __future__ import annotations

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import lumetra._core as core
from helpers import check, same_bits

values = st.floats(-1e6, 1e6) | st.sampled_from([np.nan, np.inf, -np.inf, -0.0])


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


@given(st.lists(values, min_size=1, max_size=60), st.floats(-2, 2) | st.sampled_from([0.0, 1.0, np.nan]))
def test_bit_identical_to_the_recursion(y, alpha):
    assert same_bits(core.ses_sse(np.array(y), alpha), sse_reference(y, alpha))
    assert same_bits(core.ses_filter(np.array(y), alpha), np.array(levels_reference(y, alpha)))


@pytest.mark.parametrize("function", [core.ses_sse, core.ses_filter])
def test_empty_series_is_an_internal_failure(function):
    check(function, ([], 0.5), "ndarray: index out of bounds")
