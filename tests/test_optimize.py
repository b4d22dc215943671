"""The shared optimisers: each on problems whose minimum is known, the native Nelder-Mead of
lumetra._fit against the Python one, and the native objectives against the lumetra._core
functions they wrap, bit for bit."""

from __future__ import annotations

import array
import ctypes
import math

import numpy as np
import pytest

import lumetra._fit as fit
from lumetra.models import ces, dotm, theta
from lumetra.models.optimize import (
    bounded,
    golden_section,
    native_nelder_mead,
    native_value,
    nelder_mead,
    quasi_newton,
    unbounded,
)

from helpers import same_bits

RNG = np.random.default_rng(20240601)


def series(n: int, seed: int) -> np.ndarray:
    rng = np.random.default_rng(seed)
    return 100.0 + np.cumsum(rng.normal(0.5, 3.0, n))


def ses_problem(y: np.ndarray):
    """SES of y with a free initial level: y with a placeholder in front, alpha's bounds."""
    return (np.concatenate(([0.0], y)),), theta.ALPHA_BOUNDS


def dotm_problem(y: np.ndarray):
    return (np.concatenate(([0.0], y)),), (y[0], 0.7, *dotm.THETA_BOUNDS, *dotm.ALPHA_BOUNDS)


def ces_n_problem(y: np.ndarray):
    return (np.concatenate(([0.0], y)),), ()


def ces_s_problem(y: np.ndarray):
    return (np.concatenate(([0.0], y)), np.array([1.5, -0.5, 2.0, -3.0])), (4.0,)


# name: (problem, the model's Python form of the objective, a start)
OBJECTIVES = {
    "ses": (ses_problem, theta.ses_objective, lambda y: [0.0, float(y[0])]),
    "dotm": (dotm_problem, dotm.dotm_objective, lambda y: [0.0, 0.0, float(y[0])]),
    "ces_n": (ces_n_problem, ces.nonseasonal_objective, lambda y: [0.0, 0.0, float(y[0])]),
    "ces_s": (ces_s_problem, ces.seasonal_objective, lambda y: [0.0, 0.0, 0.0, float(y[0])]),
}


def test_the_theta_and_ces_objectives_are_registered_in_order():
    # (ETS's objective is checked beside its model, in test_models_ets.py)
    names = fit.objectives()
    assert [name for name in names if name in OBJECTIVES] == list(OBJECTIVES) and len(
        set(names)
    ) == len(names)


@pytest.mark.parametrize("name", OBJECTIVES)
def test_native_objective_is_the_core_function_bit_for_bit(name):
    make, python, start = OBJECTIVES[name]
    for seed, n in enumerate([2, 3, 14, 144]):
        y = series(n, seed)
        arrays, constants = make(y)
        before = arrays[0].copy()
        objective = python(arrays, constants)
        dims = len(start(y))
        level = dims - 1  # where the initial level sits in x
        points = [
            [800.0, -800.0, 1e300, 2.0],
            [-3.0, 2.0, -50.0, -1e10],
            [math.inf, 0.0, -math.inf, 0.0],
            [math.nan, 1.0, 5.0, 1.0],
            [-1.0, -1.0, -1.0, -1.0],
        ]
        points += [list(RNG.normal(0.0, 2.0, 4) + [0, 0, 0, y[0]]) for _ in range(20)]
        for point in [start(y)] + [p[:level] + p[-1:] for p in points]:
            x = point
            assert same_bits(native_value(name, x, arrays, constants), objective(x)), (n, x)
        assert same_bits(arrays[0], before)  # the problem's array is never written


