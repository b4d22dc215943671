"""The smoothing family beyond simple exponential smoothing: ETS filter and
likelihood, batch ETS filter, Croston TSB, TBATS and complex exponential
smoothing, each against a numba transcription of the same arithmetic and, for
short series, the no-op floor (a call with the same arguments that computes
nothing).

The ETS cases run two models: the additive damped model with additive
seasonality (codes 0, 1, 1) and the multiplicative damped model with
multiplicative seasonality (1, 1, 2).
"""

from __future__ import annotations

import numpy as np
from numba import njit

import lumetra._core as core

from harness import LATENCY, Case, exact, noop_floor

EPS = 1e-10


@njit(cache=False, inline="always")
def _ets_run(
    y,
    level,
    slope,
    seasonal,
    alpha,
    beta,
    gamma,
    phi,
    period,
    error_type,
    trend_type,
    seasonal_type,
    fitted,
    errors,
    store,
):
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
def ets_loglik_numba(
    y,
    level0,
    trend0,
    seasonal0,
    alpha,
    beta,
    gamma,
    phi,
    period,
    error_type,
    trend_type,
    seasonal_type,
):
    seasonal = seasonal0.copy()
    empty = np.empty(0)
    _, _, q, logs = _ets_run(
        y,
        level0,
        trend0,
        seasonal,
        alpha,
        beta,
        gamma,
        phi,
        period,
        error_type,
        trend_type,
        seasonal_type,
        empty,
        empty,
        False,
    )
    n = float(y.shape[0])
    v = n * (np.log((q * 6.283185307179586) / n) + 1.0)
    return v if error_type == 0 else (logs + logs) + v


@njit(cache=False)
def ets_filter_numba(
    y,
    level0,
    trend0,
    seasonal0,
    alpha,
    beta,
    gamma,
    phi,
    period,
    error_type,
    trend_type,
    seasonal_type,
):
    seasonal = seasonal0.copy()
    fitted = np.zeros(y.shape[0])
    errors = np.zeros(y.shape[0])
    level, slope, _, _ = _ets_run(
        y,
        level0,
        trend0,
        seasonal,
        alpha,
        beta,
        gamma,
        phi,
        period,
        error_type,
        trend_type,
        seasonal_type,
        fitted,
        errors,
        True,
    )
    return fitted, errors, level, slope, seasonal


@njit(cache=False)
def croston_tsb_numba(y, alpha, beta, z, d):
    keep_z = 1.0 - alpha
    keep_d = 1.0 - beta
    sse = 0.0
    for t in range(y.shape[0]):
        v = y[t]
        e = v - z * d
        sse = sse + e * e
        if v > 0.0:
            d = beta + keep_d * d
            z = keep_z * z + alpha * v
        else:
            d = keep_d * d
    return z, d, sse


@njit(cache=False)
def tbats_numba(y, alpha, beta, phi, use_trend, use_damping, frequencies, h):
    sines = np.sin(frequencies[:h])
    cosines = np.cos(frequencies[:h])
    a = np.zeros(h)
    b = np.zeros(h)
    level = y[0]
    slope = 0.0
    sse = 0.0
    for t in range(1, y.shape[0]):
        f = level + slope if use_trend else level
        for i in range(h):
            f = f + a[i]
        e = y[t] - f
        if use_trend:
            slope = phi * slope + beta * e if use_damping else slope + beta * e
        g = (alpha * 0.5) * e
        for i in range(h):
            ai = a[i]
            bi = b[i]
            a[i] = g + (cosines[i] * ai + sines[i] * bi)
            b[i] = cosines[i] * bi - sines[i] * ai
        sse = sse + e * e
        level = level + alpha * e
    return sse


@njit(cache=False)
def ces_nonseasonal_numba(y, a_r, a_i):
    if y.shape[0] <= 1:
        return 0.0
    c = 1.0 - a_r
    level = y[0]
    p = 0.0
    sse = 0.0
    for t in range(1, y.shape[0]):
        e = y[t] - level
        sse = sse + e * e
        next_level = a_i * p + (c * level + a_r * y[t])
        p = c * p + a_i * e
        level = next_level
    return sse


