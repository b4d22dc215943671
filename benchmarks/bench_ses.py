"""Simple exponential smoothing: call overhead on short series, throughput on long ones."""

from __future__ import annotations

import operator

import numpy as np
from numba import njit
from statsmodels.tsa.holtwinters import SimpleExpSmoothing

import lumetra._core as core

from harness import LATENCY, Case, exact, noop_floor


@njit(cache=False)
def ses_sse_numba(y, alpha):
    level = y[0]
    keep = 1.0 - alpha
    sse = 0.0
    for t in range(1, y.shape[0]):
        e = y[t] - level
        sse = sse + e * e
        level = keep * level + alpha * y[t]
    return sse


@njit(cache=False)
def ses_filter_numba(y, alpha):
    out = np.zeros(y.shape[0])
    out[0] = y[0]
    keep = 1.0 - alpha
    for t in range(1, y.shape[0]):
        out[t] = alpha * y[t] + keep * out[t - 1]
    return out


def cases():
    rng = np.random.default_rng(1)
    short = rng.standard_normal(8).cumsum()
    long = rng.standard_normal(10**6).cumsum()
    alpha = 0.3
    for name, numba_fn in (("ses_sse", ses_sse_numba), ("ses_filter", ses_filter_numba)):
        ours = getattr(core, name)
        yield Case(
            name,
            "n=8",
            lambda ours=ours: ours(short, alpha),
            {
                "no-op floor": noop_floor(ours, (short, alpha)),
                "numba": lambda f=numba_fn: f(short, alpha),
            },
            check=exact,
        )
        yield Case(
            name,
            "n=10^6",
            lambda ours=ours: ours(long, alpha),
            {"numba": lambda f=numba_fn: f(long, alpha)},
            check=exact,
            limit=LATENCY,
            note="each level waits for the previous one (a multiply, then an add)",
        )
    # statsmodels runs the same level recursion when its initial level is
    # given: its smoothed levels are ses_filter's values, and its sum of
    # squared residuals (the first residual is 0) is ses_sse's.
    model = SimpleExpSmoothing(long, initialization_method="known", initial_level=long[0])

    def statsmodels_fit():
        return model.fit(smoothing_level=alpha, optimized=False)

    yield Case(
        "ses_filter",
        "n=10^6, with statsmodels",
        lambda: core.ses_filter(long, alpha),
        {"statsmodels": statsmodels_fit},
        check=lambda ours, fit: np.allclose(ours, fit.level, rtol=1e-12, atol=0.0),
        note="statsmodels: SimpleExpSmoothing(y, initialization_method='known', initial_level=y[0])"
        ".fit(smoothing_level=alpha, optimized=False), model built once; its .level equals ours "
        "to 1e-12 relative, not bit for bit (another order of operations)",
    )
    yield Case(
        "ses_sse",
        "n=8, by keyword",
        lambda: core.ses_sse(y=short, alpha=alpha),
        {
            "no-op floor": noop_floor(core.ses_sse, (short, alpha)),
            "builtin operator.is_(y, alpha)": lambda: operator.is_(short, alpha),
        },
        note="the builtin is the cheapest call of any C function with two arguments",
    )
