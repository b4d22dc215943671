"""Nearest-pattern search (dtsf_distances, dtsf_fit_residuals) and the reservoir update."""

from __future__ import annotations

import itertools
import math

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import lumetra._core as core
from helpers import arr, check, exp, fmax, layouts, matches

finite = st.floats(-1e3, 1e3, allow_nan=False)


def normalised(window):
    s = sq = 0.0
    for v in window:
        s, sq = s + v, sq + v * v
    mean = s / len(window)
    sd = fmax(math.sqrt(fmax(sq / len(window) - mean * mean, 0.0)), 1e-8)
    return [(v - mean) / sd for v in window]


def rms(a, b):
    d = 0.0
    for x, z in zip(a, b):
        d += (x - z) * (x - z)
    return math.sqrt(d / len(a))


def distances_reference(y, q, w, max_start, normalize, decay, n_total):
    windows = [normalised(y[s : s + w]) if normalize else y[s : s + w] for s in range(max_start)]
    weights = [fmax(exp(-decay * float((n_total - s) % 2**64)), 1e-10) for s in range(max_start)]
    return np.array([rms(q[:w], window) / weight for window, weight in zip(windows, weights)])


def ascending(v):
    """Sort key: numeric order, -0.0 before +0.0, NaN after everything."""
    return (math.isnan(v), 0.0 if math.isnan(v) else v, math.copysign(1.0, v))


def residuals_reference(y, w, k, normalize):
    """Candidates ranked by distance, equal distances by start (the earlier first)."""
    prepare = normalised if normalize else list
    out = [0.0] * len(y)
    for t in range(w + 1, len(y)):
        query = prepare(y[t - w : t])
        ranked = sorted((ascending(rms(query, prepare(y[s : s + w]))), s) for s in range(t - w))
        nxt = sorted((y[s + w] for _, s in ranked[:k]), key=ascending)
        m = len(nxt) // 2
        out[t] = y[t] - (nxt[m] if len(nxt) % 2 else (nxt[m - 1] + nxt[m]) * 0.5)
    return np.array(out)


def reservoir_reference(u, w_in, w, n, a, washout):
    x, states = [0.0] * n, []
    for t, ut in enumerate(u):
        h = [ut * w_in[i] for i in range(n)]
        for i, j in itertools.product(range(n), range(n)):  # each unit's sum in index order
            h[i] = h[i] + w[i * n + j] * x[j]
        x = [(1.0 - a) * x[j] + a * math.tanh(h[j]) for j in range(n)]
        if t >= washout:
            states += x
    return np.array(states), np.array(x)


# --- worked cases and documented failures ----------------------------------------

Y4, Y5, U2, E = arr([1, 2, 3, 4]), arr([1, 2, 3, 4, 5]), arr([0.5, -0.5]), arr([])
INDEX, CAPACITY = "ndarray: index out of bounds", "capacity overflow"
PARTITION = "partition_at_index index 18446744073709551615 greater than length of slice 1"


def end(i, n):
    return f"range end index {i} out of range for slice of length {n}"


@pytest.mark.parametrize(
    "function, args, expected",
    [
        # each window of a line normalises to [-1, 1]
        (core.dtsf_distances, (Y4, [3, -4], 2, 3, True, 0.0, 4), arr([math.sqrt(20.5)] * 3)),
        (core.dtsf_distances, (Y4, E, 0, 5, True, 0.0, 4), arr([math.nan] * 5)),  # empty windows
        # a constant window whose variance overflows (inf - inf) still normalises to zeros
        (core.dtsf_distances, (arr([1e200] * 6), [0, 0], 2, 5, True, 0.0, 6), arr([0] * 5)),
        (core.dtsf_distances, (E, E, 7, 0, True, 0.0, 0), E),  # no start asks for nothing
        (core.dtsf_distances, (arr([0, 1, 2, 3])[::2], E, 7, 0, True, 0.0, 0), E),
        (core.dtsf_fit_residuals, (Y5, 1, 2**64 - 1, False), arr([0, 0, 1, 1.5, 2])),  # median of y[w..t-1]
        (core.dtsf_fit_residuals, (Y5, 5, 0, False), arr([0] * 5)),
        (core.dtsf_fit_residuals, (Y5, 4, 0, False), arr([0] * 5)),  # n = w + 1: no position has a candidate
        # empty windows: every distance NaN, the earliest starts taken
        (core.dtsf_fit_residuals, ([4, -1, 2, 8, 3], 0, 2, False), arr([0, -5, 0.5, 6.5, 1.5])),
        (core.dtsf_fit_residuals, (E, 0, 0, True), E),
        (core.esn_reservoir_update, (U2, [1], [0, 99], 1, 1.0, 9), (E, arr([math.tanh(-0.5)]))),  # washout past the end
        # nothing to run examines no weight
        (core.esn_reservoir_update, (E, E, E, 3, 0.5, 0), (E, arr([0, 0, 0]))),
        (core.esn_reservoir_update, (U2, E, E, 0, 0.5, 0), (E, E)),
        # the result's size first, whatever else is wrong
        (core.dtsf_distances, (Y4, E, 9, 2**63, False, 0.0, 4),
         "ndarray: Shape too large, product of non-zero axis lengths overflows isize"),
        (core.dtsf_distances, (Y4, E, 9, 2**60, False, 0.0, 4), CAPACITY),
        (core.dtsf_distances, (Y4, E, 5, 1, False, 0.0, 4), end(5, 4)),
        (core.dtsf_distances, (Y4, [1.0], 2, 1, False, 0.0, 4), INDEX),
        (core.dtsf_distances, (Y4, [1.0, 2.0], 2, 4, False, 0.0, 4), end(5, 4)),
        (core.dtsf_distances, (Y4, [1.0, 2.0], 2, 2**59, False, 0.0, 4), end(5, 4)),
        (core.dtsf_distances, (Y4, E, 0, 6, False, 0.0, 4), "range start index 5 out of range for slice of length 4"),
        (core.dtsf_distances, (E, E, 1, 1, False, 0.0, 4), end(1, 0)),
        # no neighbours cannot be selected
        (core.dtsf_fit_residuals, (arr([0, 1]), 0, 0, True), PARTITION),
        (core.dtsf_fit_residuals, (Y4, 2, 0, True), PARTITION),
        (core.esn_reservoir_update, (U2, [1.0, 2.0], [0.0] * 3, 2, 1.0, 0), INDEX),
        (core.esn_reservoir_update, (U2, [1.0], [0.0] * 4, 2, 1.0, 0), INDEX),
        # n * n = 2^64 wraps to 0: the row length is checked without forming it
        (core.esn_reservoir_update, (U2, np.broadcast_to(1.0, 2**32), np.broadcast_to(0.0, 2**33), 2**32, 1.0, 0), INDEX),
        (core.esn_reservoir_update, (E, E, E, 2**60, 1.0, 0), CAPACITY),  # sized before the early return
        (core.esn_reservoir_update, (U2, E, E, 2**59, 1.0, 0), CAPACITY),  # two rows of 2^59 units
    ],
)  # fmt: skip
def test_worked_cases_and_failures(function, args, expected):
    check(function, args, expected)


