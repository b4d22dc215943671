"""ETS models: ets_filter, ets_loglik and batch_ets_filter. All three run one recursion; they are checked against a
plain transcription of it, and against each other (loglik from the filter's errors, batch against a loop of single
calls), bit for bit."""

from __future__ import annotations

import gc
import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import lumetra._core as core

from helpers import (
    NANS,
    arr,
    c_math,
    check,
    layouts,
    matches,
    named,
    panic_message,
    same_bits,
    shown,
    worked,
)

c_pow, c_log = c_math("pow", 2), c_math("log")
EPS, f64 = np.float64(1e-10), np.float64


def ets_reference(
    y, level0, trend0, seasonal0, alpha, beta, gamma, phi, period, err, trend, season
):
    """The recursion step by step, in float64 scalars (IEEE, no exceptions)."""
    level, slope, S = f64(level0), f64(trend0), [f64(v) for v in seasonal0]
    alpha, beta, gamma, phi = map(f64, (alpha, beta, gamma, phi))
    fitted, errors, j = [], [], 0
    if len(y) and period == 0:
        raise ZeroDivisionError
    for value in y:
        s = f64(0.0)
        if season in (1, 2):
            if j >= len(S):
                raise IndexError(f"index out of bounds: the len is {len(S)} but the index is {j}")
            s = S[j]
            if season == 2 and s < 1e-6:
                s = S[j] = f64(1e-6)
        f = level if trend == 0 else level + phi * slope if trend in (1, 2) else level * slope
        f = f + s if season == 1 else f * s if season == 2 else f
        e = f64(value) - f
        fitted.append(f)
        errors.append(e)
        base = level + phi * slope
        if err != 0:
            new = base * (alpha * (e / (f + EPS)) + 1.0)
        else:
            new = base + (alpha * e) / (s + EPS) if season == 2 else base + alpha * e
        new = f64(-1e15) if new < -1e15 else f64(1e15) if new > 1e15 else new
        if trend in (1, 2):
            slope = phi * slope + beta * (new - level)
        elif trend == 3:
            slope = slope * c_pow(new / (level + EPS), beta)
        if season == 1:
            S[j] = s + gamma * e
        elif season == 2:
            S[j] = (
                s + (gamma * e) / (base + EPS) if err == 0 else s * ((gamma * e) / (f + EPS) + 1.0)
            )
            S[j] = f64(1e-6) if S[j] < 1e-6 else S[j]
        level = new
        j = 0 if j + 1 == period else j + 1
    return (
        np.array(fitted, dtype=float),
        np.array(errors, dtype=float),
        float(level),
        float(slope),
        np.array(S),
    )


def loglik_from_filter(fitted, errors, err):
    """ets_loglik recomputed from ets_filter's forecasts and errors."""
    q, logs = f64(0.0), f64(0.0)
    for f, e in zip(fitted, errors):
        r = e if err == 0 else e / (abs(f) + EPS)
        q = q + r * r
        logs = logs if err == 0 else logs + c_log(np.fmax(abs(f), EPS))
    n = f64(len(errors))
    v = n * (c_log((q * f64(6.283185307179586)) / n) + 1.0)
    return float(v if err == 0 else (logs + logs) + v)


special = st.sampled_from([0.0, -0.0, 1e-6, -2.0, 1e300, -1e300, math.inf, math.nan])
value = st.floats(-50, 50) | special
weight = st.floats(-0.5, 1.5) | special
# every code of a class selects the same model
ERR = {"additive": [0], "multiplicative": [1, 5, -3, 2**31 - 1]}
TREND = {"none": [0], "additive": [1, 2], "multiplicative": [3], "other": [7, -1, 4]}
SEASON = {"none": [0, 3, -2, 99], "additive": [1], "multiplicative": [2]}


