"""Volatility filters: garch_filter, egarch_filter, gjr_garch_filter."""

from __future__ import annotations

import math

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import lumetra._core as core
from helpers import layouts, same_bits

nan, inf = math.nan, math.inf


def fmax(a, b):
    return b if math.isnan(a) else a if math.isnan(b) else max(a, b)


def garch_reference(y, mu, omega, alpha, beta, s2, use_ar1=False, ar1=0.0, gamma=None):
    """GARCH(1,1); with `gamma`, GJR-GARCH (the extra weight on negative shocks)."""
    ll = 0.0
    for t, value in enumerate(y):
        e = value - (mu + ar1 * (y[t - 1] - mu) if use_ar1 and t > 0 else mu)
        h = fmax(s2, 1e-20)
        ll = ll + (math.log(h) + (e * e) / h) * 0.5
        weight = alpha if gamma is None else alpha + gamma * (1.0 if e < 0.0 else 0.0)
        s2 = beta * s2 + (omega + e * (e * weight))
    return ll


def egarch_reference(y, mu, omega, alpha, beta, gamma, x):
    ll = 0.0
    for value in y:
        try:
            s2 = fmax(math.exp(x), 1e-20)
        except OverflowError:
            s2 = inf
        e = value - mu
        z = e / fmax(math.sqrt(s2), 1e-10)
        ll = ll + (x + (e * e) / s2) * 0.5
        x = beta * x + (omega + (alpha * z + gamma * (abs(z) - 0.7978845608028654)))
        x = -20.0 if x < -20.0 else x
        x = 20.0 if x > 20.0 else x
    return ll


def gjr_reference(y, mu, omega, alpha, beta, gamma, s2):
    return garch_reference(y, mu, omega, alpha, beta, s2, gamma=gamma)


Y3 = np.array([1.0, -1.0, 2.0])


@pytest.mark.parametrize(
    "call, expected, about",
    [
        (lambda: core.garch_filter(Y3, 0.0, 0.1, 0.1, 0.8, 1.0, False, nan), 3.0, 3.0),
        (lambda: core.garch_filter(Y3, 0.0, 0.1, 0.1, 0.8, 1.0, True, 0.5), None, 4.46),
        (lambda: core.gjr_garch_filter(Y3, 0.0, 0.1, 0.1, 0.8, 0.2, 1.0), None, 2.76),
        (lambda: core.egarch_filter(Y3, 0.0, 0.0, 0.1, 0.9, 0.2, 0.0), None, 2.92),
        (lambda: core.garch_filter(np.array([3.0]), 0.0, 0.1, 0.1, 0.8, -5.0, False, 0.0),
         0.5 * (math.log(1e-20) + 9e20), 4.5e20),
        *[(lambda f=f: f(np.empty(0), nan, nan, nan, nan, nan, nan), 0.0, 0.0)
          for f in (core.egarch_filter, core.gjr_garch_filter)],
        (lambda: core.garch_filter(np.empty(0), nan, nan, nan, nan, nan, True, nan), 0.0, 0.0),
    ],
)  # fmt: skip
def test_worked_cases(call, expected, about):
    got = call()
    assert got == pytest.approx(about, rel=1e-3)
    assert expected is None or same_bits(got, expected)


values = {"finite": st.floats(-5, 5), "any": st.floats()}


@pytest.mark.parametrize("kind", values)
@given(data=st.data())
def test_bit_identical_to_a_plain_transcription(kind, data):
    y = data.draw(st.lists(values[kind], max_size=20))
    p = data.draw(st.lists(values[kind], min_size=7, max_size=7))
    use_ar1 = data.draw(st.booleans())
    array = np.array(y, dtype=np.float64)
    assert same_bits(core.garch_filter(array, *p[:5], use_ar1, p[5]),
                     garch_reference(y, *p[:5], use_ar1, p[5]))  # fmt: skip
    assert same_bits(core.gjr_garch_filter(array, *p[:6]), gjr_reference(y, *p[:6]))
    assert same_bits(core.egarch_filter(array, *p[:6]), egarch_reference(y, *p[:6]))


