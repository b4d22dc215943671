"""Simple exponential smoothing: call overhead on short series, throughput on long ones."""

from __future__ import annotations

import operator

import numpy as np
from numba import njit

import lumetra._core as core
from harness import Case


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


def exact(a, b):
    return np.array_equal(np.asarray(a), np.asarray(b))


def cases():
    rng = np.random.default_rng(1)
    short = rng.standard_normal(8).cumsum()
    long = rng.standard_normal(10**6).cumsum()
    alpha = 0.3
    yield Case(
        "ses_sse", "n=8", lambda: core.ses_sse(short, alpha),
        {"floor: operator.is_(y, alpha)": lambda: operator.is_(short, alpha),
         "numba": lambda: ses_sse_numba(short, alpha)},
        note="short call: the floor is a trivial builtin with the same two arguments",
    )  # fmt: skip
    yield Case(
        "ses_sse", "n=8, keywords", lambda: core.ses_sse(y=short, alpha=alpha),
        {"floor: operator.is_(y, alpha)": lambda: operator.is_(short, alpha)},
    )  # fmt: skip
    yield Case("ses_sse", "n=10^6", lambda: core.ses_sse(long, alpha),
               {"numba": lambda: ses_sse_numba(long, alpha)}, check=exact)  # fmt: skip
    yield Case("ses_filter", "n=10^6", lambda: core.ses_filter(long, alpha),
               {"numba": lambda: ses_filter_numba(long, alpha)}, check=exact)  # fmt: skip
