"""The theta family: theta lines, DOT, the DOT hybrid objective, four-theta
deseasonalisation and the four-theta fitted combination.

Each function is compared bit for bit with a plain Python transcription of its
model (Python floats are IEEE doubles and `**` calls the platform's pow), over
random inputs and over every array layout.
"""

from __future__ import annotations

import math
import sys

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import lumetra._core as core
from helpers import PanicException, layouts, same_bits

A = np.array
WORST = sys.float_info.max
U64 = 2**64

finite = st.floats(-1e3, 1e3, allow_nan=False)
scalar = st.floats(-3, 3, allow_nan=False)
maybe_nan = st.one_of(finite, st.just(math.nan))


def panics(message):
    return pytest.raises(PanicException(), match=f"^{message}$")


# --- independent transcriptions of the models ----------------------------------------


def theta_ref(y, theta):
    n = len(y)
    if n == 0:
        return []
    first, span, c = y[0], y[n - 1] - y[0], 1.0 - theta
    out = []
    for i in range(n):
        line = first + ((float(i) + 1.0) / float(n)) * span
        out.append(theta * y[i] + c * line)
    return out


def dot_ref(y, intercept, slope, theta, alpha, drift):
    n = len(y)
    if n < 2:
        return [], 0.0
    z = [(1.0 - theta) * (intercept + slope * float(i)) + theta * y[i] for i in range(n)]
    level = z[0]
    errors = []
    for i in range(1, n):
        c = drift * float(i) + (level + (intercept + slope * float(i)))
        errors.append(y[i] + (-0.5) * c)
        level = (1.0 - alpha) * level + alpha * z[i]
    return errors, level


def fmax(a, b):
    """C's fmax: a NaN operand yields the other one."""
    if math.isnan(a):
        return b
    if math.isnan(b):
        return a
    return max(a, b)


def hybrid_ref(y, line, theta, additive):
    n = len(y)
    if n < 3:
        return WORST
    if additive:
        c = [theta * y[i] + (1.0 - theta) * line[i] for i in range(n)]
    else:
        c = [fmax(y[i], 1e-10) ** theta * fmax(line[i], 1e-10) ** (1.0 - theta) for i in range(n)]

    def sse(a):
        level, total = c[0], 0.0
        for i in range(1, n):
            e = c[i] - level
            total = total + e * e
            level = (1.0 - a) * level + a * c[i]
        return total

    lo, hi = 0.001, 0.999
    for _ in range(50):
        d = (hi - lo) * 0.6180339887498949
        x1 = hi - d
        s1 = sse(x1)
        x2 = lo + d
        s2 = sse(x2)
        if s1 < s2:
            hi = x2
        else:
            lo = x1
    alpha = (hi + lo) * 0.5
    s = [c[0]]
    for i in range(1, n):
        s.append(alpha * c[i] + (1.0 - alpha) * s[i - 1])
    w = 1.0 / fmax(theta, 1.0)
    total = 0.0
    for i in range(n):
        if additive:
            f = w * s[i] + (1.0 - w) * line[i]
        else:
            f = fmax(s[i], 1e-10) ** w * fmax(line[i], 1e-10) ** (1.0 - w)
        total = total + abs(y[i] - f)
    return total / float(n)


def deseasonalize_ref(y, p):
    n = len(y)
    smallest = math.inf
    for v in y:
        if v < smallest:
            smallest = v
    mult = smallest > 0
    if p == 0:
        if n:
            raise ZeroDivisionError
        return [], True, []
    r = 1.0 / float(p)
    h = (p - 1) // 2
    sums, counts = [0.0] * p, [0] * p
    for j in range(max(n - p + 1, 0)):  # a period beyond n + 1 has no window either
        a = 0.0
        for k in range(p):
            a = a + y[j + k] * r
        t = j + h
        if not mult:
            sums[t % p] = sums[t % p] + (y[t] - a)
            counts[t % p] += 1
        elif a > 0:
            sums[t % p] = sums[t % p] + y[t] / a
            counts[t % p] += 1
    # a phase without contributions is neutral: ratio 1, difference 0
    idx = [1.0 if mult and counts[s] == 0 else sums[s] / float(max(counts[s], 1)) for s in range(p)]
    total = -0.0
    for v in idx:
        total = total + v
    mean = total / float(p)
    if not mult:
        idx = [v - mean for v in idx]
    else:
        if mean > 0:
            idx = [v / mean for v in idx]
        idx = [0.01 if v < 0.01 else v for v in idx]
    d = [y[i] / idx[i % p] if mult else y[i] - idx[i % p] for i in range(n)]
    return idx, mult, d


