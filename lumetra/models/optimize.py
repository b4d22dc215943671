"""Small minimisers shared by the models; they know nothing of models.

A model gives them an objective over a parameter vector (and, for a bounded parameter,
maps an unconstrained real into its bounds with `bounded`). Golden-section search and
Nelder-Mead need no derivatives; the quasi-Newton method estimates them by differences,
for smooth objectives of many parameters. All of them are deterministic: the same
objective and start give the same answer on every run. An objective value that is NaN
counts as +inf, so a parameter region where a model's recursion breaks down is simply
avoided.

`nelder_mead` runs in Python and calls a Python objective. `native_nelder_mead` runs the
same algorithm, operation for operation, in the extension module `lumetra._fit` on one of
the objectives registered there, each of which evaluates a `lumetra._core` kernel exactly
as a Python objective does: on the same objective both give the same minimum bit for bit,
and the native one spares the Python call per evaluation. The Python one stays the
reference.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass

import numpy as np
from numpy.typing import NDArray

import lumetra._fit as _fit

__all__ = [
    "Minimum",
    "bounded",
    "golden_section",
    "native_nelder_mead",
    "native_value",
    "nelder_mead",
    "quasi_newton",
    "unbounded",
]

Array = NDArray[np.float64]

INVERSE_GOLDEN = (math.sqrt(5.0) - 1.0) / 2.0  # 0.618...


@dataclass(frozen=True)
class Minimum:
    """The result of a minimisation.

    Attributes
    ----------
    x : tuple of float
        The best point found.
    value : float
        The objective there (+inf where it was NaN).
    evaluations : int
        How many times the objective was called.
    """

    x: tuple[float, ...]
    value: float
    evaluations: int


def _finite_or_inf(value: float) -> float:
    return value if not math.isnan(value) else math.inf


def golden_section(
    objective: Callable[[float], float], lo: float, hi: float, tolerance: float = 1e-7
) -> Minimum:
    """Minimise a unimodal function of one variable on [lo, hi].

    Each iteration keeps the inner point whose value is lower and reuses it, so one new
    evaluation shrinks the bracket by the golden ratio.

    Parameters
    ----------
    objective : callable
        The function to minimise.
    lo, hi : float
        The interval searched; its ends are candidates too.
    tolerance : float
        The search stops when the bracket is no wider than this.

    Returns
    -------
    Minimum
        The best of the final bracket's points and ends.
    """
    evaluations = 0

    def f(x: float) -> float:
        nonlocal evaluations
        evaluations += 1
        return _finite_or_inf(objective(x))

    x1 = hi - INVERSE_GOLDEN * (hi - lo)
    x2 = lo + INVERSE_GOLDEN * (hi - lo)
    f1, f2 = f(x1), f(x2)
    while hi - lo > tolerance:
        if f1 < f2:  # the minimum lies in [lo, x2]
            hi, x2, f2 = x2, x1, f1
            x1 = hi - INVERSE_GOLDEN * (hi - lo)
            f1 = f(x1)
        else:  # in [x1, hi]
            lo, x1, f1 = x1, x2, f2
            x2 = lo + INVERSE_GOLDEN * (hi - lo)
            f2 = f(x2)
    best = min((f(lo), lo), (f1, x1), (f2, x2), (f(hi), hi))
    return Minimum((best[1],), best[0], evaluations)


def nelder_mead(
    objective: Callable[[Sequence[float]], float],
    start: Sequence[float],
    step: float | Sequence[float] = 0.5,
    max_evaluations: int = 4000,
    tolerance: float = 1e-10,
    restarts: int = 1,
) -> Minimum:
    """Minimise a function of several variables by the Nelder-Mead simplex method.

    Parameters
    ----------
    objective : callable
        The function to minimise, called with a list of floats.
    start : sequence of float
        The starting point (at least one coordinate).
    step : float or sequence of float
        The initial simplex is the start and one point per coordinate moved by its step.
    max_evaluations : int
        A run stops after this many calls of the objective (a run's last iteration may
        pass it by a few).
    tolerance : float
        A run stops when the values at the simplex vertices agree within `tolerance`
        relative to the best one.
    restarts : int
        After the first run, the search starts again from the best point this many
        times: a fresh simplex escapes one that collapsed early. A restart's point is
        kept when its value is no worse.

    Returns
    -------
    Minimum
        The best point, its value and the number of evaluations of all runs.

    Raises
    ------
    ValueError
        For an empty start, a step of the wrong length or negative restarts.

    Notes
    -----
    Every operation is written so that `native_nelder_mead` can repeat it exactly: the
    vertices are ordered by a stable sort on their values, the centroid is summed in
    increasing vertex order from 0.0, and each trial point is ``a + t * (b - a)``.
    """
    steps = _steps(start, step)
    if restarts < 0:
        raise ValueError("restarts must not be negative")
    best = _nelder_mead(objective, start, steps, max_evaluations, tolerance)
    evaluations = best.evaluations
    for _ in range(restarts):
        again = _nelder_mead(objective, best.x, steps, max_evaluations, tolerance)
        evaluations += again.evaluations
        if again.value <= best.value:
            best = again
    return Minimum(best.x, best.value, evaluations)


def _steps(start: Sequence[float], step: float | Sequence[float]) -> list[float]:
    dims = len(start)
    if dims == 0:
        raise ValueError("the start point is empty")
    steps = [float(step)] * dims if isinstance(step, int | float) else [float(s) for s in step]
    if len(steps) != dims:
        raise ValueError(f"step has {len(steps)} values for {dims} parameters")
    return steps


def _nelder_mead(
    objective: Callable[[Sequence[float]], float],
    start: Sequence[float],
    steps: list[float],
    max_evaluations: int,
    tolerance: float,
) -> Minimum:
    dims = len(start)
    evaluations = 0

    def f(x: list[float]) -> float:
        nonlocal evaluations
        evaluations += 1
        return _finite_or_inf(objective(x))

    simplex = [[float(s) for s in start] for _ in range(dims + 1)]
    for i in range(dims):
        simplex[i + 1][i] += steps[i]
    values = [f(v) for v in simplex]

    def towards(a: list[float], b: list[float], t: float) -> list[float]:
        """The point a + t * (b - a)."""
        return [ai + t * (bi - ai) for ai, bi in zip(a, b, strict=True)]

    while evaluations < max_evaluations:
        order = sorted(range(dims + 1), key=values.__getitem__)  # stable: ties keep their order
        simplex = [simplex[i] for i in order]
        values = [values[i] for i in order]
        spread = values[-1] - values[0]
        if spread <= tolerance * (abs(values[0]) + tolerance):
            break
        centroid = []
        for i in range(dims):
            total = 0.0  # summed in order (the built-in sum of floats compensates)
            for vertex in simplex[:-1]:
                total += vertex[i]
            centroid.append(total / dims)
        worst = simplex[-1]
        reflected = towards(centroid, worst, -1.0)
        f_reflected = f(reflected)
        if f_reflected < values[0]:
            expanded = towards(centroid, worst, -2.0)
            f_expanded = f(expanded)
            if f_expanded < f_reflected:
                simplex[-1], values[-1] = expanded, f_expanded
            else:
                simplex[-1], values[-1] = reflected, f_reflected
        elif f_reflected < values[-2]:
            simplex[-1], values[-1] = reflected, f_reflected
        else:
            # Contract towards the better of the worst point and its reflection.
            outside = f_reflected < values[-1]
            contracted = towards(centroid, worst, -0.5 if outside else 0.5)
            f_contracted = f(contracted)
            if f_contracted < min(f_reflected, values[-1]):
                simplex[-1], values[-1] = contracted, f_contracted
            else:  # shrink every vertex halfway towards the best one
                for i in range(1, dims + 1):
                    simplex[i] = towards(simplex[0], simplex[i], 0.5)
                    values[i] = f(simplex[i])
    best = min(range(dims + 1), key=values.__getitem__)
    return Minimum(tuple(simplex[best]), values[best], evaluations)


def native_nelder_mead(
    objective: str,
    start: Sequence[float],
    step: float | Sequence[float],
    arrays: Sequence[Array],
    constants: Sequence[float],
    max_evaluations: int = 4000,
    tolerance: float = 1e-10,
    restarts: int = 1,
) -> Minimum:
    """`nelder_mead` run natively on an objective registered in `lumetra._fit`.

    Parameters
    ----------
    objective : str
        The name of the registered objective (``lumetra._fit.objectives()`` lists them).
    start, step, max_evaluations, tolerance, restarts
        As for `nelder_mead`.
    arrays : sequence of ndarray
        The problem's arrays (one-dimensional, contiguous float64), as the objective
        documents them. They are read, never written.
    constants : sequence of float
        The problem's constants.

    Returns
    -------
    Minimum
        What `nelder_mead` returns for a Python objective that computes the same values.

    Raises
    ------
    ValueError
        For an unknown objective, arrays or constants that it does not take, an empty
        start, a step of the wrong length or negative restarts.
    """
    steps = _steps(start, step)
    x, value, evaluations = _fit.nelder_mead(
        objective,
        start,
        steps,
        arrays,
        constants,
        max_evaluations=max_evaluations,
        tolerance=tolerance,
        restarts=restarts,
    )
    return Minimum(x, value, evaluations)


def native_value(
    objective: str, x: Sequence[float], arrays: Sequence[Array], constants: Sequence[float]
) -> float:
    """The value of an objective registered in `lumetra._fit` at one point.

    Parameters
    ----------
    objective : str
        The name of the registered objective.
    x : sequence of float
        The point.
    arrays, constants
        The problem, as for `native_nelder_mead`.

    Returns
    -------
    float
        The objective's value (NaN stays NaN here).
    """
    return _fit.evaluate(objective, x, arrays, constants)


def quasi_newton(
    objective: Callable[[Sequence[float]], float],
    start: Sequence[float],
    max_iterations: int = 500,
    tolerance: float = 1e-12,
    difference: float = 1e-6,
) -> Minimum:
    """Minimise a smooth function of several variables by the BFGS method.

    The gradient is estimated by forward differences of size `difference`; each step
    goes along the quasi-Newton direction as far as a backtracking line search finds
    enough decrease.

    Parameters
    ----------
    objective : callable
        The function to minimise, called with a list of floats.
    start : sequence of float
        The starting point.
    max_iterations : int
        The search stops after this many steps.
    tolerance : float
        The search stops when a step improves the value by no more than this, relative
        to its size, or when no step along the direction decreases it.
    difference : float
        The step of the forward differences.

    Returns
    -------
    Minimum
        The last point, its value and the number of evaluations.
    """
    evaluations = 0

    def f(x: Array) -> float:
        nonlocal evaluations
        evaluations += 1
        return _finite_or_inf(objective(x.tolist()))

    def gradient(x: Array, fx: float) -> Array:
        """Forward differences; backward ones where a step forward leaves the finite region."""
        g = np.zeros(x.size)
        for i, step in enumerate(difference * np.eye(x.size)):
            change = f(x + step) - fx
            if change == math.inf:
                change = fx - f(x - step)
            if math.isfinite(change):
                g[i] = change / difference
        return g

    x = np.array(start, dtype=np.float64)
    fx = f(x)
    g = gradient(x, fx)
    inverse_hessian = np.eye(x.size) / max(1.0, float(np.max(np.abs(g))))
    for _ in range(max_iterations):
        direction = -(inverse_hessian @ g)
        slope = float(g @ direction)
        if not slope < 0.0:  # not a descent direction: start again from the gradient
            inverse_hessian = np.eye(x.size) / max(1.0, float(np.max(np.abs(g))))
            direction, slope = -(inverse_hessian @ g), -float(g @ inverse_hessian @ g)
        t, x_new = 1.0, x + direction
        f_new = f(x_new)
        while f_new > fx + 1e-4 * t * slope and t > 1e-12:  # halve until it decreases enough
            t *= 0.5
            x_new = x + t * direction
            f_new = f(x_new)
        if not f_new < fx:
            break
        g_new = gradient(x_new, f_new)
        s, change = x_new - x, g_new - g
        curvature = float(s @ change)
        if curvature > 1e-12:
            rho = 1.0 / curvature
            left = np.eye(x.size) - rho * np.outer(s, change)
            inverse_hessian = left @ inverse_hessian @ left.T + rho * np.outer(s, s)
        improvement = fx - f_new
        x, fx, g = x_new, f_new, g_new
        if improvement <= tolerance * (abs(fx) + tolerance):
            break
    return Minimum(tuple(x.tolist()), fx, evaluations)


def bounded(u: float, lo: float, hi: float) -> float:
    """Map an unconstrained real onto the open interval (lo, hi) with a logistic curve.

    The exponential is taken of a non-positive number only, so it never overflows;
    ``lumetra._fit`` computes the same map with the same operations.

    Parameters
    ----------
    u : float
        Any real (+inf and -inf give the ends).
    lo, hi : float
        The interval.

    Returns
    -------
    float
        ``lo + (hi - lo) / (1 + exp(-u))``.
    """
    if u >= 0.0:
        return lo + (hi - lo) / (1.0 + math.exp(-u))
    e = math.exp(u)
    return lo + (hi - lo) * e / (1.0 + e)


def unbounded(x: float, lo: float, hi: float) -> float:
    """The inverse of `bounded`: the real that maps onto x in (lo, hi).

    Parameters
    ----------
    x : float
        A point strictly inside the interval.
    lo, hi : float
        The interval.

    Returns
    -------
    float
        ``log(p / (1 - p))`` with ``p = (x - lo) / (hi - lo)``.
    """
    p = (x - lo) / (hi - lo)
    return math.log(p / (1.0 - p))
