"""Simple exponential smoothing, Croston TSB, TBATS and complex exponential smoothing objectives, each compared
bit for bit with a plain transcription of its recursion, and checked on worked cases and documented failures."""

from __future__ import annotations

import math
import struct

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import lumetra._core as core
from helpers import as_returned, c_math, check, layouts, matches, same_bits

f64 = np.float64
c_sin, c_cos = c_math("sin"), c_math("cos")


def ses_reference(y, alpha):
    """ses_filter's levels and ses_sse's sum of the errors of each level's forecast."""
    levels, sse = [y[0]], 0.0
    for v in y[1:]:
        e = v - levels[-1]
        sse = sse + e * e
        levels.append(alpha * v + (1.0 - alpha) * levels[-1])
    return np.array(levels), float(sse)


def croston_reference(y, alpha, beta, z, d):
    keep_size, keep_probability = f64(1.0) - alpha, f64(1.0) - beta
    z, d, sse = f64(z), f64(d), f64(0.0)
    for v in y:
        e = v - z * d
        sse = sse + e * e
        d, z = (beta + keep_probability * d, keep_size * z + alpha * v) if v > 0 else (keep_probability * d, z)
    return float(z), float(d), float(sse)


def tbats_reference(y, alpha, beta, phi, use_trend, use_damping, frequencies, h):
    level, slope, sse = f64(y[0]), f64(0.0), f64(0.0)
    first, second = [f64(0.0)] * h, [f64(0.0)] * h
    for v in y[1:]:
        f = level + slope if use_trend else level
        for a in first:
            f = f + a
        e = v - f
        if use_trend:
            slope = phi * slope + beta * e if use_damping else slope + beta * e
        g = (alpha * 0.5) * e
        for i in range(h):
            c, s = c_cos(frequencies[i]), c_sin(frequencies[i])
            first[i], second[i] = g + (c * first[i] + s * second[i]), c * second[i] - s * first[i]
        sse, level = sse + e * e, level + alpha * e
    return float(sse)


def ces_nonseasonal_reference(y, a_r, a_i):
    level, p, sse, c = (y or [0.0])[0], f64(0.0), f64(0.0), f64(1.0) - a_r
    for v in y[1:]:
        e = v - level
        sse = sse + e * e
        level, p = a_i * p + (c * level + a_r * v), c * p + a_i * e
    return float(sse)


def ces_reference(y, a_r, a_i, gamma, seasonal, m):
    if m == 0 or len(y) <= 1:
        return 0.0
    S, c = [f64(v) for v in seasonal], f64(1.0) - a_r
    level, p, sse = f64(y[0]) - S[0], f64(0.0), f64(0.0)
    for t in range(1, len(y)):
        s = S[t % m]
        e = y[t] - (level + s)
        sse = sse + e * e
        level, p = a_i * p + (c * level + a_r * (y[t] - s)), c * p + a_i * ((y[t] - s) - level)
        S[t % m] = s + gamma * e
    return float(sse)


series = st.lists(st.floats(-1e3, 1e3) | st.sampled_from([0.0, -0.0, -1.0, math.nan, math.inf, -math.inf]), max_size=30)
weight = st.floats(-0.5, 1.5)


@pytest.mark.filterwarnings("ignore::RuntimeWarning")  # the transcriptions' IEEE specials
@settings(max_examples=150, deadline=None)
@given(y=series, a=weight, b=weight, c=weight, d=weight, flags=st.tuples(st.booleans(), st.booleans()),
       frequencies=st.lists(st.floats(-7, 7), max_size=4), h=st.integers(0, 4),
       seasonal=st.lists(weight, min_size=1, max_size=5), m=st.integers(1, 5),
       alpha=st.floats(-2, 2) | st.sampled_from([0.0, 1.0, math.nan]))  # fmt: skip
def test_bit_identical_to_the_transcriptions(y, a, b, c, d, flags, frequencies, h, seasonal, m, alpha):
    agree_with_the_transcriptions(y, a, b, c, d, flags, frequencies, h, seasonal, m, alpha)


def test_bit_identical_to_the_transcriptions_on_values_that_round():
    """Drawn values are mostly dyadic, on which an update grouped otherwise rounds alike: uniform ones are not."""
    rng = np.random.default_rng(0)
    for _ in range(200):
        w, f, s, y = (rng.uniform(lo, hi, k).tolist() for lo, hi, k in [(0, 1, 7), (0, 3, 3), (-1, 1, 4), (-9, 9, 24)])
        agree_with_the_transcriptions(y, *w[:4], (w[5] < 0.5, w[6] < 0.5), f, 3, s, 4, w[4])