def fitted_ref(n, thetas, intercepts, slopes, weights, flat, lengths, last):
    def get(seq, i):
        if i >= len(seq):
            raise IndexError
        return seq[i]

    k = len(thetas)
    off = [0] * k
    for i in range(1, k):
        off[i] = (off[i - 1] + get(lengths, i - 1)) % U64
    f = [0.0] * n
    for i in range(k):
        w, a, b = get(weights, i), get(intercepts, i), get(slopes, i)
        length = get(lengths, i) % U64
        for t in range(n):
            level = get(flat, (off[i] + t) % U64) if t < length else get(last, i)
            trend = a + b * float(t)
            if thetas[i] == 0:
                f[t] = f[t] + w * trend
            else:
                f[t] = f[t] + (w * (trend + level)) * 0.5
    return f


def arr(values):
    return np.array(values, dtype=np.float64)


# --- theta_decompose --------------------------------------------------------------------


@pytest.mark.parametrize(
    "y, theta, expected",
    [
        ([1, 2, 4, 7], 2.0, [-0.5, 0.0, 2.5, 7.0]),
        ([1, 2, 4, 7], 0.0, [2.5, 4.0, 5.5, 7.0]),  # the line alone, anchored at the end
        ([1, 2, 4, 7], 0.5, [1.75, 3.0, 4.75, 7.0]),
        ([3], 0.1, [3.0]),
        ([], 5.0, []),
    ],
)
def test_theta_decompose_worked_cases(y, theta, expected):
    assert core.theta_decompose(arr(y), theta).tolist() == expected


@given(st.lists(maybe_nan, max_size=40), scalar)
def test_theta_decompose_matches_transcription(y, theta):
    assert same_bits(core.theta_decompose(arr(y), theta), arr(theta_ref(y, theta)))


def test_theta_decompose_nan_at_an_end_reaches_every_element():
    assert np.isnan(core.theta_decompose(arr([math.nan, 1, 2]), 0.0)).all()
    assert np.isnan(core.theta_decompose(arr([1, 2, math.nan]), 1.0)).all()
    out = core.theta_decompose(arr([1, math.nan, 2]), 0.5)
    assert np.isnan(out).tolist() == [False, True, False]


# --- dot_objective and dot_residuals ------------------------------------------------------


@pytest.mark.parametrize(
    "args, errors, level",
    [
        ((0.0, 2.0, 2.0, 0.5, 0.0), [0.0, 1.0, 2.5], 5.5),
        ((0.0, 2.0, 2.0, 0.5, 1.0), [-0.5, 0.0, 1.0], 5.5),  # drift moves errors, not the level
        ((1.0, 2.0, 1.0, 0.5, 0.0), [0.0, 0.75, 2.125], 39 / 8),
    ],
)
def test_dot_worked_cases(args, errors, level):
    y = arr([1, 2, 4, 7])
    residuals, last = core.dot_residuals(y, *args)
    assert residuals.tolist() == errors and last == level
    assert core.dot_objective(y, *args) == sum(e * e for e in errors)


@pytest.mark.parametrize("y", [[], [4.0]])
def test_dot_short_series_are_not_scored(y):
    args = (1.0, 2.0, 0.5, 0.3, 0.1)
    assert same_bits(core.dot_objective(arr(y), *args), 0.0)
    residuals, level = core.dot_residuals(arr(y), *args)
    assert residuals.shape == (0,) and residuals.dtype == np.float64
    assert same_bits(level, 0.0)  # not seeded from y


def test_dot_two_observations_give_one_error_and_the_blended_level():
    y, alpha = arr([3.0, 5.0]), 0.25
    residuals, level = core.dot_residuals(y, 1.0, 0.5, 2.0, alpha, 0.0)
    z = [(1 - 2.0) * 1.0 + 2.0 * 3.0, (1 - 2.0) * 1.5 + 2.0 * 5.0]
    assert residuals.size == 1
    assert level == (1 - alpha) * z[0] + alpha * z[1]


dot_args = st.tuples(scalar, scalar, scalar, st.floats(-1, 2, allow_nan=False), scalar)


@given(st.lists(maybe_nan, max_size=40), dot_args)
def test_dot_matches_transcription(y, args):
    errors, level = dot_ref(y, *args)
    assert same_bits(core.dot_residuals(arr(y), *args), (arr(errors), level))