@pytest.mark.parametrize("name", OBJECTIVES)
@pytest.mark.parametrize("restarts", [0, 2])
def test_native_nelder_mead_is_the_python_one_bit_for_bit(name, restarts):
    make, python, start = OBJECTIVES[name]
    for seed, n in enumerate([5, 20, 60]):
        y = series(n, seed)
        arrays, constants = make(y)
        step = [0.5] * len(start(y))
        step[-1] = 0.1 * float(np.std(y)) + 1.0
        native = native_nelder_mead(name, start(y), step, arrays, constants, restarts=restarts)
        reference = nelder_mead(python(arrays, constants), start(y), step, restarts=restarts)
        assert same_bits(native.x, reference.x) and same_bits(native.value, reference.value)
        assert native.evaluations == reference.evaluations


def test_nelder_mead_limits_evaluations_and_steps_around_nan_alike():
    y = series(30, 7)
    arrays, constants = dotm_problem(y)
    objective = dotm.dotm_objective(arrays, constants)
    for limit in (1, 4, 10, 57):
        native = native_nelder_mead(
            "dotm", [0, 0, 0], 1.0, arrays, constants, max_evaluations=limit, restarts=0
        )
        reference = nelder_mead(objective, [0, 0, 0], 1.0, max_evaluations=limit, restarts=0)
        assert same_bits(native.x, reference.x) and native.evaluations == reference.evaluations
    # a start at NaN: every vertex with a NaN coordinate scores +inf, in both
    native = native_nelder_mead("dotm", [math.nan, 0, y[0]], 1.0, arrays, constants)
    reference = nelder_mead(objective, [math.nan, 0, y[0]], 1.0)
    assert same_bits(native.x, reference.x) and same_bits(native.value, reference.value)


# a line's intercept and slope, theta's and alpha's bounds; CES's parameters and states
DOTM_CONSTANTS, CES_STATE = (1.0, 0.7, 1.0, 2.0, 0.0, 1.0), (1.0, 0.5, 0.1, 0.0, 0.0)


