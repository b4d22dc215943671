"""The theta family, each function compared bit for bit with a plain Python transcription of its model (Python
floats are IEEE doubles and `**` calls the platform's pow), on worked cases and random inputs."""

from __future__ import annotations

import math
import sys

import numpy as np
import pytest
from hypothesis import example, given
from hypothesis import strategies as st

import lumetra._core as core

from helpers import arr, check, fmax, matches, panic_message, worked

WORST, U64, NAN = sys.float_info.max, 2**64, math.nan
maybe_nan = st.one_of(st.floats(-1e3, 1e3), st.just(NAN))
scalar = st.floats(-3, 3)


def theta_ref(y, theta):
    n = len(y)
    return [
        theta * y[i] + (1.0 - theta) * (y[0] + ((i + 1.0) / n) * (y[-1] - y[0])) for i in range(n)
    ]


def dot_ref(y, intercept, slope, theta, alpha, drift):
    if len(y) < 2:
        return [], 0.0
    z = [(1.0 - theta) * (intercept + slope * i) + theta * v for i, v in enumerate(y)]
    level, errors = z[0], []
    for i in range(1, len(y)):
        errors.append(y[i] + (-0.5) * (drift * i + (level + (intercept + slope * i))))
        level = (1.0 - alpha) * level + alpha * z[i]
    return errors, level


def hybrid_ref(y, line, theta, additive):
    n = len(y)

    def mix(a, b, w):
        return (
            w * a + (1.0 - w) * b if additive else fmax(a, 1e-10) ** w * fmax(b, 1e-10) ** (1.0 - w)
        )

    def sse(a):
        level, total = c[0], 0.0
        for i in range(1, n):
            total, level = total + (c[i] - level) ** 2, (1.0 - a) * level + a * c[i]
        return total

    if n < 3:
        return WORST
    c, lo, hi = [mix(y[i], line[i], theta) for i in range(n)], 0.001, 0.999
    for _ in range(50):  # golden-section search for alpha
        d = (hi - lo) * 0.6180339887498949
        lo, hi = (lo, lo + d) if sse(hi - d) < sse(lo + d) else (hi - d, hi)
    alpha, s, total = (hi + lo) * 0.5, c[0], 0.0
    for i in range(n):
        s = s if i == 0 else alpha * c[i] + (1.0 - alpha) * s
        total = total + abs(y[i] - mix(s, line[i], 1.0 / fmax(theta, 1.0)))
    return total / n


def deseasonalize_ref(y, p):
    n, mult = len(y), min([v for v in y if v == v], default=math.inf) > 0
    h, sums, counts = (p - 1) // 2, [0.0] * p, [0] * p
    for j in range(max(n - p + 1, 0)):  # a period beyond n + 1 has no window either
        a = 0.0
        for k in range(p):
            a = a + y[j + k] * (1.0 / p)
        t = j + h
        if not mult or a > 0:
            sums[t % p], counts[t % p] = (
                sums[t % p] + (y[t] / a if mult else y[t] - a),
                counts[t % p] + 1,
            )
    # a phase without contributions is neutral: ratio 1, difference 0
    idx = [1.0 if mult and counts[s] == 0 else sums[s] / max(counts[s], 1) for s in range(p)]
    total = -0.0
    for v in idx:
        total = total + v
    mean = total / p
    idx = (
        [max(v / mean if mean > 0 else v, 0.01) if v == v else v for v in idx]
        if mult
        else [v - mean for v in idx]
    )
    return idx, mult, [y[i] / idx[i % p] if mult else y[i] - idx[i % p] for i in range(n)]


def fitted_ref(n, thetas, intercepts, slopes, weights, flat, lengths, last):
    def get(seq, i):
        if i >= len(seq):
            raise IndexError
        return seq[i]

    off, f = [0], [0.0] * n
    for i in range(1, len(thetas)):
        off.append((off[-1] + get(lengths, i - 1)) % U64)
    for i, theta in enumerate(thetas):
        w, a, b, length = get(weights, i), get(intercepts, i), get(slopes, i), get(lengths, i) % U64
        for t in range(n):
            level = get(flat, off[i] + t) if t < length else get(last, i)
            f[t] = f[t] + (w * (a + b * t) if theta == 0 else (w * ((a + b * t) + level)) * 0.5)
    return f


# --- worked cases and documented failures -------------------------------------------------