@given(st.lists(maybe_nan, max_size=40), dot_args)
def test_dot_objective_is_the_in_order_sum_of_squared_residuals(y, args):
    residuals, _ = core.dot_residuals(arr(y), *args)
    total = 0.0
    for e in residuals.tolist():
        total = total + e * e
    assert same_bits(core.dot_objective(arr(y), *args), total)


# --- dot_hybrid_objective -----------------------------------------------------------------


@pytest.mark.parametrize("additive", [True, False])
@pytest.mark.parametrize("y", [[], [1.0], [1.0, 2.0]])
def test_hybrid_too_short_is_the_worst_score(y, additive):
    # the line is not looked at, whatever its length
    for line in ([], [1.0] * 10):
        assert core.dot_hybrid_objective(arr(y), arr(line), 2.0, additive) == WORST


def test_hybrid_worked_cases():
    five = arr([5, 5, 5, 5])
    assert core.dot_hybrid_objective(five, five, 2.0, True) == 0.0
    y, line = arr([1, 2, 4, 7]), arr([1, 3, 5, 7])
    result = core.dot_hybrid_objective(y, line, 2.0, True)
    assert result == hybrid_ref([1.0, 2.0, 4.0, 7.0], [1.0, 3.0, 5.0, 7.0], 2.0, True)
    assert result == pytest.approx(7.5e-4, rel=1e-2)


hybrid_values = st.one_of(st.floats(-50, 50, allow_nan=False), st.just(0.0), st.just(math.nan))


@given(
    st.lists(st.tuples(hybrid_values, hybrid_values), min_size=3, max_size=25),
    st.floats(-2, 3, allow_nan=False),
    st.booleans(),
    st.integers(0, 3),
)
def test_hybrid_matches_transcription(pairs, theta, additive, extra):
    y = [a for a, _ in pairs]
    line = [b for _, b in pairs] + [1e300] * extra  # elements past n are ignored
    expected = hybrid_ref(y, line, theta, additive)
    assert same_bits(core.dot_hybrid_objective(arr(y), arr(line), theta, additive), expected)


@given(st.lists(st.floats(0.5, 50), min_size=3, max_size=20), st.floats(-1, 1))
def test_hybrid_additive_small_theta_uses_the_line_only_through_the_mix(y, theta):
    # w = 1 for theta <= 1, so with theta = 1 the line has no influence at all
    line = [v * 2 for v in y]
    assert same_bits(
        core.dot_hybrid_objective(arr(y), arr(line), 1.0, True),
        core.dot_hybrid_objective(arr(y), arr(y[::-1]), 1.0, True),
    )
    assert same_bits(
        core.dot_hybrid_objective(arr(y), arr(line), theta, True),
        hybrid_ref(y, line, theta, True),
    )


def test_hybrid_nan_theta_and_nan_series():
    y = arr([1, 2, 4, 7])
    # additive NaN poisons every sum; the search still ends and the score is NaN
    assert math.isnan(core.dot_hybrid_objective(arr([1, math.nan, 4, 7]), y, 0.5, True))
    # multiplicative floors NaN before the powers but scores the raw observation
    assert math.isnan(core.dot_hybrid_objective(arr([1, math.nan, 4, 7]), y, 0.5, False))
    assert same_bits(
        core.dot_hybrid_objective(y, y, math.nan, True), hybrid_ref(y.tolist(), y.tolist(), math.nan, True)
    )


@pytest.mark.parametrize("additive", [True, False])
@pytest.mark.parametrize("m", [0, 2, 4])
def test_hybrid_line_shorter_than_series_fails(m, additive):
    with panics("ndarray: index out of bounds"):
        core.dot_hybrid_objective(arr([1, 2, 3, 4, 5]), arr([1.0] * m), 2.0, additive)


# --- four_theta_deseasonalize ------------------------------------------------------------