def GARCH(y, mu=0.0, omega=0.1, s2=1.0):
    return core.garch_filter(y, mu, omega, 0.1, 0.8, s2, False, 0.3)


def GJR(y, mu=0.0, omega=0.1, s2=1.0):
    return core.gjr_garch_filter(y, mu, omega, 0.1, 0.8, 0.2, s2)


@pytest.mark.parametrize("f", [GARCH, GJR])
def test_a_nan_variance_is_scored_at_the_floor(f):
    y = np.array([0.5, -1.0, 2.0, 0.25])
    expected = 0.0
    for e in y.tolist():
        expected = expected + (math.log(1e-20) + (e * e) / 1e-20) * 0.5
    assert same_bits(f(y, s2=nan), expected)
    assert math.isfinite(f(y, omega=nan))  # NaN from the second step on, floored
    assert math.isnan(f(y, mu=nan)) and math.isnan(f(np.array([1.0, nan])))


def test_egarch_clamps_the_recursion_but_not_the_start_and_passes_nan():
    zeros = np.zeros(4)  # e = 0: each term is x / 2
    assert core.egarch_filter(zeros, 0.0, 1e3, 0.1, 0.9, 0.2, 50.0) == 25.0 + 3 * 10.0
    assert core.egarch_filter(zeros, 0.0, -1e3, 0.1, 0.9, 0.2, -50.0) == -25.0 - 3 * 10.0
    # a NaN log-variance passes the clamp and enters ll directly
    assert math.isnan(core.egarch_filter(zeros, 0.0, nan, 0.1, 0.9, 0.2, 0.0))
    assert math.isnan(core.egarch_filter(zeros[:1], 0.0, 0.0, 0.1, 0.9, 0.2, nan))


def test_ar1_term_only_when_switched_on_and_never_at_the_start():
    y = np.array([0.5, -1.0, 2.0])
    assert same_bits(core.garch_filter(y, 0.1, 0.1, 0.1, 0.8, 1.0, False, nan),
                     core.garch_filter(y, 0.1, 0.1, 0.1, 0.8, 1.0, False, 0.0))  # fmt: skip
    assert same_bits(core.garch_filter(y[:1], 0.1, 0.1, 0.1, 0.8, 1.0, True, 0.7),
                     core.garch_filter(y[:1], 0.1, 0.1, 0.1, 0.8, 1.0, False, 0.7))  # fmt: skip


@pytest.mark.parametrize("first, finite", [(-0.0, True), (0.0, True), (-1.0, False)])
def test_gjr_leverage_applies_only_to_strictly_negative_residuals(first, finite):
    # gamma_gjr = inf: a zero indicator gives inf * 0 = NaN (floored later),
    # a one gives an infinite variance and ll = inf
    got = core.gjr_garch_filter(np.array([first, 1.0]), 0.0, 0.1, 0.1, 0.8, inf, 1.0)
    assert math.isfinite(got) == finite and not math.isnan(got)


def test_every_layout_reads_like_a_contiguous_copy():
    values = np.random.default_rng(3).standard_normal(25)
    calls = [lambda y: core.garch_filter(y, 0.1, 0.05, 0.1, 0.85, 1.0, True, 0.4),
             lambda y: core.gjr_garch_filter(y, 0.1, 0.05, 0.05, 0.85, 0.1, 1.0),
             lambda y: core.egarch_filter(y, 0.1, -0.1, 0.1, 0.9, 0.2, 0.0)]  # fmt: skip
    expected = [f(values) for f in calls]
    for name, y in layouts(values).items():
        assert [f(y) for f in calls] == expected, name
        assert np.array_equal(y, values), name
    constant = np.broadcast_to(np.array([0.7]), (9,))
    assert [f(constant) for f in calls] == [f(np.full(9, 0.7)) for f in calls]