Y4 = arr([1, 2, 4, 7])
EXAMPLE = (
    arr([0, 2]),
    arr([1, 1]),
    arr([1, 1]),
    arr([0.5, 0.5]),
    arr([1, 2, 3]),
    arr([0, 3], np.int64),
)
TEN = arr([0, 10])
INDEX, CAPACITY = "ndarray: index out of bounds", "capacity overflow"
M = (2 / 3 + 1.0) / 2  # the mean raw index of [1, NaN, 2, 4] with period 2: phase 1 has none


@pytest.mark.parametrize(
    "name, args, expected",
    worked(
        [
            ("theta_decompose", (Y4, 2.0), arr([-0.5, 0, 2.5, 7])),
            ("dot_residuals", (Y4, 0.0, 2.0, 2.0, 0.5, 1.0), (arr([-0.5, 0, 1]), 5.5)),
            ("dot_hybrid_objective", (arr([1, 2]), arr([]), 2.0, False), WORST),  # line not read
            (
                "four_theta_deseasonalize",
                (arr([1, 3] * 3), 2),
                (arr([0.5, 1.5]), True, arr([2] * 6)),
            ),
            # no window (a period of n + 2 and beyond too): neutral indices, and the series comes back unchanged
            ("four_theta_deseasonalize", (arr([1, 2, 3]), 5), (arr([1] * 5), True, arr([1, 2, 3]))),
            (
                "four_theta_deseasonalize",
                (arr([-1, 2, 3]), 5),
                (arr([0] * 5), False, arr([-1, 2, 3])),
            ),
            ("four_theta_deseasonalize", (arr([]), 0), (arr([]), True, arr([]))),
            # windows touching the NaN are skipped, so phase 1 collects no ratio: its
            # raw index is 1, not 0 (which the floor would make a division by 0.01)
            (
                "four_theta_deseasonalize",
                (arr([1, NAN, 2, 4]), 2),
                (
                    arr([2 / 3 / M, 1 / M]),
                    True,
                    arr([1 / (2 / 3 / M), NAN, 2 / (2 / 3 / M), 4 / (1 / M)]),
                ),
            ),
            ("four_theta_fitted", (4, *EXAMPLE, TEN), arr([1, 2, 3, 5.5])),
            # the first line's -0.0 terms, w (a + b t) = -0.0 (1 + 0 t), become +0.0 as on a zeroed result
            (
                "four_theta_fitted",
                (
                    3,
                    arr([0]),
                    arr([1]),
                    arr([0]),
                    arr([-0.0]),
                    arr([]),
                    arr([0], np.int64),
                    arr([0]),
                ),
                arr([0, 0, 0]),
            ),
            ("dot_hybrid_objective", (arr([1, 2, 3, 4]), arr([1, 1, 1]), 2.0, True), INDEX),
            ("dot_hybrid_objective", (arr([1, 2, 3]), arr([]), 2.0, False), INDEX),
            (
                "four_theta_deseasonalize",
                (arr([1.0]), 0),
                "attempt to calculate the remainder with a divisor of zero",
            ),
            ("four_theta_deseasonalize", (arr([]), 2**60), CAPACITY),  # checked before allocating
            ("four_theta_deseasonalize", (arr([-1, 2, 3]), U64 - 1), CAPACITY),
            # guarded reads of last_levels and flat_levels (the fitted property below reaches every other one)
            ("four_theta_fitted", (4, *EXAMPLE, arr([0])), INDEX),
            # past the flat end
            ("four_theta_fitted", (4, *EXAMPLE[:5], arr([0, 4], np.int64), TEN), INDEX),
            # offset 2^64 - 1
            ("four_theta_fitted", (1, *EXAMPLE[:5], arr([-1, 3], np.int64), TEN), INDEX),
            ("four_theta_fitted", (2**60, *EXAMPLE, TEN), CAPACITY),
            ("four_theta_fitted", (U64 - 1, *[arr([])] * 5, arr([], np.int64), arr([])), CAPACITY),
            # three lines need offsets from lengths[0..1] only: the result is sized first
            ("four_theta_fitted", (2**60, arr([0, 2, 2]), *EXAMPLE[1:], TEN), CAPACITY),
            # four lines: forming the offsets reads the missing lengths[2] first
            ("four_theta_fitted", (2**60, arr([0, 2, 2, 2]), *EXAMPLE[1:], TEN), INDEX),
        ]
    ),
)
def test_worked_cases_and_failures(name, args, expected):
    check(getattr(core, name), args, expected)