@pytest.mark.parametrize(
    "y, period, expected",
    [
        ([0, 2, 0, 2, 0, 2], 2, ([-1, 1], False, [1] * 6)),
        ([1, 3, 1, 3, 1, 3], 2, ([0.5, 1.5], True, [2] * 6)),
        ([1, 2, 3, 4, 1, 2, 3, 4], 4, ([0.4, 0.8, 1.2, 1.6], True, [2.5] * 8)),
        ([0, 2, 4, 6, 0, 2, 4, 6], 4, ([-3, -1, 1, 3], False, [3] * 8)),
        ([math.nan, 3, 1, 3, 1, 3], 2, ([0.5, 1.5], True, [math.nan] + [2] * 5)),
        ([1, 2, 3], 1, ([1], True, [1, 2, 3])),
        ([-1, 2, 3], 1, ([0], False, [-1, 2, 3])),
        # no window at all: neutral indices, the series comes back unchanged
        ([1, 2, 3], 4, ([1] * 4, True, [1, 2, 3])),
        ([1, 2, 3], 5, ([1] * 5, True, [1, 2, 3])),
        ([1, 2, 3], 50, ([1] * 50, True, [1, 2, 3])),
        ([-1, 2, 3], 4, ([0] * 4, False, [-1, 2, 3])),
        ([-1, 2, 3], 5, ([0] * 5, False, [-1, 2, 3])),
        ([], 3, ([1] * 3, True, [])),
        ([], 0, ([], True, [])),
    ],
)
def test_deseasonalize_worked_cases(y, period, expected):
    result = core.four_theta_deseasonalize(arr(y), period)
    indices, mult, adjusted = expected
    assert same_bits(result, (arr(indices), mult, arr(adjusted)))


def test_deseasonalize_phase_without_ratio_is_neutral():
    # windows touching the NaN are skipped, so phase 1 collects no ratio; its
    # index is 1, not 0 (which the floor would turn into a division by 0.01)
    indices, mult, adjusted = core.four_theta_deseasonalize(arr([1, math.nan, 2, 4]), 2)
    assert mult
    assert indices.tolist() == pytest.approx([0.8, 1.2], rel=1e-15)
    assert same_bits(indices, arr(deseasonalize_ref([1.0, math.nan, 2.0, 4.0], 2)[0]))
    assert adjusted[3] == 4 / indices[1]


@given(st.lists(maybe_nan, max_size=30), st.integers(1, 8))
def test_deseasonalize_matches_transcription(y, period):
    indices, mult, d = deseasonalize_ref(y, period)
    assert same_bits(core.four_theta_deseasonalize(arr(y), period), (arr(indices), mult, arr(d)))


@given(st.lists(st.floats(0.1, 100), min_size=1, max_size=30), st.integers(1, 8))
def test_deseasonalize_positive_series_is_multiplicative_with_floored_indices(y, period):
    indices, mult, d = core.four_theta_deseasonalize(arr(y), period)
    assert mult and (indices >= 0.01).all()
    assert same_bits(d, arr([y[i] / indices[i % period] for i in range(len(y))]))


@given(st.lists(maybe_nan, max_size=10), st.integers(1, 40))
def test_deseasonalize_period_beyond_the_series_leaves_it_unchanged(y, extra):
    indices, mult, d = core.four_theta_deseasonalize(arr(y), len(y) + extra)
    assert indices.tolist() == [1.0 if mult else 0.0] * (len(y) + extra)
    assert same_bits(d, arr(y))


def test_deseasonalize_period_zero_with_observations_fails():
    with panics("attempt to calculate the remainder with a divisor of zero"):
        core.four_theta_deseasonalize(arr([1.0]), 0)


@pytest.mark.parametrize("period", [2**60, 2**61 + 3, U64 - 1])
@pytest.mark.parametrize("y", [[], [1.0, 2.0, 3.0], [-1.0, 2.0]])
def test_deseasonalize_unsizeable_period_fails_before_allocating(y, period):
    with panics("capacity overflow"):
        core.four_theta_deseasonalize(arr(y), period)


# --- four_theta_fitted -----------------------------------------------------------------------

EXAMPLE = dict(
    thetas=arr([0, 2]), intercepts=arr([1, 1]), slopes=arr([1, 1]), weights=arr([0.5, 0.5]),
    filtered_flat=arr([1, 2, 3]), filtered_lengths=A([0, 3]), last_levels=arr([0, 10]),
)  # fmt: skip


def fitted(n, **changes):
    return core.four_theta_fitted(n=n, **{**EXAMPLE, **changes})


def test_fitted_worked_cases():
    assert fitted(4).tolist() == [1.0, 2.0, 3.0, 5.5]
    second = core.four_theta_fitted(3, arr([2, 3]), arr([0, 1]), arr([1, 0]), arr([1, 1]),
                                    arr([5, 6, 7, 8]), A([2, 2]), arr([9, 4]))  # fmt: skip
    assert second.tolist() == [6.5, 8.0, 8.0]
    # last_levels[1] is needed only from t = 3 on
    assert fitted(3, last_levels=arr([0])).tolist() == [1.0, 2.0, 3.0]
    with panics("ndarray: index out of bounds"):
        fitted(4, last_levels=arr([0]))