@pytest.mark.filterwarnings("ignore::RuntimeWarning")  # the transcription's IEEE specials
@pytest.mark.parametrize("season", SEASON)
@pytest.mark.parametrize("trend", TREND)
@pytest.mark.parametrize("err", ERR)
@settings(max_examples=40, deadline=None)
@given(
    y=st.lists(st.floats(-100, 100) | special, max_size=25),
    level0=value,
    trend0=value,
    seasonal0=st.lists(value, max_size=6),
    weights=st.tuples(weight, weight, weight, weight),
    period=st.integers(1, 8),
    pick=st.integers(0, 3),
)
def test_matches_the_transcription_and_each_other(
    err, trend, season, y, level0, trend0, seasonal0, weights, period, pick
):
    codes = [c[pick % len(c)] for c in (ERR[err], TREND[trend], SEASON[season])]
    args = (level0, trend0, seasonal0, *weights, period, *codes)
    # the batch also reads y reversed
    y_view, s_view = (layouts(y)["readonly"], layouts(seasonal0)["reversed"])
    call = (y_view, level0, trend0, s_view, *weights, period, *codes)
    batch = ([y_view, y_view[::-1]], [args, args])
    try:
        expected = ets_reference(y, *args)
    except IndexError as exc:
        for function, arguments in (
            (core.ets_filter, call),
            (core.ets_loglik, call),
            (core.batch_ets_filter, batch),
        ):
            assert panic_message(function, *arguments) == str(exc)
        return
    result = core.ets_filter(*call)
    assert matches(result, expected)
    assert matches(core.ets_loglik(*call), loglik_from_filter(result[0], result[1], codes[0]))
    assert same_bits(
        core.batch_ets_filter(*batch), [result, core.ets_filter(y_view[::-1], *call[1:])]
    )


def plain(y, level0=1.0, trend0=0.0, seasonal0=(), alpha=0.5, period=1, season=0):
    return (
        np.asarray(y, dtype=float),
        level0,
        trend0,
        np.asarray(seasonal0, dtype=float),
        alpha,
        0.0,
        0.0,
        1.0,
        period,
        0,
        0,
        season,
    )


REMAINDER = "attempt to calculate the remainder with a divisor of zero"
FAILURES = [
    (plain([1.0], period=0), REMAINDER),
    (
        plain([1.0, 2.0], seasonal0=[1.0], period=3, season=1),
        "index out of bounds: the len is 1 but the index is 1",
    ),
    (plain([1.0], period=2, season=2), "index out of bounds: the len is 0 but the index is 0"),
]


@pytest.mark.parametrize(
    "function, args, expected",
    worked(
        [
            (
                core.ets_filter,
                plain([1.0, 2.0, 3.0]),
                (arr([1, 1, 1.5]), arr([0, 1, 1.5]), 2.25, 0.0, arr([])),
            ),
            (core.ets_loglik, plain([1.0, 2.0, 3.0]), 3 * (math.log(3.25 * 2 * math.pi / 3) + 1)),
            # the level is clamped to +-1e15, but NaN passes
            *[
                (
                    core.ets_filter,
                    plain([v], alpha=1.0),
                    (arr([1]), arr([v - 1.0]), level, 0.0, arr([])),
                )
                for v, level in [
                    (1e17, 1e15),
                    (-1e17, -1e15),
                    (math.inf, 1e15),
                    (-math.inf, -1e15),
                    (math.nan, math.nan),
                ]
            ],
            *[
                (function, args, message)
                for function in (core.ets_filter, core.ets_loglik)
                for args, message in FAILURES
            ],
        ]
    ),
)
def test_worked_cases_and_failures(function, args, expected):
    check(function, args, expected)


@pytest.mark.parametrize("m", [63, 64, 65, 200])  # the likelihood keeps short seasons on the stack
@pytest.mark.parametrize("err, season", [(0, 1), (1, 2)])
def test_long_seasons_give_the_filters_likelihood(m, err, season):
    rng = np.random.default_rng(m)
    y, seasonal0 = rng.uniform(1, 2, 3 * m + 5), rng.uniform(0.5, 1.5, m)[::-1]
    args = (y, 1.5, 0.1, seasonal0, 0.3, 0.05, 0.1, 0.9, m, err, 1, season)
    fitted, errors, *_ = core.ets_filter(*args)
    assert matches(core.ets_loglik(*args), loglik_from_filter(fitted, errors, err))
    short = (*args[:3], seasonal0[1:], *args[4:])  # one coefficient short of the period
    assert panic_message(core.ets_loglik, *short) == panic_message(core.ets_filter, *short)


# --- batch -----------------------------------------------------------------------


def loop_of_single_calls(y_list, params_list):
    return [
        core.ets_filter(y, *p[:2], np.array(p[2], dtype=float), *p[3:])
        for y, p in zip(y_list, params_list)
    ]


