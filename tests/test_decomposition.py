"""Seasonal decomposition helpers: mstl_moving_average and mstl_extract_seasonal."""

from __future__ import annotations

import math

import numpy as np
import pytest
from hypothesis import example, given
from hypothesis import strategies as st

import lumetra._core as core
from helpers import arr, check, matches

finite = st.floats(-1e6, 1e6, allow_nan=False)
special = st.sampled_from([math.nan, math.inf, -math.inf])
INF = math.inf


def moving_average_reference(y, window):
    """Prefix sums over the finite values; a window's own non-finite values decide it."""
    n, h, c = len(y), window // 2, [0.0]
    for v in y:
        c.append(c[-1] + (v if math.isfinite(v) else 0.0))

    def mean(lo, hi):
        odd = {v for v in y[lo:hi] if not math.isfinite(v)}  # NaN, or infinities of both signs, give NaN
        return (c[hi] - c[lo]) / (hi - lo) if not odd else odd.pop() if len(odd) == 1 else math.nan

    return np.array([mean(max(0, i - h), min(n, i + h + 1)) for i in range(n)])


def seasonal_reference(y, period):
    sums, counts, total = [0.0] * period, [0] * period, 0.0
    for i, v in enumerate(y):
        sums[i % period], counts[i % period] = sums[i % period] + v, counts[i % period] + 1
    means = [s / max(k, 1) for s, k in zip(sums, counts)]
    for m in means:
        total += m
    return np.array([means[i % period] - total / period for i in range(len(y))])


@pytest.mark.parametrize(
    "function, args, expected",
    [
        (core.mstl_moving_average, ([1, 2, 3, 4, 5], 3), arr([1.5, 2, 3, 4, 4.5])),
        # a window holding both infinities has no mean; one holding one of them is that infinity
        (core.mstl_moving_average, ([1, INF, 2, -INF, 3, 4], 2), arr([INF, INF, math.nan, -INF, -INF, 3.5])),
        (core.mstl_extract_seasonal, ([], 0), arr([])),
        (core.mstl_extract_seasonal, ([], 2**60 - 1), arr([])),
        # a period past the length: each phase mean is its observation, centred over the whole period,
        # with no storage for the empty phases
        (core.mstl_extract_seasonal, ([1, 2, 4.5], 10**15), arr([v - (((0.0 + 1) + 2) + 4.5) / 10**15 for v in [1, 2, 4.5]])),
        (core.mstl_extract_seasonal, ([1.0], 0), "attempt to calculate the remainder with a divisor of zero"),
        (core.mstl_extract_seasonal, ([], 2**60), "capacity overflow"),
        (core.mstl_extract_seasonal, ([1.0, 2.0], 2**64 - 1), "capacity overflow"),
    ],
)  # fmt: skip
def test_worked_cases_and_failures(function, args, expected):
    check(function, args, expected)


# Positions are taken in blocks of 16; a non-finite value anywhere, the last one included, switches to
# following the windows' non-finite values: finite series and series with a few non-finite values both come.
@given(st.lists(finite, max_size=60) | st.lists(st.one_of(finite, finite, finite, special), max_size=60),
       st.integers(0, 40) | st.just(2**64 - 1))  # fmt: skip
@example([float(v) for v in range(40)] + [INF], 7)  # the only non-finite value is the last
@example([0.0] * 20 + [1e308] * 4, 3)  # finite values whose sums overflow, in the last windows (inf - inf)
def test_moving_average_matches_the_reference(values, window):
    expected = moving_average_reference(values, window)
    assert matches(core.mstl_moving_average(np.array(values), window), expected)


# the phases are summed one whole period at a time, the rest after them: periods
# that divide the length, that leave a rest, and that exceed the length
@given(st.lists(st.one_of(finite, finite, finite, finite, special), max_size=40), st.integers(1, 45))
def test_extract_seasonal_matches_the_reference(values, period):
    assert matches(core.mstl_extract_seasonal(np.array(values), period), seasonal_reference(values, period))
