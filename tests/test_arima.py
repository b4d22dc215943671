"""ARIMA conditional sum of squares: arima_css, css_objective, seasonal_css_objective."""

from __future__ import annotations

import math

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import lumetra._core as core
from helpers import layouts, same_bits

BIG = 1.7976931348623157e308  # arima_css: nothing to score


def A(*values):
    return np.array(values, dtype=np.float64)


E, Y4, Y6 = A(), A(1, 2, 4, 7), A(1, 2, 4, 7, 11, 16)


def residual_ss(w, ar, ma, sar, sma, m, start):
    """Sum of squared residuals from `start`, pre-sample residuals zero."""
    e, ss = [0.0] * len(w), 0.0
    for t in range(start, len(w)):
        s = 0.0
        for k, c in enumerate(ar):
            s = s + c * w[t - 1 - k]
        for j, c in enumerate(sar):
            s = s + c * w[t - (j + 1) * m]
        for k, c in enumerate(ma):
            s = s + c * e[t - 1 - k]
        for j, c in enumerate(sma):
            s = s + c * e[t - (j + 1) * m]
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
    x = residual_ss(w, ar, ma, [], [], 0, m) / r
    return r * (math.log(x) if x > 0 else -math.inf if x == 0 else math.nan)


def css_reference(y, ar, ma):
    start = max(len(ar), len(ma), 1)
    return 0.0 if len(y) <= start else residual_ss(y, ar, ma, [], [], 0, start)


def seasonal_reference(y, ar, ma, sar, sma, m):
    start = max(len(ar), len(ma), len(sar) * m, len(sma) * m) or 1  # exact integers
    return 0.0 if start >= len(y) else residual_ss(y, ar, ma, sar, sma, m, start)


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda: core.arima_css(Y4, E, E, 1), 3 * math.log(14 / 3)),
        (lambda: core.arima_css(Y4, E, E, 2), 0.0),
        (lambda: core.arima_css(Y4, A(0.5), E, 0), 3 * math.log(145 / 12)),
        (lambda: core.arima_css(Y4, E, A(0.5), 0), 3 * math.log(173 / 12)),
        (lambda: core.arima_css(Y4, E, E, 0), 4 * math.log(70 / 4)),  # y[0] is a residual
        (lambda: core.arima_css(A(1, 3, 5, 7), E, E, 2), -math.inf),
        (lambda: core.arima_css(A(2, 2, 2), A(0.5), E, 1), -math.inf),
        (lambda: core.arima_css(E, E, E, 0), BIG),
        (lambda: core.arima_css(A(1, 2, 3), A(0.5, np.nan), E, 1), BIG),  # n = m
        *[(lambda d=d: core.arima_css(Y4, E, E, d), BIG) for d in (4, 5, 2**63, 2**64 - 1)],
        (lambda: core.css_objective(Y4, A(0.5), E), 145 / 4),
        (lambda: core.css_objective(Y4, E, A(0.5)), 173 / 4),
        (lambda: core.css_objective(A(np.nan, 2, 4, 7), E, E), 69.0),  # y[0] never counts
        (lambda: core.css_objective(A(1, 2, 4, 7, 5), A(1.0), A(0, 0, 1.0)), 13.0),  # start 3
        *[(lambda y=y: core.css_objective(y, A(1, 1), E), 0.0) for y in (E, A(3), A(3, 4))],
        (lambda: core.seasonal_css_objective(Y6, E, E, A(0.5), E, 2), 571 / 2),
        (lambda: core.seasonal_css_objective(Y6, E, E, A(0.5), A(0.5), 2), 3057 / 16),
        (lambda: core.seasonal_css_objective(Y6, A(0.5), E, A(0.5), E, 2), 203 / 2),
        (lambda: core.seasonal_css_objective(Y6, E, E, E, E, 2), 446.0),
        (lambda: core.seasonal_css_objective(Y6, E, E, A(0.5), E, 0), 223 / 2),
        (lambda: core.seasonal_css_objective(Y6, A(0.5), E, A(0.5), E, 1), 55.0),
        (lambda: core.seasonal_css_objective(Y6, E, E, A(0.5, 0.5), E, 4), 0.0),
        # the season span P m = 2^64 saturates instead of wrapping to a start of 1
        (lambda: core.seasonal_css_objective(Y6, E, E, A(0.5, 0.5), E, 2**63), 0.0),
        (lambda: core.seasonal_css_objective(Y6, E, E, E, A(0.5, 0.5, 0.5), 2**64 - 1), 0.0),
    ],
)
def test_worked_cases_and_sentinels(call, expected):
    assert same_bits(call(), expected)


values = {"finite": st.floats(-100, 100), "any": st.floats()}


@pytest.mark.parametrize("kind", values)
@given(data=st.data())
def test_bit_identical_to_a_plain_transcription(kind, data):
    def draw_list(size):
        return data.draw(st.lists(values[kind], max_size=size))

    y, ar, ma, sar, sma = draw_list(12), draw_list(4), draw_list(4), draw_list(4), draw_list(4)
    m = data.draw(st.integers(0, 5) | st.sampled_from([2**32, 2**63, 2**64 - 1]))
    d = data.draw(st.integers(0, 14) | st.just(2**64 - 1))
    arrays = [A(*v) for v in (y, ar, ma, sar, sma)]
    assert same_bits(core.arima_css(*arrays[:3], d), arima_reference(y, ar, ma, d))
    assert same_bits(core.css_objective(*arrays[:3]), css_reference(y, ar, ma))
    assert same_bits(core.seasonal_css_objective(*arrays, m),
                     seasonal_reference(y, ar, ma, sar, sma, m))  # fmt: skip


def test_every_layout_reads_like_a_contiguous_copy():
    rng = np.random.default_rng(7)
    parts = [rng.standard_normal(n) for n in (30, 2, 3, 2, 1)]
    y, ar, ma, sar, sma = (layouts(p) for p in parts)
    expected = (core.arima_css(*parts[:3], 1), core.css_objective(*parts[:3]),
                core.seasonal_css_objective(*parts, 4))  # fmt: skip
    for name in y:
        args = [y[name], ar[name], ma[name], sar[name], sma[name]]
        before = [a.copy() for a in args]
        got = (core.arima_css(*args[:3], 1), core.css_objective(*args[:3]),
               core.seasonal_css_objective(*args, 4))  # fmt: skip
        assert same_bits(got, expected), name
        assert all(np.array_equal(a, b) for a, b in zip(args, before)), name


@pytest.mark.parametrize(
    "d, outcome",
    [(True, 1), (np.uint64(2**64 - 1), 2**64 - 1), (np.int8(2), 2),
     (-1, OverflowError), (2**64, OverflowError),
     (3.0, "argument 'd': 'float' object cannot be interpreted as an integer"),
     (None, "argument 'd': 'NoneType' object cannot be interpreted as an integer")],
)  # fmt: skip
def test_unsigned_argument(d, outcome):
    if isinstance(outcome, int):
        assert same_bits(core.arima_css(Y6, E, E, d), arima_reference(list(Y6), [], [], outcome))
    elif outcome is OverflowError:
        with pytest.raises(OverflowError) as info:
            core.arima_css(Y6, E, E, d)
        assert type(info.value) is OverflowError and not str(info.value).startswith("argument")
    else:
        with pytest.raises(TypeError, match=f"^{outcome}$"):
            core.arima_css(Y6, E, E, d)
