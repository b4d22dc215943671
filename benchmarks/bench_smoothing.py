"""ETS likelihood and batch filter against numba transcriptions of the same recursion.

ets_loglik is what an optimiser calls once per candidate: its per-call cost on a
short series is compared with ses_sse's (two arguments instead of twelve), and
its throughput on a long one with numba's. batch_ets_filter is compared with a
numba loop over the same series held as 2-d arrays, with a Python loop of a
numba filter returning the same list of tuples, and with a loop of ets_filter.
"""

from __future__ import annotations

import numpy as np
from numba import njit

import lumetra._core as core
from harness import Case

EPS = 1e-10


@njit(cache=False, inline="always")
def _ets_run(y, level, slope, seasonal, alpha, beta, gamma, phi, period, error_type, trend_type,
             seasonal_type, fitted, errors, store):  # fmt: skip
    """The recursion; returns (level, trend, Q, L) and fills fitted/errors if store."""
    n = y.shape[0]
    if n > 0 and period == 0:
        raise ZeroDivisionError("period")
    if (
        (seasonal_type == 1 or seasonal_type == 2)
        and period > seasonal.shape[0]
        and n > seasonal.shape[0]
    ):
        raise IndexError("seasonal")
    additive_error = error_type == 0
    q = 0.0
    logs = 0.0
    j = 0
    for t in range(n):
        s = 0.0
        if seasonal_type == 1 or seasonal_type == 2:
            s = seasonal[j]
            if seasonal_type == 2 and s < 1e-6:
                s = 1e-6
                seasonal[j] = s
        if trend_type == 0:
            trended = level
        elif trend_type == 1 or trend_type == 2:
            trended = level + phi * slope
        else:
            trended = level * slope
        forecast = trended
        if seasonal_type == 1:
            forecast = trended + s
        elif seasonal_type == 2:
            forecast = trended * s
        e = y[t] - forecast
        if store:
            fitted[t] = forecast
            errors[t] = e
        elif additive_error:
            q = q + e * e
        else:
            a = abs(forecast)
            r = e / (a + EPS)
            q = q + r * r
            logs = logs + np.log(np.fmax(a, EPS))
        base = level + phi * slope
        if not additive_error:
            updated = base * (alpha * (e / (forecast + EPS)) + 1.0)
        elif seasonal_type == 2:
            updated = base + (alpha * e) / (s + EPS)
        else:
            updated = base + alpha * e
        if updated < -1e15:
            updated = -1e15
        if updated > 1e15:
            updated = 1e15
        if trend_type == 1 or trend_type == 2:
            slope = phi * slope + beta * (updated - level)
        elif trend_type == 3:
            slope = slope * (updated / (level + EPS)) ** beta
        if seasonal_type == 1:
            seasonal[j] = s + gamma * e
        elif seasonal_type == 2:
            if additive_error:
                c = s + (gamma * e) / (base + EPS)
            else:
                c = s * ((gamma * e) / (forecast + EPS) + 1.0)
            if c < 1e-6:
                c = 1e-6
            seasonal[j] = c
        level = updated
        j += 1
        if j == period:
            j = 0
    return level, slope, q, logs


@njit(cache=False)
def ets_loglik_numba(y, level0, trend0, seasonal0, alpha, beta, gamma, phi, period, error_type,
                     trend_type, seasonal_type):  # fmt: skip
    seasonal = seasonal0.copy()
    empty = np.empty(0)
    _, _, q, logs = _ets_run(y, level0, trend0, seasonal, alpha, beta, gamma, phi, period,
                             error_type, trend_type, seasonal_type, empty, empty, False)  # fmt: skip
    n = float(y.shape[0])
    v = n * (np.log((q * 6.283185307179586) / n) + 1.0)
    return v if error_type == 0 else (logs + logs) + v


@njit(cache=False)
def ets_filter_numba(y, level0, trend0, seasonal0, alpha, beta, gamma, phi, period, error_type,
                     trend_type, seasonal_type):  # fmt: skip
    seasonal = seasonal0.copy()
    fitted = np.zeros(y.shape[0])
    errors = np.zeros(y.shape[0])
    level, slope, _, _ = _ets_run(y, level0, trend0, seasonal, alpha, beta, gamma, phi, period,
                                  error_type, trend_type, seasonal_type, fitted, errors, True)  # fmt: skip
    return fitted, errors, level, slope, seasonal