@pytest.mark.parametrize(
    "call, error, message",
    [
        *[
            pytest.param(call, ValueError, message, id=message)
            for call, message in [
                (lambda y: fit.evaluate("nope", [0.0], (y,), ()), "unknown objective 'nope'"),
                (
                    lambda y: fit.evaluate("ses", [0.0, 1.0], (y, y), (0.0, 1.0)),
                    "takes 1 arrays and 2 constants, got 2 and 2",
                ),
                (lambda y: fit.evaluate("ses", [0.0, 1.0], (y,), (0.0,)), "takes 1 arrays"),
                (lambda y: fit.evaluate("ses", [0.0], (y,), (0.0, 1.0)), "takes 2 parameters"),
                (lambda y: fit.evaluate("ses", [], (y,), (0.0, 1.0)), "parameter vector is empty"),
                (
                    lambda y: fit.evaluate("ses", [0.0, 1.0], (y[:1],), (0.0, 1.0)),
                    "at least 2 values",
                ),
                (lambda y: fit.nelder_mead("nope", [0.0], [1.0], (y,), ()), "unknown objective"),
                (lambda y: fit.nelder_mead("ses", [], [], (y,), (0.0, 1.0)), "vector is empty"),
                (lambda y: fit.evaluate("ces_n", [0.0] * 2, (y,), ()), "takes 3 parameters"),
                (lambda y: fit.evaluate("ces_n", [0.0] * 3, (y[:1],), ()), "at least 2 values"),
                (lambda y: fit.evaluate("ces_s", [0.0] * 4, (y[:1], y[:1]), (1.0,)), "at least 2"),
                (
                    lambda y: fit.evaluate("dotm", [0.0] * 2, (y,), DOTM_CONSTANTS),
                    "takes 3 parameters",
                ),
                (
                    lambda y: fit.evaluate("dotm", [0.0] * 3, (y[:1],), DOTM_CONSTANTS),
                    "at least 2",
                ),
                (
                    lambda y: fit.nelder_mead("ses", [0.0, 1.0], [1.0], (y,), (0.0, 1.0)),
                    "step has 1 values for 2",
                ),
                (
                    lambda y: fit.nelder_mead(
                        "ses", [0.0, 1.0], [1.0, 1.0], (y,), (0.0, 1.0), restarts=-1
                    ),
                    "restarts",
                ),
                (
                    lambda y: fit.evaluate("ces_s", [0.0] * 4, (y, y[:3]), (4.0,)),
                    "one initial seasonal state per phase",
                ),
                (
                    lambda y: fit.evaluate("ces_s", [0.0] * 4, (y, y[:4]), (4.5,)),
                    "one initial seasonal state per phase",
                ),
                (
                    lambda y: fit.evaluate("ces_s", [0.0] * 7, (y, y[:4]), (4.0,)),
                    "takes 4 parameters",
                ),
                (
                    lambda y: fit.ces_filter(y, y[1:].copy(), y[:4].copy(), *CES_STATE, 0, False),
                    "forecasts has 9 values for the 10 of y",
                ),
                (
                    lambda y: fit.ces_filter(y, y.copy(), y[:4].copy(), *CES_STATE, 4, False),
                    "phase 4 is not a phase of the 4",
                ),
                (
                    lambda y: fit.ces_filter(y, y.copy(), np.empty(0), *CES_STATE, -1, False),
                    "phase -1",
                ),
                (
                    lambda y: fit.ces_initial_states(y, np.empty(0), 1.0, 0.5, 0.1, 0.0),
                    "season must hold one state per phase",
                ),
            ]
        ],
        *[
            pytest.param(call, TypeError, message, id=message)
            for call, message in [
                (
                    lambda y: fit.evaluate("ses", [0.0, 1.0], (y[::2],), (0.0, 1.0)),
                    "arrays[0] must be",
                ),
                (
                    lambda y: fit.evaluate("ses", [0.0, 1.0], (y.astype(np.float32),), (0.0, 1.0)),
                    "arrays[0] must be",
                ),
                (
                    lambda y: fit.evaluate("ses", [0.0, 1.0], ([1.0, 2.0],), (0.0, 1.0)),
                    "arrays[0] must be",
                ),
                (
                    lambda y: fit.evaluate("ses", [0.0, "a"], (y,), (0.0, 1.0)),
                    "must be real number",
                ),
                (lambda y: fit.evaluate("ses", 5, (y,), (0.0, 1.0)), "x must be a sequence"),
                (lambda y: fit.evaluate("ses", [0.0, 1.0], 5, (0.0, 1.0)), "arrays must be"),
                (
                    lambda y: fit.evaluate("ses", [0.0, 1.0], [y.reshape(2, 5)], ()),
                    "arrays[0] must",
                ),
                (lambda y: fit.nelder_mead("ses", 5, [1.0], (y,), ()), "start must be"),
                (lambda y: fit.evaluate("ses", [0.0, 1.0], (y,), 5), "constants must be"),
                (lambda y: fit.nelder_mead("ses", [0.0, 1.0], 1.0, (y,), ()), "step must be"),
                (lambda y: fit.evaluate("ses", [0.0]), "evaluate"),
                (lambda y: fit.nelder_mead("ses", [0.0]), "nelder_mead"),
                (lambda y: fit.ces_initial_states(y[::2], y[:4], 1, 1, 1, 0), "y must be a one"),
                (
                    lambda y: fit.ces_filter(
                        y,
                        np.broadcast_to(y, y.shape),
                        y[:4].copy(),
                        1.0,
                        0.5,
                        0.1,
                        0.0,
                        0.0,
                        0,
                        False,
                    ),
                    "forecasts must be a writable",
                ),
                (
                    lambda y: fit.ces_filter(
                        y[::2], y[:5].copy(), y[:4].copy(), *CES_STATE, 0, False
                    ),
                    "y must be a one-dimensional",
                ),
                (
                    lambda y: fit.ces_initial_states(y, y[::2], 1.0, 0.5, 0.1, 0.0),
                    "season must be a one-dimensional",
                ),
                (
                    lambda y: fit.ces_initial_states(y, y[:4], 1.0, 0.5, "a", 0.0),
                    "must be real number",
                ),
                (
                    lambda y: fit.ces_filter(y, y.copy(), y[:4], 1.0, 0.5, 0.1, 0.0, 0.0),
                    "missing required argument",
                ),
                (
                    lambda y: fit.ces_filter(y, y.copy(), y[:4][::-1], *CES_STATE, 0, False),
                    "season must be a writable",
                ),
            ]
        ],
    ],
)
def test_native_entries_refuse_what_their_objective_cannot_take(call, error, message):
    with pytest.raises(error, match=message.replace("[", r"\[")):
        call(np.arange(1.0, 11.0))