def test_fitted_theta_only_tells_trend_from_mean():
    base = fitted(4)
    assert same_bits(fitted(4, thetas=arr([0, 3])), base)
    assert same_bits(fitted(4, thetas=arr([-0.0, math.nan])), base)  # -0 is 0; NaN is not
    assert fitted(4, thetas=arr([0, 0])).tolist() == [1.0, 2.0, 3.0, 4.0]


def test_fitted_without_lines_reads_nothing_else():
    empty = arr([])
    out = core.four_theta_fitted(5, empty, empty, empty, empty, empty, A([], dtype=np.int64), empty)
    assert out.tolist() == [0.0] * 5


@pytest.mark.parametrize(
    "changes, n",
    [
        ({"weights": arr([0.5])}, 0),  # the per-line arrays are read even with n = 0
        ({"intercepts": arr([1])}, 0),
        ({"slopes": arr([1])}, 2),
        ({"filtered_lengths": A([0])}, 0),
        ({"filtered_lengths": A([], dtype=np.int64)}, 0),  # missing while forming offsets
        ({"filtered_lengths": A([0, 4])}, 4),  # the piece runs past filtered_flat
        ({"filtered_lengths": A([0, -1])}, 4),  # a negative length is a huge one
        ({"filtered_lengths": A([4, 3])}, 1),  # line 1 starts past the end
        ({"filtered_lengths": A([-1, 3])}, 1),  # offset 2^64 - 1
        ({"last_levels": arr([])}, 1),  # a theta-0 line of length 0 still looks its level up
    ],
)
def test_fitted_out_of_bounds_reads_fail(changes, n):
    with panics("ndarray: index out of bounds"):
        fitted(n, **changes)


def test_fitted_n_zero_consults_neither_levels_nor_pieces():
    assert fitted(0, filtered_flat=arr([]), last_levels=arr([]), filtered_lengths=A([9, 9])).size == 0


def test_fitted_offsets_wrap_modulo_2_64():
    # lengths 2, -2, 2: line 1 starts at 2 with a huge length, line 2 at
    # 2 + (2^64 - 2) = 0 again
    args = (arr([1, 1, 1]), arr([0, 0, 0]), arr([0, 0, 0]), arr([1, 1, 1]),
            arr([10, 20, 30, 40]), A([2, -2, 2]), arr([])) # fmt: skip
    out = core.four_theta_fitted(2, *args)
    assert out.tolist() == [(10 + 30 + 10) / 2, (20 + 40 + 20) / 2]


@pytest.mark.parametrize("n", [2**60, U64 - 1])
def test_fitted_unsizeable_result_fails_after_the_offsets(n):
    with panics("capacity overflow"):
        fitted(n)
    with panics("capacity overflow"):
        core.four_theta_fitted(n, *[arr([])] * 5, A([], dtype=np.int64), arr([]))
    # three lines: the offsets need filtered_lengths[0..1], present, and the
    # missing third entry would only be read after the result is sized
    with panics("capacity overflow"):
        fitted(n, thetas=arr([0, 2, 2]))
    # four lines: forming the offsets reads the missing filtered_lengths[2] first
    with panics("ndarray: index out of bounds"):
        fitted(n, thetas=arr([0, 2, 2, 2]))


line_arrays = st.integers(0, 4).flatmap(
    lambda k: st.tuples(
        st.integers(0, 6),
        st.lists(st.sampled_from([0.0, -0.0, 2.0, 0.5, math.nan]), min_size=k, max_size=k),
        *[st.lists(st.floats(-10, 10), min_size=max(k - 1, 0), max_size=k + 1) for _ in range(3)],
        st.lists(st.floats(-10, 10), max_size=14),
        st.lists(st.integers(-4, 6), min_size=max(k - 2, 0), max_size=k + 1),
        st.lists(st.floats(-10, 10), max_size=k + 1),
    )
)


@given(line_arrays)
def test_fitted_matches_transcription(case):
    n, thetas, intercepts, slopes, weights, flat, lengths, last = case
    args = (arr(thetas), arr(intercepts), arr(slopes), arr(weights), arr(flat),
            A(lengths, dtype=np.int64), arr(last))  # fmt: skip
    try:
        expected = fitted_ref(n, thetas, intercepts, slopes, weights, flat, lengths, last)
    except IndexError:
        with panics("ndarray: index out of bounds"):
            core.four_theta_fitted(n, *args)
        return
    assert same_bits(core.four_theta_fitted(n, *args), arr(expected))