def test_batch_takes_the_rows_of_a_2d_array_up_to_the_shorter_list():
    rows = np.random.default_rng(7).uniform(1, 10, (4, 9))  # temporaries that only the call holds
    params_list = random_batch(np.random.default_rng(7), 3, CODES, [0])[1]
    assert same_bits(
        core.batch_ets_filter(rows, params_list), loop_of_single_calls(rows, params_list)
    )
    assert core.batch_ets_filter([], []) == [] and core.batch_ets_filter(rows, []) == []


def test_arrays_kept_from_a_batch_outlive_the_rest_of_it():
    y_list, params_list = random_batch(np.random.default_rng(5), 12, CODES, [30])
    expected = loop_of_single_calls(y_list, params_list)
    results = core.batch_ets_filter(y_list, params_list)
    kept = results[5][1], results[11][4]  # the arrays of a call share one block of memory
    del results
    gc.collect()
    reused = [np.full(30, 7.0) for _ in range(200)]  # memory freed too early would be written here
    assert same_bits(kept, (expected[5][1], expected[11][4])) and len(reused) == 200


# --- batch: series of one model run in lockstep lanes ------------------------------

CODES = [(e, t, s) for e in (0, 1) for t in (0, 1, 3, 7) for s in (0, 1, 2)]  # the 24 models


def random_batch(rng, count, codes, lengths, periods=range(1, 14), short_seasons=False):
    """count series with models drawn from codes, lengths from lengths and periods from periods, in every layout,
    with values that include the IEEE specials; none fails. With short_seasons, some series shorter than their
    period have a seasonal vector that ends where they do."""
    y_list, params_list = [], []
    for _ in range(count):
        n, period = int(rng.choice(lengths)), int(rng.choice(periods))
        base = rng.normal(20.0, 5.0, 2 * n + 1)
        base[rng.random(base.size) < 0.02] = rng.choice([*NANS, math.inf, -math.inf, 1e300, 0.0])
        y_list.append([base[:n], base[::2][:n], base[:n][::-1]][int(rng.integers(0, 3))])
        seasons = max(period, int(rng.integers(0, 16)))  # long enough for every step
        if short_seasons and n < period and rng.random() < 0.5:
            seasons = max(n, 1)
        seasonal0 = rng.normal(1.0, 0.3, seasons)
        seasonal0[rng.random(seasonal0.size) < 0.1] = rng.choice([0.0, -1.0, math.nan])
        params_list.append(
            (
                float(rng.normal(20.0, 5.0)),
                float(rng.normal(1.0, 0.5)),
                seasonal0.tolist(),
                *map(float, rng.uniform(-0.2, 1.1, 4)),
                period,
                *codes[int(rng.integers(0, len(codes)))],
            )
        )
    return y_list, params_list


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize(
    "seed, count, codes, lengths",
    named(
        [
            # one model: groups of every size around the lane counts (six, or twelve with AVX2), refilled as series end
            *[
                (seed, count, [(0, 1, 1)], [0, 1, 5, 24, 63, 150, 256, 257])
                for seed, count in enumerate([1, 2, 5, 6, 7, 12, 13])
            ],
            # equal lengths: lanes refill together, past several 64-step chunks
            (7, 13, [(1, 1, 2)], [300]),
            # all 24 models interleaved, so that each kind's lanes pick their series out of order
            *[(seed, 40, CODES, [0, 3, 12, 40, 70]) for seed in range(8, 14)],
        ],
        lambda seed, count, codes, lengths: (
            f"{count} series of {len(codes)} models, lengths {shown(lengths)}, seed {seed}"
        ),
    ),
)
def test_lockstep_batch_equals_a_loop_of_single_calls(seed, count, codes, lengths):
    y_list, params_list = random_batch(np.random.default_rng(seed), count, codes, lengths)
    assert same_bits(
        core.batch_ets_filter(y_list, params_list), loop_of_single_calls(y_list, params_list)
    )


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
# the series' kinds are sorted on the stack up to 128 series
@pytest.mark.parametrize("count", [127, 128, 129])
def test_batches_around_the_stack_buffer_equal_a_loop_of_single_calls(count):
    y_list, params_list = random_batch(
        np.random.default_rng(count), count, CODES, [0, 1, 63, 64, 65]
    )
    assert same_bits(
        core.batch_ets_filter(y_list, params_list), loop_of_single_calls(y_list, params_list)
    )


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize(
    "seed, periods, lengths, short_seasons",
    named(
        [
            # one period: the lanes' seasonal vectors are held aligned, chunk after chunk, whatever each lane's index
            (20, [12], [1, 5, 12, 63, 64, 65, 130], False),
            (21, [1], [1, 2, 64, 100], False),
            # the longest aligned period; chunks shorter than a quarter of it
            (22, [64], [3, 16, 17, 64, 200], False),
            (23, [65], [10, 65, 140], False),  # one past it
            (24, [12, 7], [30, 64, 90], False),  # mixed periods
            # a seasonal vector shorter than its period, among aligned ones
            (25, [12, 40], [5, 20, 64, 80], True),
            # the same, in lanes of one period, where the others are aligned
            (26, [64], [18, 40, 200], True),
        ],
        lambda seed, periods, lengths, short: (
            f"periods {shown(periods)}, lengths {shown(lengths)}"
            + (", short seasonal vectors" if short else "")
        ),
    ),
)
def test_lockstep_seasons_held_aligned_or_not_give_the_loop_bits(
    seed, periods, lengths, short_seasons
):
    codes = [code for code in CODES if code[2] != 0]  # the 16 seasonal models
    y_list, params_list = random_batch(
        np.random.default_rng(seed), 320, codes, lengths, periods, short_seasons
    )
    assert same_bits(
        core.batch_ets_filter(y_list, params_list), loop_of_single_calls(y_list, params_list)
    )


