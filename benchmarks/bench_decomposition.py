"""Seasonal decomposition helpers against numba transcriptions."""

from __future__ import annotations

import math

import numpy as np
from numba import njit

import lumetra._core as core

from harness import Case, exact, noop_floor


@njit(cache=False)
def moving_average_numba(y, window):
    # Prefix sums over the finite values; windows holding non-finite values
    # are decided by sliding counts of NaN, +inf and -inf.
    n = y.shape[0]
    h = window // 2
    c = np.zeros(n + 1)
    total = 0.0
    for k in range(n):
        v = y[k]
        total = total + (v if math.isfinite(v) else 0.0)
        c[k + 1] = total
    out = np.empty(n)
    nan = pos = neg = 0
    entered = left = 0
    for i in range(n):
        lo = max(0, i - h)
        hi = min(n, i + h + 1)
        while entered < hi:
            v = y[entered]
            nan += math.isnan(v)
            pos += v == math.inf
            neg += v == -math.inf
            entered += 1
        while left < lo:
            v = y[left]
            nan -= math.isnan(v)
            pos -= v == math.inf
            neg -= v == -math.inf
            left += 1
        if nan > 0 or (pos > 0 and neg > 0):
            out[i] = math.nan
        elif pos > 0:
            out[i] = math.inf
        elif neg > 0:
            out[i] = -math.inf
        else:
            out[i] = (c[hi] - c[lo]) / (hi - lo)
    return out


@njit(cache=False)
def extract_seasonal_numba(y, period):
    n = y.shape[0]
    sums = np.zeros(period)
    counts = np.zeros(period, dtype=np.int64)
    for i in range(n):
        sums[i % period] += y[i]
        counts[i % period] += 1
    means = sums / np.maximum(counts, 1)
    total = 0.0
    for j in range(period):
        total = total + means[j]
    means = means - total / period
    out = np.empty(n)
    for i in range(n):
        out[i] = means[i % period]
    return out


def cases():
    rng = np.random.default_rng(5)
    short = rng.standard_normal(48).cumsum()
    y = rng.standard_normal(10**6).cumsum()
    gappy = y.copy()
    gappy[rng.choice(y.size, 100, replace=False)] = np.nan

    yield Case(
        "mstl_moving_average",
        "n=48, window=7",
        lambda: core.mstl_moving_average(short, 7),
        {
            "no-op floor": noop_floor(core.mstl_moving_average, (short, 7)),
            "numba": lambda: moving_average_numba(short, 7),
        },
        check=exact,
    )
    for label, series, window in (("", y, 25), ("", y, 8761), (", 100 NaN", gappy, 25)):
        yield Case(
            "mstl_moving_average",
            f"n=10^6, window={window}{label}",
            lambda series=series, window=window: core.mstl_moving_average(series, window),
            {"numba": lambda series=series, window=window: moving_average_numba(series, window)},
            check=exact,
        )

    yield Case(
        "mstl_extract_seasonal",
        "n=48, period=12",
        lambda: core.mstl_extract_seasonal(short, 12),
        {
            "no-op floor": noop_floor(core.mstl_extract_seasonal, (short, 12)),
            "numba": lambda: extract_seasonal_numba(short, 12),
        },
        check=exact,
    )
    yield Case(
        "mstl_extract_seasonal",
        "n=10^6, period=24",
        lambda: core.mstl_extract_seasonal(y, 24),
        {"numba": lambda: extract_seasonal_numba(y, 24)},
        check=exact,
    )