# --- random inputs against the transcriptions ----------------------------------------------

dot_args = st.tuples(scalar, scalar, scalar, st.floats(-1, 2), scalar)


@given(st.lists(maybe_nan, max_size=40), dot_args)
def test_theta_line_and_dot_match_transcriptions_and_the_objective_sums_the_residuals(y, args):
    assert matches(core.theta_decompose(arr(y), args[2]), arr(theta_ref(y, args[2])))
    errors, level = dot_ref(y, *args)
    assert matches(core.dot_residuals(arr(y), *args), (arr(errors), level))
    total = 0.0
    for e in errors:
        total = total + e * e
    assert matches(core.dot_objective(arr(y), *args), total)


hybrid_value = st.one_of(st.floats(-50, 50), st.just(0.0), st.just(NAN))


# The search evaluates the next iteration's points for both outcomes at once; series whose optimum lies inside
# the interval, at an end (a trend), or on a tie (a constant series) follow the plain search.
@given(
    st.lists(st.tuples(hybrid_value, hybrid_value), min_size=3, max_size=25),
    st.one_of(st.floats(-2, 3), st.just(NAN)),
    st.booleans(),
    st.integers(0, 3),
)
@example([(5.0, 5.0)] * 40, 2.0, True, 0)
@example([(1.0 + i, 1.0 + i) for i in range(40)], 0.5, False, 0)
@example([(1.0 + 8 * (i % 2), 1.0 + 8 * i / 39) for i in range(40)], 3.5, True, 0)
@example([(50.0 + math.sin(i), 40.0 + i / 4) for i in range(40)], 1.0, False, 1)
def test_hybrid_matches_transcription(pairs, theta, additive, extra):
    y, line = [a for a, _ in pairs], [b for _, b in pairs] + [1e300] * extra  # extra is ignored
    expected = hybrid_ref(y, line, theta, additive)
    assert matches(core.dot_hybrid_objective(arr(y), arr(line), theta, additive), expected)


@given(st.lists(maybe_nan, max_size=40), st.integers(1, 12), st.booleans())
@example([1.0, 2.0, 3.0, math.inf] * 3, 4, True)  # an infinite phase: the mean index is NaN
def test_deseasonalize_matches_transcription(y, period, positive):
    y = [abs(v) + 0.5 for v in y] if positive else y
    indices, mult, d = deseasonalize_ref(y, period)
    assert matches(core.four_theta_deseasonalize(arr(y), period), (arr(indices), mult, arr(d)))


lines = st.integers(0, 4).flatmap(
    lambda k: st.tuples(
        st.integers(0, 6),
        st.lists(st.sampled_from([0.0, -0.0, 2.0, NAN]), min_size=k, max_size=k),
        *[st.lists(st.floats(-10, 10), min_size=max(k - 1, 0), max_size=k + 1) for _ in range(3)],
        st.lists(st.floats(-10, 10), max_size=14),
        st.lists(st.integers(-4, 6), min_size=max(k - 2, 0), max_size=k + 1),
        st.lists(st.floats(-10, 10), max_size=k + 1),
    )
)


@given(lines)
def test_fitted_matches_transcription(case):
    n, *values = case
    args = [arr(v) for v in values[:5]] + [arr(values[5], np.int64), arr(values[6])]
    try:
        expected = arr(fitted_ref(n, *values))
    except IndexError:
        assert panic_message(core.four_theta_fitted, n, *args) == INDEX
    else:
        assert matches(core.four_theta_fitted(n, *args), expected)


def test_fitted_lines_across_blocks_of_time_points():
    """The time points are processed in blocks; levels run out inside, at and past block edges."""
    rng = np.random.default_rng(11)
    lengths = [0, 1024, 1500, 2048, 4000]
    args = [
        [0.0, 2.0, 1.0, 0.0, 3.0],
        [0.5, -1.0, 2.0, 0.25, 1.0],
        [0.01, 0.002, -0.003, 0.0, 0.001],
        [0.3, 0.2, 0.1, 0.4, 0.0],
        rng.standard_normal(sum(lengths)).tolist(),
        lengths,
        rng.standard_normal(5).tolist(),
    ]
    arrays = [arr(a, np.int64 if a is lengths else np.float64) for a in args]
    for n in (0, 1, 1023, 1024, 1025, 2049, 2500):
        assert matches(core.four_theta_fitted(n, *arrays), arr(fitted_ref(n, *args))), n