@njit(cache=False)
def batch_ets_filter_numba(ys, weights, seasonal0, period, codes):
    """All series of one length, as rows; weights rows hold level0, trend0, alpha, beta, gamma, phi."""
    k, n = ys.shape
    fitted = np.zeros((k, n))
    errors = np.zeros((k, n))
    seasonal = seasonal0.copy()
    levels = np.zeros(k)
    slopes = np.zeros(k)
    for i in range(k):
        w = weights[i]
        level, slope, _, _ = _ets_run(
            ys[i], w[0], w[1], seasonal[i], w[2], w[3], w[4], w[5], period[i], codes[i, 0],
            codes[i, 1], codes[i, 2], fitted[i], errors[i], True)  # fmt: skip
        levels[i] = level
        slopes[i] = slope
    return fitted, errors, levels, slopes, seasonal


def same_number(a, b):
    return a == b or (a != a and b != b)


def same_fits(ours, peer):
    if isinstance(peer, tuple) and isinstance(peer[0], np.ndarray) and peer[0].ndim == 2:
        peer = [tuple(member[i] for member in peer) for i in range(len(ours))]
    return len(ours) == len(peer) and all(
        np.array_equal(a, b, equal_nan=True) if isinstance(a, np.ndarray) else same_number(a, b)
        for fit, other in zip(ours, peer)
        for a, b in zip(fit, other)
    )


def seasonal_series(rng, n, period=12):
    t = np.arange(n)
    return 100.0 + 0.05 * t + 10.0 * np.sin(2 * np.pi * t / period) + rng.standard_normal(n)


MODELS = {
    # name: (trend0, seasonal0, error, trend, seasonal)
    "additive A,Ad,A": (0.05, 10.0 * np.sin(2 * np.pi * np.arange(12) / 12), 0, 1, 1),
    "multiplicative M,Ad,M": (0.05, 1.0 + 0.1 * np.sin(2 * np.pi * np.arange(12) / 12), 1, 1, 2),
}


def cases():
    rng = np.random.default_rng(3)
    short = seasonal_series(rng, 24)
    long = seasonal_series(rng, 10**5)
    for name, (trend0, seasonal0, error, trend, season) in MODELS.items():
        for label, y in (("n=24", short), ("n=10^5", long)):
            args = (y, 100.0, trend0, seasonal0, 0.3, 0.05, 0.1, 0.98, 12, error, trend, season)
            yield Case(
                "ets_loglik", f"{label}, p=12, {name}",
                (lambda a=args: core.ets_loglik(*a)),
                {"numba": (lambda a=args: ets_loglik_numba(*a))},
                check=same_number,
            )  # fmt: skip
    # per-call cost at n = 24: twelve arguments and the recursion against ses_sse's two
    args = (short, 100.0, 0.05, MODELS["additive A,Ad,A"][1], 0.3, 0.05, 0.1, 0.98, 12, 0, 1, 1)
    yield Case(
        "ets_loglik", "n=24, p=12, additive", lambda: core.ets_loglik(*args),
        {"ses_sse n=24": lambda: core.ses_sse(short, 0.3)},
        note="target: ses_sse ratio of 0.5 or more (within 2x)",
    )  # fmt: skip

    count, n = 1000, 120
    rows = np.stack([seasonal_series(rng, n) for _ in range(count)])
    y_list = list(rows)
    params_list = []
    for i in range(count):
        trend0, seasonal0, error, trend, season = MODELS[list(MODELS)[i % 2]]
        alpha = 0.1 + 0.4 * (i / count)
        params_list.append(
            (100.0, trend0, seasonal0.tolist(), alpha, 0.05, 0.1, 0.98, 12, error, trend, season)
        )
    weights = np.array([[p[0], p[1], p[3], p[4], p[5], p[6]] for p in params_list])
    seasonal = np.array([p[2] for p in params_list])
    period = np.array([p[7] for p in params_list], dtype=np.int64)
    codes = np.array([p[8:] for p in params_list], dtype=np.int64)
    seasonal_arrays = [np.array(p[2]) for p in params_list]

    def numba_loop():
        return [
            ets_filter_numba(y, p[0], p[1], s, *p[3:])
            for y, p, s in zip(y_list, params_list, seasonal_arrays)
        ]

    def our_loop():
        return [
            core.ets_filter(y, p[0], p[1], s, *p[3:])
            for y, p, s in zip(y_list, params_list, seasonal_arrays)
        ]

    yield Case(
        "batch_ets_filter", "1000 series x 120, p=12", lambda: core.batch_ets_filter(y_list, params_list),
        {"numba (2-d arrays)": lambda: batch_ets_filter_numba(rows, weights, seasonal, period, codes),
         "numba (loop of calls)": numba_loop, "loop of ets_filter": our_loop},
        check=same_fits,
        note="ours converts 1000 tuples and returns 3000 arrays; numba (2-d) takes and returns 2-d arrays",
    )  # fmt: skip