# --- properties shared by every function ---------------------------------------------------


def common_layouts(*value_lists):
    """For each layout name present for every list: the arrays in that layout."""
    per_list = [layouts(v) for v in value_lists]
    names = set.intersection(*(set(p) for p in per_list))
    return {name: [p[name] for p in per_list] for name in sorted(names)}


SERIES = [3.0, 1.5, 4.0, 1.0, 5.5, 9.0, 2.5, 6.0, 5.0, 3.5]
CALLS = {
    "theta_decompose": lambda y: core.theta_decompose(y, 1.7),
    "dot_objective": lambda y: core.dot_objective(y, 0.5, 0.3, 2.0, 0.4, 0.1),
    "dot_residuals": lambda y: core.dot_residuals(y, 0.5, 0.3, 2.0, 0.4, 0.1),
    "four_theta_deseasonalize": lambda y: core.four_theta_deseasonalize(y, 4),
}


@pytest.mark.parametrize("name", CALLS)
@pytest.mark.parametrize("values", [SERIES, [-v for v in SERIES], [2.0] * 6])
def test_single_series_layouts_read_like_contiguous_copies(name, values):
    call = CALLS[name]
    expected = call(arr(values))
    for layout, (y,) in common_layouts(values).items():
        before = y.copy()
        assert same_bits(call(y), expected), layout
        assert np.array_equal(y, before), layout


@pytest.mark.parametrize("additive", [True, False])
def test_hybrid_layouts_read_like_contiguous_copies(additive):
    line = [v + 1 for v in SERIES]
    expected = core.dot_hybrid_objective(arr(SERIES), arr(line), 1.6, additive)
    for layout, (y, line0) in common_layouts(SERIES, line).items():
        assert same_bits(core.dot_hybrid_objective(y, line0, 1.6, additive), expected), layout
        # a longer line read through a stride: only its first n elements count
        longer = layouts(line + [1e9, -1e9])[layout] if layout != "broadcast" else line0
        assert same_bits(core.dot_hybrid_objective(y, longer, 1.6, additive), expected), layout


def test_fitted_layouts_read_like_contiguous_copies():
    float_values = [[0, 2, 0.5], [1, -1, 2], [0.5, 1, -0.25], [0.3, 0.3, 0.4],
                    [1, 2, 3, 4, 5, 6, 7], [7, 8, 9]]  # fmt: skip
    lengths = [3, 2, 2]
    expected = core.four_theta_fitted(6, *map(arr, float_values[:5]), A(lengths), arr(float_values[5]))
    int_layouts = layouts(lengths, dtype=np.int64)
    for layout, arrays in common_layouts(*float_values).items():
        lens = int_layouts.get(layout, A(lengths))
        result = core.four_theta_fitted(6, *arrays[:5], lens, arrays[5])
        assert same_bits(result, expected), layout
    for layout, lens in int_layouts.items():
        result = core.four_theta_fitted(6, *map(arr, float_values[:5]), lens, arr(float_values[5]))
        assert same_bits(result, expected), layout


@pytest.mark.parametrize(
    "call, kind, message",
    [
        (lambda: core.four_theta_deseasonalize(arr([1.0]), -1), OverflowError, None),
        (lambda: core.four_theta_deseasonalize(arr([1.0]), 2.0), TypeError, "argument 'period': "),
        (lambda: core.four_theta_fitted(-1, *[arr([])] * 5, A([], dtype=np.int64), arr([])),
         OverflowError, None),
        (lambda: core.dot_hybrid_objective(arr([1.0]), arr([1.0]), 1.0, 1), TypeError,
         "argument 'is_additive': 'int' object cannot be converted to 'PyBool'"),
    ],
)  # fmt: skip
def test_scalar_kinds_of_the_family(call, kind, message):
    with pytest.raises(kind) as info:
        call()
    if message is not None:
        assert str(info.value).startswith(message)
    else:
        assert not str(info.value).startswith("argument")


def test_hybrid_accepts_numpy_bool():
    y = arr([1, 2, 4, 7])
    assert same_bits(
        core.dot_hybrid_objective(y, y, 2.0, np.bool_(False)), core.dot_hybrid_objective(y, y, 2.0, False)
    )