def agree_with_the_transcriptions(y, a, b, c, d, flags, frequencies, h, seasonal, m, alpha):
    y_view, y64, f_view, s_view = np.array(y), [f64(v) for v in y], np.array(frequencies), np.array(seasonal)
    assert matches(core.croston_tsb_filter(y_view, a, b, c, d), croston_reference(y64, a, b, c, d))
    assert matches(core.ces_nonseasonal_sse(y_view, a, b), ces_nonseasonal_reference(y64, a, b))
    m = min(m, len(seasonal))  # a longer season is a failure, tested below
    assert matches(core.ces_seasonal_sse(y_view, a, b, c, s_view, m), ces_reference(y64, a, b, c, seasonal, m))
    if y:
        levels, sse = ses_reference(y64, alpha)
        assert matches(core.ses_filter(y_view, alpha), levels) and matches(core.ses_sse(y_view, alpha), sse)
        h = min(h, len(frequencies))  # frequencies past the harmonics are not read
        expected = tbats_reference(y64, a, b, c, *flags, frequencies, h)
        assert matches(core.tbats_filter(y_view, a, b, c, *flags, f_view, h), expected)


@pytest.mark.parametrize(
    "function, args, expected",
    [
        (core.croston_tsb_filter, ([0.0, 0.0, 3.0], 0.5, 0.5, 2.0, 0.5), (2.5, 9 / 16, 141 / 16)),
        (core.tbats_filter, ([1.0, 2.0, 4.0, 7.0], 0.5, 0.25, 0.5, True, True, [], 0), 19 + 169 / 256),
        (core.tbats_filter, ([5.0], 0.5, 0.0, 0.0, False, False, [], 10**6), 0.0),  # no step reads a frequency
        (core.ces_nonseasonal_sse, ([1.0, 2.0, 4.0, 7.0], 0.5, 0.25), 24 + 201 / 256),
        (core.ces_seasonal_sse, ([1.0, 2.0, 4.0, 7.0], 0.5, 0.25, 0.1, [0.5, -0.5], 2), 4 + 4 + (187 / 40) ** 2),
        (core.ces_seasonal_sse, ([1.0, 2.0, 4.0], 0.5, 0.25, 0.1, [], 0), 0.0),
        (core.ces_seasonal_sse, ([1.0], 0.5, 0.25, 0.1, [], 3), 0.0),
        (core.ses_sse, ([], 0.5), "ndarray: index out of bounds"),
        (core.ses_filter, ([], 0.5), "ndarray: index out of bounds"),
        (core.tbats_filter, ([], 0.5, 0.0, 0.0, False, False, [], 2**61), "ndarray: index out of bounds"),
        (core.tbats_filter, ([1.0], 0.5, 0.0, 0.0, False, False, [], 2**60), "capacity overflow"),
        # more harmonics than frequencies fail before the run
        (core.tbats_filter, ([1.0, 2.0], 0.5, 0.0, 0.0, False, False, [0.1], 2**60 - 1), "ndarray: index out of bounds"),
        (core.tbats_filter, ([1.0, 2.0], 0.5, 0.0, 0.0, True, True, [0.1], 2), "ndarray: index out of bounds"),
        (core.ces_seasonal_sse, ([1.0, 2.0], 0.5, 0.25, 0.1, [], 1), "index out of bounds: the len is 0 but the index is 0"),
        (core.ces_seasonal_sse, ([1.0, 2.0, 4.0, 7.0], 0.5, 0.25, 0.1, [0.5, -0.5], 3), "index out of bounds: the len is 2 but the index is 2"),
    ],
)  # fmt: skip
def test_worked_cases_and_failures(function, args, expected):
    check(function, args, expected)


SIGNALLING_NAN = struct.unpack("<d", struct.pack("<Q", 0x7FF0_0000_0000_0001))[0]


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize(
    "pattern, init_z, init_d",
    [
        ([0.0, 3.0, -0.0, math.nan, -2.0, math.inf, 0.5, -1.0], -0.0, math.nan),  # demand among every other value
        ([0.0, -1.0, math.nan, -0.0], SIGNALLING_NAN, 0.4),  # never a demand: the size is never updated
        ([-0.0, 0.0], -0.0, -0.0),
    ],
)
def test_croston_states_of_long_series_keep_every_bit(pattern, init_z, init_d):
    """Series from 10000 values update the size through picked operands (1 z + (-0) without demand): its value
    must stay the transcription's, the sign of zero included, and a size never updated must come back as given to
    the bit, a NaN (a signalling one too) as np.nan, like every NaN result."""
    y = pattern * (10008 // len(pattern))
    expected = croston_reference([f64(v) for v in y], f64(0.5), f64(0.25), init_z, init_d)
    for view in layouts(y).values():  # long series are read in every layout too
        got = core.croston_tsb_filter(view, 0.5, 0.25, init_z, init_d)
        assert matches(got, expected)
        assert any(v > 0 for v in y) or same_bits(got[0], as_returned(init_z))
