"""Series diagnostics: hurst_exponent, sample_entropy and approximate_entropy."""

from __future__ import annotations

import math
import sys

import numpy as np
import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import lumetra._core as core

from helpers import check, fmax, fmin, log, matches, worked

INF, NAN = math.inf, math.nan


def hurst_reference(y, max_lag):
    n, xs, ys = len(y), [], []
    # one lag or none give 0.5 below
    for lag in range(2, min(n // 4, max_lag) + 1) if n >= 20 else ():
        rs_sum, used = 0.0, 0
        for k in range(n // lag):
            segment, total = y[k * lag : (k + 1) * lag], 0.0
            for v in segment:
                total = total + v
            c, sq, lo, hi = 0.0, 0.0, sys.float_info.max, -sys.float_info.max
            for v in segment:
                d = v - total / lag
                c, sq = c + d, sq + d * d
                lo, hi = (c if c < lo else lo), (c if c > hi else hi)
            sd = math.sqrt(sq / (lag - 1))
            if sd > 1e-10:
                rs_sum, used = rs_sum + (hi - lo) / sd, used + 1
        if used > 0:
            xs.append(math.log(lag))
            ys.append(log(rs_sum / used))
    sx = sy = sxy = sxx = 0.0
    for a, b in zip(xs, ys):
        sx, sy, sxy, sxx = sx + a, sy + b, sxy + a * b, sxx + a * a
    m = float(len(xs))
    den = sxx * m - sx * sx
    return (
        0.5 if len(xs) < 2 or abs(den) < 1e-15 else fmin(fmax((sxy * m - sx * sy) / den, 0.0), 1.0)
    )


def template_matches(y, length, count, r):
    """Which of the first `count` templates of `length` values match: every difference at most r (or NaN)."""
    differ = np.zeros((count, count), dtype=bool)
    with np.errstate(invalid="ignore", over="ignore"):  # inf - inf is NaN, and NaN is a match
        for k in range(length):
            differ |= np.abs(y[k : k + count, None] - y[None, k : k + count]) > r
    return ~differ


def entropies_reference(y, m, r):
    """Sample and approximate entropy by comparing every pair of templates."""
    y, n = np.array(y, dtype=float), len(y)
    if r < 1e-10 or n < 10:  # a NaN tolerance passes
        return 0.0, 0.0

    def phi(length):
        total, s = n - length + 1, 0.0
        for c in template_matches(y, length, max(total, 0), r).sum(axis=1):
            s = s + math.log(float(c) / float(total) + 1e-20)
        return s / total if total > 0 else 0.0

    a = b = 0
    # pairs among the first n - m templates of m values (B) and the first n - m - 1 of m + 1 values (A)
    if n > m:
        a = int(np.triu(template_matches(y, m + 1, n - m - 1, r), 1).sum())
        b = int(np.triu(template_matches(y, m, n - m, r), 1).sum())
    return -math.log(float(a) / float(b)) if a and b else 0.0, fmax(phi(m) - phi(m + 1), 0.0)


ALTERNATING, Y30 = [0.0, 1.0] * 5, list(np.random.default_rng(2).standard_normal(30))
# Values on a grid of tenths (not exact in binary) and of quarters (exact), so
# that ties and differences of exactly r, or r rounded either way, are common.
grid_values = (
    st.integers(-6, 6).map(lambda k: k * 0.1)
    | st.integers(-6, 6).map(lambda k: k * 0.25)
    | st.floats(-3, 3)
)
special_values = st.sampled_from([NAN, INF, -INF, 1e308, -1e308])


def series(min_size=0, max_size=40):
    """Finite series take a different road through the counting than those with NaN or infinities: both come."""
    return st.one_of(
        st.lists(v, min_size=min_size, max_size=max_size)
        for v in (grid_values, st.one_of(grid_values, grid_values, special_values))
    )


tolerances = st.sampled_from([0.1, 0.2, 0.25, 0.3, 0.5, 1e-10, 0.0, -1.0, NAN, INF]) | st.floats(
    0, 2
)


@pytest.mark.parametrize(
    "function, args, expected",
    worked(
        [
            (core.sample_entropy, (ALTERNATING, 2, 0.5), -math.log(9 / 12)),
            (core.approximate_entropy, (ALTERNATING, 0, 0.5), math.log(2)),
            # a NaN tolerance passes the test and then matches every pair
            (core.sample_entropy, (Y30, 2, NAN), -math.log((27 * 26 / 2) / (28 * 27 / 2))),
            (core.approximate_entropy, (Y30, 2, NAN), 0.0),
            # m + 1 must not wrap around; a tolerance just below 1e-10 is none
            *[
                (f, args, 0.0)
                for f in (core.sample_entropy, core.approximate_entropy)
                for args in [(Y30, 2**64 - 1, 1.0), (Y30, 29, 1.0), (Y30, 2, 1e-10 * (1 - 2**-52))]
            ],
            (core.hurst_exponent, (list(range(40)), 10), 1.0),  # clamped
            (core.hurst_exponent, ([2.5] * 50, 10), 0.5),  # no segment varies
            (core.hurst_exponent, ([0.0, 1.0] * 9 + [0.0], 10**9), 0.5),  # too short
        ]
    ),
)
def test_worked_cases(function, args, expected):
    check(function, args, expected)


@settings(max_examples=300, deadline=None)
@given(series(), st.integers(0, 4), tolerances)
# one value short of a defined entropy, with matches of both lengths
@example(ALTERNATING[:9], 0, 0.5)
def test_entropies_equal_the_all_pairs_definition(values, m, r):
    y = np.array(values, dtype=float)
    assert matches(
        (core.sample_entropy(y, m, r), core.approximate_entropy(y, m, r)),
        entropies_reference(values, m, r),
    )


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("m", [0, 1, 2, 3, 5])
@pytest.mark.parametrize("kind", ["normal", "tenths", "special", "constant"])
def test_entropies_on_longer_series(seed, m, kind):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(200, 500))
    y = rng.standard_normal(n).cumsum() if kind == "normal" else rng.integers(-8, 8, n) * 0.1
    if kind == "constant":  # (every key alike: the sort has no digit to move on)
        y = np.full(n, 0.7)
    if kind == "special":
        y[rng.integers(0, n, 3)] = [NAN, INF, -INF]
    r = (
        0.2 * float(np.std(y[np.isfinite(y)]))
        if kind == "normal"
        else 0.1 * int(rng.integers(1, 4))
    )
    assert matches(
        (core.sample_entropy(y, m, r), core.approximate_entropy(y, m, r)),
        entropies_reference(y, m, r),
    )


# every remainder of a vector of four
@pytest.mark.parametrize("n", [12, 13, 14, 15, 256, 257, 258, 259])
@pytest.mark.parametrize("last", [NAN, INF, -INF])
def test_entropies_of_a_series_whose_last_value_is_not_finite(n, last):
    y = np.array([0.0, 1.0, 0.5] * (n // 3 + 1))[:n]
    y[-1] = last
    for m in (1, 2):
        assert matches(
            (core.sample_entropy(y, m, 0.3), core.approximate_entropy(y, m, 0.3)),
            entropies_reference(y, m, 0.3),
        )


@pytest.mark.parametrize("m", [1, 2, 3])
def test_entropies_of_values_closer_than_single_precision_resolves(m):
    """Long series are ordered by the single-precision values nearest to them first: values that share one,
    and differ by less than r or more, are ordered by their own values after that."""
    rng = np.random.default_rng(m)
    y = np.repeat(rng.standard_normal(60).astype(np.float32).astype(float), 5)
    y = y + rng.integers(-3, 4, y.size) * 1e-9  # one single-precision value, up to 6e-9 apart
    rng.shuffle(y)
    for r in (1.5e-9, 2.5e-9, 0.5):
        assert matches(
            (core.sample_entropy(y, m, r), core.approximate_entropy(y, m, r)),
            entropies_reference(y, m, r),
        )


# up to 45 segments of a lag: blocks of vectors, single vectors and single segments,
# with segments holding NaN or an infinity left out in any lane
@settings(max_examples=200, deadline=None)
@given(series(15, 90), st.integers(0, 30))
def test_hurst_equals_the_rescaled_range_fit(values, max_lag):
    assert matches(core.hurst_exponent(np.array(values), max_lag), hurst_reference(values, max_lag))
