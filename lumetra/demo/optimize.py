"""Three small minimisers, enough to fit the demonstration's models.

Golden-section search and Nelder-Mead need no derivatives; the quasi-Newton method
estimates them by differences, for smooth objectives of many parameters. All three are
deterministic: the same objective and start give the same answer on every run. An
objective value that is NaN counts as +inf, so a parameter region where a model's
recursion breaks down is simply avoided.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass

import numpy as np
from numpy.typing import NDArray

Array = NDArray[np.float64]

INVERSE_GOLDEN = (math.sqrt(5.0) - 1.0) / 2.0  # 0.618...


@dataclass(frozen=True)
class Minimum:
    x: tuple[float, ...]  # the best point found
    value: float  # the objective there
    evaluations: int  # how many times the objective was called


def _finite_or_inf(value: float) -> float:
    return value if not math.isnan(value) else math.inf


def golden_section(
    objective: Callable[[float], float], lo: float, hi: float, tolerance: float = 1e-7
) -> Minimum:
    """Minimise a unimodal function of one variable on [lo, hi].

    Each iteration keeps the inner point whose value is lower and reuses it, so one new
    evaluation shrinks the bracket by the golden ratio.
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

    The initial simplex is the start and one point per coordinate moved by `step`. The
    search stops when the values at the simplex vertices agree within `tolerance`
    (relative to their size) or after `max_evaluations` calls. It then starts again from
    the best point `restarts` times: a fresh simplex escapes one that collapsed early.
    """
    best = _nelder_mead(objective, start, step, max_evaluations, tolerance)
    evaluations = best.evaluations
    for _ in range(restarts):
        again = _nelder_mead(objective, best.x, step, max_evaluations, tolerance)
        evaluations += again.evaluations
        if again.value <= best.value:
            best = again
    return Minimum(best.x, best.value, evaluations)


def _nelder_mead(
    objective: Callable[[Sequence[float]], float],
    start: Sequence[float],
    step: float | Sequence[float],
    max_evaluations: int,
    tolerance: float,
) -> Minimum:
    dims = len(start)
    steps = [float(step)] * dims if isinstance(step, int | float) else [float(s) for s in step]
    evaluations = 0

    def f(x: list[float]) -> float:
        nonlocal evaluations
        evaluations += 1
        return _finite_or_inf(objective(x))

    simplex = [list(map(float, start))]
    for i in range(dims):
        vertex = list(map(float, start))
        vertex[i] += steps[i]
        simplex.append(vertex)
    values = [f(v) for v in simplex]

    def towards(a: list[float], b: list[float], t: float) -> list[float]:
        """The point a + t * (b - a)."""
        return [ai + t * (bi - ai) for ai, bi in zip(a, b, strict=True)]

    while evaluations < max_evaluations:
        order = sorted(range(dims + 1), key=values.__getitem__)
        simplex = [simplex[i] for i in order]
        values = [values[i] for i in order]
        spread = values[-1] - values[0]
        if spread <= tolerance * (abs(values[0]) + tolerance):
            break
        centroid = [sum(v[i] for v in simplex[:-1]) / dims for i in range(dims)]
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
    enough decrease. The search stops when a step improves the value by no more than
    `tolerance` (relative to its size), when no step along the direction decreases it,
    or after `max_iterations` steps.
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
    """Map an unconstrained real onto the open interval (lo, hi) with a logistic curve."""
    if u >= 0.0:
        return lo + (hi - lo) / (1.0 + math.exp(-u))
    e = math.exp(u)
    return lo + (hi - lo) * e / (1.0 + e)


def unbounded(x: float, lo: float, hi: float) -> float:
    """The inverse of `bounded`: the real that maps onto x in (lo, hi)."""
    p = (x - lo) / (hi - lo)
    return math.log(p / (1.0 - p))