@pytest.mark.parametrize(
    "function, minimum",
    [
        pytest.param(lambda x: (x - 0.3) ** 2 + 1, 0.3, id="inside"),
        pytest.param(abs, 0.0, id="at the lower end"),
        pytest.param(lambda x: abs(x - 1), 1.0, id="at the upper end"),
    ],
)
def test_golden_section_finds_the_minimum_inside_or_at_an_end_of_the_interval(function, minimum):
    result = golden_section(function, 0.0, 1.0, tolerance=1e-9)
    assert abs(result.x[0] - minimum) < 1e-6
    assert result.value == pytest.approx(function(minimum), abs=1e-12)


@pytest.mark.parametrize("minimise", [nelder_mead, quasi_newton])
def test_minimisers_follow_the_rosenbrock_valley_and_step_around_nan(minimise):
    result = minimise(lambda p: (1 - p[0]) ** 2 + 100 * (p[1] - p[0] ** 2) ** 2, [-1.2, 1.0])
    assert np.allclose(result.x, [1.0, 1.0], atol=1e-3)
    # NaN right of 0.5 (as a broken recursion gives), the minimum sits at its edge
    result = minimise(
        lambda p: math.nan if p[0] > 0.5 else (p[0] - 0.5) ** 2 + p[1] ** 2, [0.0, 1.0]
    )
    assert result.x[0] <= 0.5 and np.allclose(result.x, [0.5, 0.0], atol=1e-3)


def test_bounded_inverts_unbounded_and_reaches_the_ends_only_at_infinity():
    assert all(
        bounded(unbounded(x, 0.0, 1.0), 0.0, 1.0) == pytest.approx(x, rel=1e-12)
        for x in (0.001, 0.5, 0.9999)
    )
    assert 0.8 < bounded(-30.0, 0.8, 0.98) < bounded(30.0, 0.8, 0.98) < 0.98
    assert bounded(math.inf, 1.0, 2.0) == 2.0 and bounded(-math.inf, 1.0, 2.0) == 1.0


def test_native_entries_release_every_array_they_read_after_errors_too():
    """An array whose buffer stayed exported would keep a reference and refuse to be resized."""
    import sys

    y = np.arange(1.0, 11.0)
    before = sys.getrefcount(y)
    for _ in range(3):
        fit.evaluate("ses", [0.0, 1.0], (y,), (0.0, 1.0))
        fit.nelder_mead("ses", [0.0, 1.0], [1.0, 1.0], (y,), (0.0, 1.0), max_evaluations=20)
        fit.ces_filter(y, np.empty(10), np.zeros(4), *CES_STATE, 0, False)
        fit.ces_initial_states(y, np.zeros(4), 1.0, 0.5, 0.1, 0.0)
        for bad in [
            lambda: fit.evaluate("ses", [0.0, 1.0], (y,), (0.0,)),
            lambda: fit.evaluate("ses", [0.0], (y,), (0.0, 1.0)),
            lambda: fit.evaluate("ses", [0.0, 1.0], (y, y[::2]), (0.0, 1.0)),
            lambda: fit.ces_filter(y, np.empty(10), np.zeros(4), *CES_STATE, 5, False),
        ]:
            with pytest.raises((ValueError, TypeError)):
                bad()
    assert sys.getrefcount(y) == before
    y.resize(20, refcheck=False)  # no buffer is still exported