@njit(cache=False)
def ces_seasonal_numba(y, a_r, a_i, gamma, seasonal_init, m):
    if m == 0 or y.shape[0] <= 1:
        return 0.0
    s = seasonal_init.copy()
    c = 1.0 - a_r
    level = y[0] - s[0]
    p = 0.0
    sse = 0.0
    j = 0
    for t in range(1, y.shape[0]):
        j += 1
        if j == m:
            j = 0
        st = s[j]
        e = y[t] - (level + st)
        sse = sse + e * e
        next_p = c * p + a_i * ((y[t] - st) - level)
        level = a_i * p + (c * level + a_r * (y[t] - st))
        p = next_p
        s[j] = st + gamma * e
    return sse


def seasonal_series(rng, n, period=12):
    t = np.arange(n)
    return 100.0 + 0.05 * t + 10.0 * np.sin(2 * np.pi * t / period) + rng.standard_normal(n)


def intermittent(rng, n):
    """Demand in about one period of three, sizes around 5."""
    return np.where(rng.random(n) < 0.35, rng.gamma(4.0, 1.25, n), 0.0)


MODELS = {
    # name: (trend0, seasonal0, error, trend, seasonal)
    "A,Ad,A": (0.05, 10.0 * np.sin(2 * np.pi * np.arange(12) / 12), 0, 1, 1),
    "M,Ad,M": (0.05, 1.0 + 0.1 * np.sin(2 * np.pi * np.arange(12) / 12), 1, 1, 2),
}


def pair(function, label, args, numba_fn, long, note="", limit=""):
    """A case of `function` with the numba transcription, and the no-op floor for a
    short input; `limit` applies to the long input only."""
    ours = getattr(core, function)
    peers = {} if long else {"no-op floor": noop_floor(ours, args)}
    peers["numba"] = lambda: numba_fn(*args)
    return Case(
        function,
        label,
        lambda: ours(*args),
        peers,
        check=exact,
        note=note,
        limit=limit if long else "",
    )


def batch_of_four_models(y_list):
    """batch_ets_filter against a loop of ets_filter over the same objects, four models in turn, with seasonal0
    given as the float64 arrays that the loop passes and as lists; the no-op floor builds the same result objects."""
    season = np.sin(2 * np.pi * np.arange(12) / 12)
    models = [
        (0.05, 10.0 * season, 0, 1, 1),
        (0.05, 1.0 + 0.1 * season, 1, 1, 2),
        (0.0, 10.0 * season, 0, 0, 1),
        (0.0, 1.0 + 0.1 * season, 1, 0, 2),
    ]  # A,Ad,A; M,Ad,M; A,N,A; M,N,M
    arrays = []
    for i in range(len(y_list)):
        trend0, seasonal0, error, trend, seasonal = models[i % 4]
        arrays.append(
            (
                100.0,
                trend0,
                seasonal0.copy(),
                0.1 + 0.4 * i / len(y_list),
                0.05,
                0.1,
                0.98,
                12,
                error,
                trend,
                seasonal,
            )
        )
    lists = [(*p[:2], p[2].tolist(), *p[3:]) for p in arrays]

    def python_loop():
        return [core.ets_filter(y, *p) for y, p in zip(y_list, arrays)]

    def numba_loop():
        return [ets_filter_numba(y, *p) for y, p in zip(y_list, arrays)]

    for spelling, params in (("arrays", arrays), ("lists", lists)):
        yield Case(
            "batch_ets_filter",
            f"1000 series x 120, p=12, four models, seasonal0 as {spelling}",
            lambda params=params: core.batch_ets_filter(y_list, params),
            {
                "python loop of ets_filter": python_loop,
                "numba": numba_loop,
                "no-op floor": noop_floor(core.batch_ets_filter, (y_list, params)),
            },
            check=exact,
            note="models A,Ad,A, M,Ad,M, A,N,A and M,N,M in turn; the python loop passes seasonal0 as arrays; "
            "numba: a python loop of the numba filter; floor: the same result objects, nothing computed",
        )