@pytest.mark.parametrize("lanes", [6, 12])  # the baseline build's lanes, and the AVX2 build's
def test_a_short_seasonal_vector_next_to_a_series_in_a_lower_lane(lanes):
    """Period 64: the lanes' coefficients are moved into aligned rows for a chunk only when each lane holds all 64.
    The series in the last lane has 17 (it is as long as that), the next one 16; it joins in lane 0 after the
    first step, and the two run a chunk of 16 steps together, where the first must not be moved as if it had 64:
    its rows would reach the second series' coefficients and put them back as they were before the chunk."""
    rng = np.random.default_rng(lanes)
    lengths = [1] + [200] * (lanes - 2) + [17, 16] + [200] * 3
    y_list = [rng.normal(20.0, 5.0, n) for n in lengths]
    params_list = [
        (
            20.0,
            0.5,
            rng.normal(0.0, 1.0, n if n in (16, 17) else 64).tolist(),
            0.3,
            0.1,
            0.3,
            0.9,
            64,
            0,
            1,
            1,
        )
        for n in lengths
    ]
    assert same_bits(
        core.batch_ets_filter(y_list, params_list), loop_of_single_calls(y_list, params_list)
    )


@pytest.mark.parametrize(
    "failing, message",
    named(
        [
            # series 3 fails first, although series 4's model is run first
            ({3: "period", 4: "index"}, REMAINDER),
            ({3: "index", 4: "period"}, "index out of bounds: the len is 1 but the index is 1"),
            ({4: "period", 7: "index"}, REMAINDER),
            ({9: "index"}, "index out of bounds: the len is 1 but the index is 1"),
        ],
        lambda failing, _: ", ".join(f"series {k} bad {what}" for k, what in failing.items()),
    ),
)
def test_the_first_failing_series_decides_the_message(failing, message):
    y_list, params_list = random_batch(np.random.default_rng(99), 10, CODES, [20])
    # two models, alternating; a zero period or a season past its coefficient
    for k, p in enumerate(params_list):
        seasonal0, period = {"period": (p[2], 0), "index": ([1.0], 3)}.get(
            failing.get(k), (p[2], p[7])
        )
        params_list[k] = (*p[:2], seasonal0, *p[3:7], period, *[(0, 1, 1), (1, 3, 2)][k % 2])
    # a zero period is accepted for an empty series (which keeps its initial states)
    y_list[1], params_list[1] = np.empty(0), plain([], period=0)[1:]
    assert panic_message(loop_of_single_calls, y_list, params_list) == message
    assert panic_message(core.batch_ets_filter, y_list, params_list) == message
