"""ARIMA conditional sum of squares: css_objective (p = q = 2) on long series."""

from __future__ import annotations

import numpy as np
from numba import njit

import lumetra._core as core
from harness import Case


@njit(cache=False)
def css_objective_numba(y, ar, ma):
    n, p, q = y.shape[0], ar.shape[0], ma.shape[0]
    m = max(p, q, 1)
    e = np.zeros(n)
    ss = 0.0
    if n <= m:
        return ss
    for t in range(m, n):
        s = 0.0
        for k in range(p):
            s = s + ar[k] * y[t - 1 - k]
        for k in range(q):
            s = s + ma[k] * e[t - 1 - k]
        e[t] = y[t] - s
        ss = ss + e[t] * e[t]
    return ss


def exact(a, b):
    return a == b


def cases():
    rng = np.random.default_rng(4)
    ar, ma = np.array([0.5, -0.2]), np.array([0.3, 0.1])
    for label, n in (("10^5", 10**5), ("10^6", 10**6)):
        y = rng.standard_normal(n)
        yield Case("css_objective", f"n={label}, p=q=2", lambda y=y: core.css_objective(y, ar, ma),
                   {"numba": lambda y=y: css_objective_numba(y, ar, ma)}, check=exact)  # fmt: skip
