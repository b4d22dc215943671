"""Volatility filters: garch_filter, egarch_filter, gjr_garch_filter."""

from __future__ import annotations

import itertools
import math

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import lumetra._core as core

from helpers import exp, fmax, matches

nan, inf = math.nan, math.inf


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
        s2 = fmax(exp(x), 1e-20)
        e = value - mu
        z = e / fmax(math.sqrt(s2), 1e-10)
        ll = ll + (x + (e * e) / s2) * 0.5
        x = beta * x + (omega + (alpha * z + gamma * (abs(z) - 0.7978845608028654)))
        x = -20.0 if x < -20.0 else 20.0 if x > 20.0 else x  # NaN passes
    return ll


values = {"finite": st.floats(-5, 5), "any": st.floats()}


@pytest.mark.parametrize("kind", values)
@given(data=st.data())
def test_bit_identical_to_a_plain_transcription(kind, data):
    y = data.draw(st.lists(values[kind], max_size=20))
    p = data.draw(st.lists(values[kind], min_size=7, max_size=7))
    array, garch_args = np.array(y, dtype=np.float64), (*p[:5], data.draw(st.booleans()), p[5])
    assert matches(core.garch_filter(array, *garch_args), garch_reference(y, *garch_args))
    assert matches(
        core.gjr_garch_filter(array, *p[:6]), garch_reference(y, *p[:4], p[5], gamma=p[4])
    )
    assert matches(core.egarch_filter(array, *p[:6]), egarch_reference(y, *p[:6]))


# The floors are comparisons that must give exactly fmax's result: the floor for NaN, for every value below
# it (-inf, -0.0, +0.0, the double just below), the value itself above. GARCH floors the variance at 1e-20;
# EGARCH floors exp(x) at 1e-20 (reached by x below about -46, or -inf), and its first x is not clamped, so
# the edges arrive through the initial variance and the initial log-variance (clamped to +-20 only after a step).
# Next to ln 1e-20, exp(x) falls either side of that floor, where egarch_reference's floor of sqrt(s2) at 1e-10 meets it.
FLOOR, LN_FLOOR = 1e-20, math.log(1e-20)
EDGES = [
    nan,
    inf,
    -inf,
    0.0,
    -0.0,
    -5.0,
    FLOOR,
    math.nextafter(FLOOR, 0),
    math.nextafter(FLOOR, 1),
    5e-324,
    1e-300,
    1.0,
    LN_FLOOR,
    math.nextafter(LN_FLOOR, 0),
    math.nextafter(LN_FLOOR, -inf),
    -50.0,
    -745.2,
    -800.0,
    20.0,
]


@pytest.mark.parametrize("edge", EDGES)
def test_floors_are_fmax_at_their_edges(edge):
    y = [0.5, -1.0, 0.0, -0.0, 2.0]
    for omega, use_ar1 in itertools.product([0.0, -0.0, 0.1, nan], [False, True]):
        args = (0.0, omega, 0.0, 0.0, edge, use_ar1, 0.5)
        assert matches(core.garch_filter(np.array(y), *args), garch_reference(y, *args))
        # beta 1 keeps the edge value in the state for a second step as well
        expected = garch_reference(y, 0.0, omega, 0.0, 1.0, edge, gamma=0.0)
        assert matches(
            core.gjr_garch_filter(np.array(y), 0.0, omega, 0.0, 1.0, 0.0, edge), expected
        )
    for params in [(0.0, 0.1, 0.9, 0.2), (-1e3, 0.0, 1.0, 0.0), (nan, 0.1, 0.9, 0.2)]:
        assert matches(
            core.egarch_filter(np.array(y), 0.1, *params, edge),
            egarch_reference(y, 0.1, *params, edge),
        )


# The GJR weight alpha + gamma * I is formed once for each value of I and looked up by the sign of the
# residual: zero residuals of both signs, NaN residuals, non-finite weights, and a pair 1e308 + 1e308 that is
# finite for a zero residual (whose term is then 0) and infinite for a negative one. Each kind of residual
# comes first, followed by steps that show the variance it left.
@pytest.mark.parametrize("gamma", [0.2, -0.0, inf, -inf, nan, 1e308])
@pytest.mark.parametrize("alpha", [0.1, -0.0, inf, 1e308])
def test_leverage_weight_for_every_kind_of_residual(alpha, gamma):
    for first, mu in itertools.product([1.0, -1.0, 0.0, -0.0, nan, -2.0, -inf], [0.0, -0.0, 1.0]):
        y = [first, 0.5, -1.0]
        expected = garch_reference(y, mu, 0.1, alpha, 0.5, 1.0, gamma=gamma)
        assert matches(
            core.gjr_garch_filter(np.array(y), mu, 0.1, alpha, 0.5, gamma, 1.0), expected
        )
