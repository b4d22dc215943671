"""Nearest-pattern search and the reservoir update against numba and NumPy."""

from __future__ import annotations

import math

import numpy as np
from numba import njit

import lumetra._core as core

from harness import Case, exact, noop_floor


@njit(cache=False)
def _scale(y, s, w):
    total = 0.0
    sumsq = 0.0
    for i in range(w):
        total = total + y[s + i]
        sumsq = sumsq + y[s + i] * y[s + i]
    mean = total / w
    var = sumsq / w - mean * mean
    sd = max(math.sqrt(max(var, 0.0)), 1e-8)  # var and sd are never NaN in these inputs
    return mean, sd


@njit(cache=False)
def dtsf_distances_numba(y, q, w, max_start, normalize, time_decay, n_total):
    out = np.zeros(max_start)
    for s in range(max_start):
        d = 0.0
        if normalize:
            mean, sd = _scale(y, s, w)
            for i in range(w):
                e = q[i] - (y[s + i] - mean) / sd
                d = d + e * e
        else:
            for i in range(w):
                e = q[i] - y[s + i]
                d = d + e * e
        weight = max(math.exp(-time_decay * float(n_total - s)), 1e-10)
        out[s] = math.sqrt(d / w) / weight
    return out


@njit(cache=False)
def dtsf_fit_residuals_numba(y, w, k, normalize):
    # The same algorithm as ours: each window's scale computed once, the k
    # nearest kept by insertion (k is small), their next values sorted.
    n = y.shape[0]
    out = np.zeros(n)
    means = np.zeros(n - w + 1)
    sds = np.ones(n - w + 1)
    if normalize:
        for s in range(n - w + 1):
            means[s], sds[s] = _scale(y, s, w)
    query = np.zeros(w)
    best_d = np.empty(k)
    best_s = np.empty(k, dtype=np.int64)
    for t in range(w + 1, n):
        q = t - w
        for i in range(w):
            query[i] = (y[q + i] - means[q]) / sds[q] if normalize else y[q + i]
        kk = min(k, t - w)
        size = 0
        for s in range(t - w):
            d = 0.0
            if normalize:
                for i in range(w):
                    e = query[i] - (y[s + i] - means[s]) / sds[s]
                    d = d + e * e
            else:
                for i in range(w):
                    e = query[i] - y[s + i]
                    d = d + e * e
            dist = math.sqrt(d / w)
            if size < kk or dist < best_d[size - 1]:
                j = size if size < kk else kk - 1
                while j > 0 and best_d[j - 1] > dist:
                    best_d[j] = best_d[j - 1]
                    best_s[j] = best_s[j - 1]
                    j -= 1
                best_d[j] = dist
                best_s[j] = s
                if size < kk:
                    size += 1
        nxt = np.sort(y[best_s[:kk] + w])
        m = kk // 2
        median = nxt[m] if kk % 2 == 1 else (nxt[m - 1] + nxt[m]) * 0.5
        out[t] = y[t] - median
    return out


@njit(cache=False)
def esn_numba(u, w_in, w, n, a, washout):
    steps = u.shape[0]
    rows = max(steps - washout, 0)
    states = np.zeros(rows * n)
    x = np.zeros(n)
    h = np.zeros(n)
    b = 1.0 - a
    for t in range(steps):
        for i in range(n):
            p = u[t] * w_in[i]
            for j in range(n):
                p = p + w[i * n + j] * x[j]
            h[i] = math.tanh(p)
        for j in range(n):
            x[j] = b * x[j] + a * h[j]
        if t >= washout:
            states[(t - washout) * n : (t - washout + 1) * n] = x
    return states, x


def esn_numpy(u, w_in, w, n, a, washout):
    matrix = w[: n * n].reshape(n, n)
    weights = w_in[:n]
    x = np.zeros(n)
    states = np.zeros((max(u.shape[0] - washout, 0), n))
    b = 1.0 - a
    for t in range(u.shape[0]):
        x = b * x + a * np.tanh(u[t] * weights + matrix @ x)
        if t >= washout:
            states[t - washout] = x
    return states.ravel(), x


def close(a, b):
    # NumPy's matrix product sums in its own order: equal up to rounding.
    return all(np.allclose(x, y, rtol=1e-9, atol=1e-12) for x, y in zip(a, b))


def cases():
    rng = np.random.default_rng(3)
    short = rng.standard_normal(48).cumsum()
    short_query = rng.standard_normal(8)
    a = (short, short_query, 8, 41, True, 0.01, 48)
    yield Case(
        "dtsf_distances",
        "n=48, w=8, normalize=True",
        lambda: core.dtsf_distances(*a),
        {
            "no-op floor": noop_floor(core.dtsf_distances, a),
            "numba": lambda: dtsf_distances_numba(*a),
        },
        check=exact,
    )
    long = rng.standard_normal(10**5).cumsum()
    query = rng.standard_normal(24)
    for normalize in (True, False):
        args_long = (long, query, 24, 10**5 - 23, normalize, 0.001, 10**5)
        yield Case(
            "dtsf_distances",
            f"n=10^5, w=24, normalize={normalize}",
            lambda a=args_long: core.dtsf_distances(*a),
            {"numba": lambda a=args_long: dtsf_distances_numba(*a)},
            check=exact,
        )

    yield Case(
        "dtsf_fit_residuals",
        "n=48, w=6, k=3, normalize=True",
        lambda: core.dtsf_fit_residuals(short, 6, 3, True),
        {
            "no-op floor": noop_floor(core.dtsf_fit_residuals, (short, 6, 3, True)),
            "numba": lambda: dtsf_fit_residuals_numba(short, 6, 3, True),
        },
        check=exact,
    )
    walk = rng.standard_normal(2000).cumsum()
    for normalize in (True, False):
        yield Case(
            "dtsf_fit_residuals",
            f"n=2000, w=24, k=5, normalize={normalize}",
            lambda nz=normalize: core.dtsf_fit_residuals(walk, 24, 5, nz),
            {"numba": lambda nz=normalize: dtsf_fit_residuals_numba(walk, 24, 5, nz)},
            check=exact,
        )

    n = 10
    u = np.tanh(rng.standard_normal(48))
    w_in = rng.uniform(-0.5, 0.5, n)
    w = rng.uniform(-1.0, 1.0, n * n) * (0.9 / math.sqrt(n))
    e = (u, w_in, w, n, 0.3, 8)
    yield Case(
        "esn_reservoir_update",
        "N=10, T=48, washout=8",
        lambda: core.esn_reservoir_update(*e),
        {"no-op floor": noop_floor(core.esn_reservoir_update, e), "numba": lambda: esn_numba(*e)},
        check=exact,
    )
    n = 100
    u = np.tanh(rng.standard_normal(5000))
    w_in = rng.uniform(-0.5, 0.5, n)
    w = rng.uniform(-1.0, 1.0, n * n) * (0.9 / math.sqrt(n))
    args = (u, w_in, w, n, 0.3, 100)
    label = "N=100, T=5000, washout=100"
    yield Case(
        "esn_reservoir_update",
        label,
        lambda: core.esn_reservoir_update(*args),
        {"numba": lambda: esn_numba(*args)},
        check=exact,
    )
    yield Case(
        "esn_reservoir_update",
        label,
        lambda: core.esn_reservoir_update(*args),
        {"NumPy": lambda: esn_numpy(*args)},
        check=close,
        note="NumPy: a matrix product per step, summed in BLAS order (equal up to rounding)",
    )
