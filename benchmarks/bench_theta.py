"""Theta family: call overhead on short series, the passes and recursions on long ones,
against numba transcriptions."""

from __future__ import annotations

import numpy as np
from numba import njit

import lumetra._core as core

from harness import DIVISION, LATENCY, Case, exact, noop_floor


@njit(cache=False)
def theta_decompose_numba(y, theta):
    n = y.shape[0]
    r = np.empty(n)  # every value is written, as in the plain loop a caller would write
    if n == 0:
        return r
    first, span, keep = y[0], y[n - 1] - y[0], 1.0 - theta
    for i in range(n):
        frac = (float(i) + 1.0) / float(n)
        r[i] = theta * y[i] + keep * (first + frac * span)
    return r


@njit(cache=False)
def _dot_pass(y, intercept, slope, theta, alpha, drift, errors):
    n = y.shape[0]
    z = np.zeros(n)
    mix = 1.0 - theta
    for i in range(n):
        z[i] = mix * (intercept + slope * float(i)) + theta * y[i]
    keep = 1.0 - alpha
    level = z[0]
    sse = 0.0
    for i in range(1, n):
        at = float(i)
        e = y[i] + (-0.5) * (drift * at + (level + (intercept + slope * at)))
        if errors.shape[0] > 0:  # the objective keeps no errors
            errors[i - 1] = e
        sse = sse + e * e
        level = keep * level + alpha * z[i]
    return sse, level


@njit(cache=False)
def dot_objective_numba(y, intercept, slope, theta, alpha, drift):
    if y.shape[0] < 2:
        return 0.0
    return _dot_pass(y, intercept, slope, theta, alpha, drift, np.zeros(0))[0]


@njit(cache=False)
def dot_residuals_numba(y, intercept, slope, theta, alpha, drift):
    if y.shape[0] < 2:
        return np.zeros(0), 0.0
    errors = np.zeros(y.shape[0] - 1)
    level = _dot_pass(y, intercept, slope, theta, alpha, drift, errors)[1]
    return errors, level


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


@njit(cache=False)
def four_theta_deseasonalize_numba(y, period):
    n, p = y.shape[0], period
    smallest = np.inf
    for i in range(n):
        if y[i] < smallest:
            smallest = y[i]
    multiplicative = smallest > 0.0
    r = 1.0 / p
    windows, h = n - p + 1, (p - 1) // 2
    average = np.zeros(windows)
    for j in range(windows):
        a = 0.0
        for k in range(p):
            a = a + y[j + k] * r
        average[j] = a
    sums, counts = np.zeros(p), np.zeros(p, np.int64)
    for j in range(windows):
        t = j + h
        s = t % p
        if not multiplicative:
            sums[s] = sums[s] + (y[t] - average[j])
            counts[s] += 1
        elif average[j] > 0.0:
            sums[s] = sums[s] + y[t] / average[j]
            counts[s] += 1
    indices = np.zeros(p)
    for s in range(p):  # a phase without contributions takes the neutral index of its mode
        if counts[s] == 0:
            indices[s] = 1.0 if multiplicative else 0.0
        else:
            indices[s] = sums[s] / float(counts[s])
    total = -0.0
    for s in range(p):
        total = total + indices[s]
    mean = total / p
    for s in range(p):
        if not multiplicative:
            indices[s] = indices[s] - mean
        else:
            if mean > 0.0:
                indices[s] = indices[s] / mean
            if indices[s] < 0.01:
                indices[s] = 0.01
    adjusted = np.zeros(n)
    for i in range(n):
        adjusted[i] = y[i] / indices[i % p] if multiplicative else y[i] - indices[i % p]
    return indices, multiplicative, adjusted


@njit(cache=False)
def four_theta_fitted_numba(n, thetas, intercepts, slopes, weights, flat, lengths, last):
    f = np.zeros(n)
    offset = 0
    for i in range(thetas.shape[0]):
        for t in range(n):
            trend = intercepts[i] + slopes[i] * float(t)
            level = flat[offset + t] if t < lengths[i] else last[i]
            if thetas[i] == 0.0:
                f[t] = f[t] + weights[i] * trend
            else:
                f[t] = f[t] + (weights[i] * (trend + level)) * 0.5
        offset += lengths[i]
    return f


def cases():
    rng = np.random.default_rng(5)
    for label, n, hybrid_n in (("n=100", 100, 100), ("n=10^6", 10**6, 10**5)):
        short = n < 1000
        y = 100.0 + rng.standard_normal(n).cumsum()  # positive: the multiplicative modes apply
        line = np.linspace(y[0], y[-1], n)
        dot = (y, 95.0, 0.01, 2.0, 0.3, 0.001)
        # four lines, one of them theta 0, each with levels for its first 3/4 of the series
        k, length = 4, 3 * n // 4
        fitted = (
            n,
            np.array([0.0, 1.0, 2.0, 3.0]),
            rng.standard_normal(k),
            0.01 * rng.standard_normal(k),
            np.full(k, 0.25),
            np.resize(y, k * length),
            np.full(k, length, np.int64),
            y[-k:].copy(),
        )
        hy, hline = y[:hybrid_n], line[:hybrid_n]
        hybrid_label = label if hybrid_n == n else "n=10^5"
        calls = [
            ("theta_decompose", label, (y, 1.7), theta_decompose_numba),
            ("dot_objective", label, dot, dot_objective_numba),
            ("dot_residuals", label, dot, dot_residuals_numba),
            (
                "dot_hybrid_objective",
                f"{hybrid_label}, additive",
                (hy, hline, 2.0, True),
                dot_hybrid_objective_numba,
            ),
            (
                "dot_hybrid_objective",
                f"{hybrid_label}, multiplicative",
                (hy, hline, 2.0, False),
                dot_hybrid_objective_numba,
            ),
            (
                "four_theta_deseasonalize",
                f"{label}, period 12",
                (y, 12),
                four_theta_deseasonalize_numba,
            ),
            (
                "four_theta_deseasonalize",
                f"{label}, period 12, additive",
                (y - 100.0, 12),
                four_theta_deseasonalize_numba,
            ),
            ("four_theta_fitted", f"{label}, 4 lines", fitted, four_theta_fitted_numba),
        ]
        for name, size, args, numba_fn in calls:
            peers = {"no-op floor": noop_floor(getattr(core, name), args)} if short else {}
            peers["numba"] = lambda f=numba_fn, a=args: f(*a)
            limit = (
                ""
                if short
                else {"theta_decompose": DIVISION, "dot_objective": LATENCY}.get(name, "")
            )
            yield Case(
                name,
                size,
                lambda f=getattr(core, name), a=args: f(*a),
                peers,
                check=exact,
                limit=limit,
            )