# --- random inputs against the transcriptions ----------------------------------------


@given(st.data())
def test_distances_match_the_reference(data):
    # up to 36 starts: blocks of 4 or 8 windows side by side, then the rest one by one
    y = data.draw(st.lists(finite, min_size=1, max_size=40))
    w = data.draw(st.integers(1, len(y)))
    q = data.draw(st.lists(finite, min_size=w, max_size=w + 3))
    max_start = data.draw(st.integers(1, len(y) - w + 1))
    decay = data.draw(st.sampled_from([0.0, 0.05, -0.2, 40.0, math.nan]))
    n_total = data.draw(st.sampled_from([len(y), 0, 2**64 - 1]))
    for normalize in (False, True):
        args = (w, max_start, normalize, decay, n_total)
        assert matches(core.dtsf_distances(arr(y), arr(q), *args), distances_reference(y, q, *args))


@given(st.data())
def test_residuals_match_the_reference(data):
    # small integers give many equal distances, where the earlier start is preferred
    y = data.draw(st.lists(st.one_of(finite, st.integers(-3, 3).map(float)), min_size=2, max_size=24))
    w, k = data.draw(st.integers(1, len(y) - 1)), data.draw(st.integers(1, len(y)))
    normalize = data.draw(st.booleans())
    assert matches(core.dtsf_fit_residuals(arr(y), w, k, normalize), residuals_reference(y, w, k, normalize))


@given(st.data())
def test_reservoir_matches_the_reference(data):
    n = data.draw(st.integers(0, 9))
    u = data.draw(st.lists(st.floats(-3, 3), max_size=12))
    w_in = data.draw(st.lists(st.floats(-1, 1), min_size=n, max_size=n + 2))
    w = data.draw(st.lists(st.floats(-1, 1), min_size=n * n, max_size=n * n + 2))
    leak, washout = data.draw(st.floats(-0.5, 1.5)), data.draw(st.integers(0, 14))
    out = core.esn_reservoir_update(arr(u), arr(w_in), arr(w), n, leak, washout)
    assert matches(out, reservoir_reference(u, w_in, w, n, leak, washout))


# --- longer inputs: blocks of windows, of candidates and of units -------------------


# Positions with more candidates than the 32 that the selection gathers before
# it first keeps only the k nearest; from then on farther candidates are turned
# away by their squared distance. Ties (rounded values) and NaN distances (NaN
# values, kept last) are where a wrong bound would turn away a candidate that
# belongs to the k nearest. With k past the number of candidates nothing is
# selected away: the forecast is the running median of y[w..t-1].
@pytest.mark.parametrize("kind", ["walk", "ties", "nan", "nan first"])
@pytest.mark.parametrize("k", [1, 4, 31, 32, 33, 2**64 - 1])  # the selection gathers max(2k, 32) candidates
def test_residuals_with_more_candidates_than_the_selection_gathers(kind, k):
    rng = np.random.default_rng(k % 1000)
    y = rng.standard_normal(110).cumsum()
    if kind == "ties":
        y = np.round(y) + 0.0
    if kind == "nan":
        y[rng.choice(y.size, 3, replace=False)] = np.nan
    if kind == "nan first":  # the nearest kept at first are all at NaN distance
        y[:75:3] = np.nan
    for normalize in (False, True):
        expected = residuals_reference(list(y), 4, k, normalize)
        assert matches(core.dtsf_fit_residuals(y, 4, k, normalize), expected), normalize


@pytest.mark.parametrize("n", [15, 16, 17, 31, 33])
def test_reservoirs_larger_than_a_block_of_units(n):
    # units run in blocks of 8 or 16, the rest in single vectors whose last one
    # ends at the last unit; an odd n leaves a last column on its own
    rng = np.random.default_rng(n)
    u, w_in, w = rng.standard_normal(4), rng.standard_normal(n), rng.standard_normal(n * n + 1) / n
    expected = reservoir_reference(list(u), list(w_in), list(w), n, 0.6, 1)
    for name, view in layouts(w).items():
        assert matches(core.esn_reservoir_update(u, w_in, view, n, 0.6, 1), expected), name
