"""Theta family: the DOT objective and the DOT hybrid objective on long series."""

from __future__ import annotations

import numpy as np
from numba import njit

import lumetra._core as core
from harness import Case


@njit(cache=False)
def dot_objective_numba(y, intercept, slope, theta, alpha, drift):
    n = y.shape[0]
    if n < 2:
        return 0.0
    z = np.zeros(n)
    mix = 1.0 - theta
    for i in range(n):
        z[i] = mix * (intercept + slope * i) + theta * y[i]
    keep = 1.0 - alpha
    level = z[0]
    sse = 0.0
    for i in range(1, n):
        c = drift * i + (level + (intercept + slope * i))
        e = y[i] + (-0.5) * c
        sse = sse + e * e
        level = keep * level + alpha * z[i]
    return sse


@njit(cache=False)
def _ses_sse(c, a):
    keep = 1.0 - a
    level = c[0]
    total = 0.0
    for i in range(1, c.shape[0]):
        e = c[i] - level
        total = total + e * e
        level = keep * level + a * c[i]
    return total


@njit(cache=False)
def dot_hybrid_objective_numba(y, theta_line0, theta, is_additive):
    n = y.shape[0]
    if n < 3:
        return 1.7976931348623157e308
    c = np.zeros(n)
    rest = 1.0 - theta
    for i in range(n):
        if is_additive:
            c[i] = theta * y[i] + rest * theta_line0[i]
        else:
            c[i] = max(y[i], 1e-10) ** theta * max(theta_line0[i], 1e-10) ** rest
    lo = 0.001
    hi = 0.999
    for _ in range(50):
        d = (hi - lo) * 0.6180339887498949
        x1 = hi - d
        s1 = _ses_sse(c, x1)
        x2 = lo + d
        s2 = _ses_sse(c, x2)
        if s1 < s2:
            hi = x2
        else:
            lo = x1
    alpha = (hi + lo) * 0.5
    s = np.zeros(n)
    s[0] = c[0]
    for i in range(1, n):
        s[i] = alpha * c[i] + (1.0 - alpha) * s[i - 1]
    w = 1.0 / max(theta, 1.0)
    total = 0.0
    for i in range(n):
        if is_additive:
            f = w * s[i] + (1.0 - w) * theta_line0[i]
        else:
            f = max(s[i], 1e-10) ** w * max(theta_line0[i], 1e-10) ** (1.0 - w)
        total = total + abs(y[i] - f)
    return total / n


def exact(a, b):
    return a == b


def cases():
    rng = np.random.default_rng(5)
    for n, label in ((10**4, "n=10^4"), (10**5, "n=10^5")):
        y = 100.0 + rng.standard_normal(n).cumsum()  # positive, for the multiplicative mode
        line = np.linspace(y[0], y[-1], n)
        args = (95.0, 0.01, 2.0, 0.3, 0.001)
        yield Case("dot_objective", label, lambda y=y: core.dot_objective(y, *args),
                   {"numba": lambda y=y: dot_objective_numba(y, *args)}, check=exact)  # fmt: skip
        for additive in (True, False):
            mode = "additive" if additive else "multiplicative"
            yield Case(
                "dot_hybrid_objective", f"{label}, {mode}",
                lambda y=y, line=line, a=additive: core.dot_hybrid_objective(y, line, 2.0, a),
                {"numba": lambda y=y, line=line, a=additive: dot_hybrid_objective_numba(y, line, 2.0, a)},
                check=exact,
            )  # fmt: skip