def cases():
    rng = np.random.default_rng(3)
    short = seasonal_series(rng, 24)
    long = seasonal_series(rng, 10**5)
    for function, numba_fn in (("ets_filter", ets_filter_numba), ("ets_loglik", ets_loglik_numba)):
        for name, (trend0, seasonal0, error, trend, season) in MODELS.items():
            for label, y in (("n=24", short), ("n=10^5", long)):
                args = (y, 100.0, trend0, seasonal0, 0.3, 0.05, 0.1, 0.98, 12, error, trend, season)
                note = f"model {name} (codes {error}, {trend}, {season})"
                yield pair(
                    function, f"{label}, p=12, {name}", args, numba_fn, y is long, note, LATENCY
                )
    # The call frame alone: all twelve arguments converted, an empty series,
    # so what is left above the no-op floor is the binding and the seasonal copy.
    no_steps = (short[:0], 100.0, 0.05, MODELS["A,Ad,A"][1], 0.3, 0.05, 0.1, 0.98, 12, 0, 1, 1)
    yield Case(
        "ets_loglik",
        "n=0, p=12 (the call frame)",
        lambda: core.ets_loglik(*no_steps),
        {"no-op floor": noop_floor(core.ets_loglik, no_steps)},
        note="12 arguments, no step run: the call's cost without the recursion",
    )

    count, n = 1000, 120
    y_list = [seasonal_series(rng, n) for _ in range(count)]
    params_list = []
    for i in range(count):
        trend0, seasonal0, error, trend, season = MODELS[list(MODELS)[i % 2]]
        alpha = 0.1 + 0.4 * (i / count)
        params_list.append(
            (100.0, trend0, seasonal0.tolist(), alpha, 0.05, 0.1, 0.98, 12, error, trend, season)
        )
    seasonal_arrays = [np.array(p[2]) for p in params_list]

    def numba_loop():
        return [
            ets_filter_numba(y, p[0], p[1], s, *p[3:])
            for y, p, s in zip(y_list, params_list, seasonal_arrays)
        ]

    def python_loop():
        return [
            core.ets_filter(y, p[0], p[1], s, *p[3:])
            for y, p, s in zip(y_list, params_list, seasonal_arrays)
        ]

    yield Case(
        "batch_ets_filter",
        "1000 series x 120, p=12",
        lambda: core.batch_ets_filter(y_list, params_list),
        {"numba": numba_loop, "python loop of ets_filter": python_loop},
        check=exact,
        note="models A,Ad,A and M,Ad,M alternate; seasonal0 as lists of 12 floats; numba: a python "
        "loop of the numba filter",
    )
    yield from batch_of_four_models(y_list)

    demand_short, demand_long = intermittent(rng, 48), intermittent(rng, 10**6)
    for label, y in (("n=48", demand_short), ("n=10^6", demand_long)):
        yield pair(
            "croston_tsb_filter",
            f"{label}, 35% demand",
            (y, 0.1, 0.05, 5.0, 0.35),
            croston_tsb_numba,
            y is demand_long,
            "demand in random periods; numba branches (or selects) per period "
            "as written; ours branches below 10^4 periods (the predictor learns a short "
            "series called again) and picks both updates' operands without a branch above",
        )

    frequencies = np.array(
        [2 * np.pi * k / 7 for k in (1, 2)] + [2 * np.pi * k / 365.25 for k in (1, 2)]
    )
    daily_short, daily_long = seasonal_series(rng, 48, 7), seasonal_series(rng, 10**5, 7)
    for label, y in (("n=48", daily_short), ("n=10^5", daily_long)):
        args = (y, 0.2, 0.05, 0.98, True, True, frequencies, 4)
        yield pair(
            "tbats_filter",
            f"{label}, 4 harmonics, damped trend",
            args,
            tbats_numba,
            y is daily_long,
            "2 weekly and 2 yearly harmonics",
        )

    season = 2.0 * np.sin(2 * np.pi * np.arange(12) / 12)
    monthly_short, monthly_long = seasonal_series(rng, 48), seasonal_series(rng, 10**6)
    for label, y in (("n=48", monthly_short), ("n=10^6", monthly_long)):
        note = "a0 = 1.1 + 0.5i; each step waits for the previous level"
        yield pair(
            "ces_nonseasonal_sse",
            label,
            (y, 1.1, 0.5),
            ces_nonseasonal_numba,
            y is monthly_long,
            note,
            LATENCY,
        )
        yield pair(
            "ces_seasonal_sse",
            f"{label}, m=12",
            (y, 1.1, 0.5, 0.1, season, 12),
            ces_seasonal_numba,
            y is monthly_long,
            note,
            LATENCY,
        )