@pytest.mark.parametrize(
    "export",
    [
        pytest.param(lambda y: (ctypes.c_double * len(y))(*y), id="ctypes <d"),
        pytest.param(lambda y: memoryview(y).cast("B").cast("@d"), id="memoryview @d"),
        pytest.param(lambda y: array.array("d", y), id="array d"),
    ],
)
def test_native_objective_reads_every_float64_buffer_alike(export):
    y = series(12, 3)
    assert same_bits(
        native_value("ses", [0.3, 1.0], (export(y),), theta.ALPHA_BOUNDS),
        native_value("ses", [0.3, 1.0], (y,), theta.ALPHA_BOUNDS),
    )


# (a0_real, a0_imag, gamma): inside the region where the recursion forgets its past, on its
# edge, outside it (the recursion grows) and at a NaN
CES_PARAMETERS = [
    (1.2, 0.3, 0.1),
    (0.4, 0.9, 0.0),
    (1.0, 1.0, 1.0),
    (1.9, 1.5, 0.6),
    (math.nan, 0.5, 0.2),
]
CES_PARAMS = {"a0_real": 1.2, "a0_imag": 0.3, "gamma": 0.1}


@pytest.mark.parametrize("m", [0, 1, 4, 12], ids=lambda m: f"m={m}")
@pytest.mark.parametrize("predict", [False, True], ids=["over y", "predict"])
def test_native_ces_filter_is_the_python_recursion_bit_for_bit(m, predict):
    y = series(30, m)
    season = RNG.normal(0.0, 3.0, m)
    before = season.copy()
    for a_r, a_i, gamma in CES_PARAMETERS:
        params = {"a0_real": a_r, "a0_imag": a_i, "gamma": gamma}
        for phase in range(max(m, 1)):
            states = (float(y[0]), 0.5, phase)
            native = ces.run(y, params, states, season, predict, "native")
            assert same_bits(native, ces.recursion(y, params, states, season, predict)), (
                a_r,
                phase,
            )
    assert same_bits(season, before)  # the run's seasonal states are a copy
    forecasts = y.copy()  # the observations may be the array the forecasts go into
    fit.ces_filter(forecasts, forecasts, season.copy(), 1.2, 0.3, 0.1, 1.0, 0.0, 0, False)
    assert same_bits(forecasts, ces.recursion(y, CES_PARAMS, (1.0, 0.0, 0), season)[0])


@pytest.mark.parametrize("m", [1, 2, 4, 12], ids=lambda m: f"m={m}")
def test_native_least_squares_states_are_the_python_ones_bit_for_bit(m):
    found = 0
    for seed, n in enumerate([m - 1, 2 * m, 3 * m + 1, 60]):  # phases never visited: no solution
        y = series(n, seed)
        season = RNG.normal(0.0, 2.0, m)
        for a_r, a_i, gamma in CES_PARAMETERS:
            params = {"a0_real": a_r, "a0_imag": a_i, "gamma": gamma}
            native = fit.ces_initial_states(y, season, a_r, a_i, gamma, 90.0)
            python = ces.least_squares_states(y, params, 90.0, season)
            assert (native is None) == (python is None), (n, a_r)
            if native is not None:
                assert same_bits(native[0], python[0]) and same_bits(np.array(native[1]), python[1])
                found += 1
            if n < m or math.isnan(a_r):
                assert native is None
    assert found >= 8
    huge = np.resize(
        [1.7e308, -1.7e308], 3 * m
    )  # errors past the largest double: moves that are not finite
    assert fit.ces_initial_states(huge, np.zeros(m), 1.2, 0.3, 0.1, 0.0) is None
    assert ces.least_squares_states(huge, CES_PARAMS, 0.0, np.zeros(m)) is None
