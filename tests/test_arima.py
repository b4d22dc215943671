"""ARIMA conditional sum of squares: arima_css, css_objective, seasonal_css_objective."""

from __future__ import annotations

import math

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import lumetra._core as core

from helpers import arr, check, log, matches, worked

BIG = 1.7976931348623157e308  # arima_css: nothing to score


def residual_ss(w, ar, ma, sar, sma, m, start):
    """Sum of squared residuals from `start`, pre-sample residuals zero."""
    e, ss = [0.0] * len(w), 0.0
    for t in range(start, len(w)):
        s = 0.0
        for c, x in [
            *zip(ar, w[t - 1 :: -1]),
            *((c, w[t - (j + 1) * m]) for j, c in enumerate(sar)),
            *zip(ma, e[t - 1 :: -1]),
            *((c, e[t - (j + 1) * m]) for j, c in enumerate(sma)),
        ]:
            s = s + c * x
        e[t] = w[t] - s
        ss = ss + e[t] * e[t]
    return ss


def arima_reference(y, ar, ma, d):
    w = list(y)
    for _ in range(min(d, len(w))):
        w = [b - a for a, b in zip(w, w[1:])]
    m = max(len(ar), len(ma))
    if len(w) <= m:
        return BIG
    r = float(len(w) - m)
    return r * log(residual_ss(w, ar, ma, [], [], 0, m) / r)


def seasonal_reference(y, ar, ma, sar, sma, m):
    start = max(len(ar), len(ma), len(sar) * m, len(sma) * m, 1)  # exact integers
    return 0.0 if start >= len(y) else residual_ss(y, ar, ma, sar, sma, m, start)


E, Y4, Y6 = [], [1, 2, 4, 7], [1, 2, 4, 7, 11, 16]  # check() passes lists as arrays
S = core.seasonal_css_objective


@pytest.mark.parametrize(
    "function, args, expected",
    worked(
        [
            (core.arima_css, (Y4, E, E, 1), 3 * math.log(14 / 3)),
            # six second differences of 1: 6 ln(6 / 6)
            (core.arima_css, ([1, 2, 4, 7, 11, 16, 22, 29], E, E, 2), 0.0),
            (core.arima_css, ([2, 2, 2], E, E, 1), -math.inf),  # no residual left
            # nothing to score: the coefficients are not read either
            (core.arima_css, (E, E, E, 0), BIG),
            (core.arima_css, ([1, 2, 3], [0.5, np.nan], E, 1), BIG),
            (core.css_objective, (Y4, [0.5], E), 145 / 4),
            (S, (Y6, E, E, [0.5], E, 2), 571 / 2),
            # a season span P m of 2^64 saturates instead of wrapping to a start of 1
            (S, (Y6, E, E, [0.5, 0.5], E, 2**63), 0.0),
            (S, (Y6, E, E, E, [0.5, 0.5, 0.5], 2**64 - 1), 0.0),
        ]
    ),
)
def test_worked_cases_and_sentinels(function, args, expected):
    check(function, args, expected)


values = {"small": st.floats(-1.5, 1.5), "finite": st.floats(-100, 100), "any": st.floats()}


# Orders up to 5 run a step compiled for the exact order, with the last q residuals in locals; larger ones
# read them back from the residual array, which seasonal MA terms need as well: orders on both sides of
# that boundary, with and without the seasonal parts.
@pytest.mark.parametrize("kind", values)
@given(data=st.data())
def test_bit_identical_to_a_plain_transcription(kind, data):
    y, ar, ma, sar, sma = (data.draw(st.lists(values[kind], max_size=k)) for k in (24, 8, 8, 4, 4))
    m = data.draw(st.integers(0, 5) | st.sampled_from([2**32, 2**63, 2**64 - 1]))
    d = data.draw(st.integers(0, 14) | st.just(2**64 - 1))
    arrays = [arr(v) for v in (y, ar, ma, sar, sma)]
    assert matches(core.arima_css(*arrays[:3], d), arima_reference(y, ar, ma, d))
    assert matches(core.css_objective(*arrays[:3]), seasonal_reference(y, ar, ma, [], [], 0))
    assert matches(S(*arrays, m), seasonal_reference(y, ar, ma, sar, sma, m))
