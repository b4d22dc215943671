"""ARIMA conditional sum of squares: call overhead on short series, the residual
recursion on long ones, against numba transcriptions and scipy's linear filter."""

from __future__ import annotations

import math

import numpy as np
from numba import njit
from scipy.signal import lfilter, lfiltic

import lumetra._core as core

from harness import Case, exact, noop_floor


@njit(cache=False)
def _residual_ss(w, ar, ma, sar, sma, lag, start):
    n = w.shape[0]
    e = np.zeros(n)
    ss = 0.0
    for t in range(start, n):
        s = 0.0
        for k in range(ar.shape[0]):
            s = s + ar[k] * w[t - 1 - k]
        for j in range(sar.shape[0]):
            s = s + sar[j] * w[t - (j + 1) * lag]
        for k in range(ma.shape[0]):
            s = s + ma[k] * e[t - 1 - k]
        for j in range(sma.shape[0]):
            s = s + sma[j] * e[t - (j + 1) * lag]
        e[t] = w[t] - s
        ss = ss + e[t] * e[t]
    return ss


NONE = np.zeros(0)


@njit(cache=False)
def arima_css_numba(y, ar, ma, d):
    w = y.copy()
    for _ in range(min(d, w.shape[0])):
        w = w[1:] - w[:-1]
    n, m = w.shape[0], max(ar.shape[0], ma.shape[0])
    if n <= m:
        return 1.7976931348623157e308
    r = float(n - m)
    return r * math.log(_residual_ss(w, ar, ma, NONE, NONE, 0, m) / r)


@njit(cache=False)
def css_objective_numba(y, ar, ma):
    m = max(ar.shape[0], ma.shape[0], 1)
    if y.shape[0] <= m:
        return 0.0
    return _residual_ss(y, ar, ma, NONE, NONE, 0, m)


@njit(cache=False)
def seasonal_css_objective_numba(y, ar, ma, sar, sma, lag):
    start = max(ar.shape[0], ma.shape[0], sar.shape[0] * lag, sma.shape[0] * lag, 1)
    if start >= y.shape[0]:
        return 0.0
    return _residual_ss(y, ar, ma, sar, sma, lag, start)


def css_objective_scipy(y, ar, ma):
    """The same residuals by scipy's direct-form filter: e = (1 - ar B) / (1 + ma B) y over
    y[m:], its initial state built from y[m-p .. m-1] and zero pre-sample residuals."""
    m = max(len(ar), len(ma), 1)
    b, a = np.r_[1.0, -ar], np.r_[1.0, ma]
    zi = lfiltic(b, a, np.zeros(len(ma)), y[m - 1 :: -1][: len(ar)])
    e = lfilter(b, a, y[m:], zi=zi)[0]
    return float(e @ e)


def cases():
    rng = np.random.default_rng(4)
    ar, ma = np.array([0.5, -0.2]), np.array([0.3, 0.1])
    sar, sma = np.array([0.4]), np.array([-0.3])
    for label, n in (("n=100", 100), ("n=10^6", 10**6)):
        y = rng.standard_normal(n).cumsum()
        short = n < 1000
        calls = [
            ("arima_css", f"{label}, p=q=2, d=1", (y, ar, ma, 1), arima_css_numba),
            ("css_objective", f"{label}, p=q=2", (np.diff(y), ar, ma), css_objective_numba),
            (
                "seasonal_css_objective",
                f"{label}, p=q=2, P=Q=1, m=12",
                (np.diff(y), ar, ma, sar, sma, 12),
                seasonal_css_objective_numba,
            ),
        ]
        for name, size, args, numba_fn in calls:
            peers = {"no-op floor": noop_floor(getattr(core, name), args)} if short else {}
            peers["numba"] = lambda f=numba_fn, a=args: f(*a)
            yield Case(name, size, lambda f=getattr(core, name), a=args: f(*a), peers, check=exact)
        if not short:
            w = np.diff(y)
            yield Case(
                "css_objective",
                f"{label}, p=q=2",
                lambda w=w: core.css_objective(w, ar, ma),
                {"scipy lfilter": lambda w=w: css_objective_scipy(w, ar, ma)},
                check=lambda a, b: math.isclose(a, b, rel_tol=1e-9),
                note="scipy: signal.lfilter of the same residual recursion from t = max(p, q) "
                "(initial state by lfiltic from the first observations, zero pre-sample "
                "residuals) and the dot product of the residuals; another order of additions, "
                "so equal up to rounding",
            )
