"""Series diagnostics: sample and approximate entropy, Hurst exponent.

The entropies run on white noise with m = 2 and r = 0.2 * std(y) (population standard deviation),
the tolerance that antropy fixes for its sample_entropy and app_entropy with
the Chebyshev metric; antropy is a timing peer, and its values are compared
with ours to a relative 1e-9. Its app_entropy agrees. Its sample_entropy is
marked as differing (about 5e-4 relative here): checked by brute force, it
equals -ln(A'/B) with A' counted over n - m templates of length m + 1, one
more than the n - m - 1 that sample_entropy uses, so it is the same work on a
slightly different count. The numba peers are plain transcriptions of the
all-pairs definitions and must agree exactly.
"""

from __future__ import annotations

import math

import antropy
import numpy as np
from numba import njit

import lumetra._core as core

from harness import Case, noop_floor


@njit(cache=False)
def _match(y, i, j, length, r):
    for k in range(length):
        if abs(y[i + k] - y[j + k]) > r:
            return False
    return True


@njit(cache=False)
def sample_entropy_numba(y, m, r):
    n = y.shape[0]
    if r < 1e-10 or n < 10:
        return 0.0
    a = 0
    if n > m + 1:
        p = n - m - 1
        for i in range(p):
            for j in range(i + 1, p):
                a += _match(y, i, j, m + 1, r)
    if n <= m:
        return 0.0
    q = n - m
    b = 0
    for i in range(q):
        for j in range(i + 1, q):
            b += _match(y, i, j, m, r)
    if a == 0 or b == 0:
        return 0.0
    return -math.log(a / b)


@njit(cache=False)
def _phi(y, length, r):
    n = y.shape[0]
    if n < length:
        return 0.0
    total = n - length + 1
    s = 0.0
    for i in range(total):
        c = 0
        for j in range(total):
            c += _match(y, i, j, length, r)
        s = s + math.log(c / total + 1e-20)
    return s / total


@njit(cache=False)
def approximate_entropy_numba(y, m, r):
    if r < 1e-10 or y.shape[0] <= 9:
        return 0.0
    return max(_phi(y, m, r) - _phi(y, m + 1, r), 0.0)


@njit(cache=False)
def hurst_numba(y, max_lag):
    n = y.shape[0]
    if n < 20:
        return 0.5
    k_max = min(n // 4, max_lag)
    if k_max < 2:
        return 0.5
    sx = sy = sxy = sxx = 0.0
    points = 0
    big = 1.7976931348623157e308
    for lag in range(2, k_max + 1):
        rs_sum = 0.0
        used = 0
        for k in range(n // lag):
            base = k * lag
            total = 0.0
            for t in range(lag):
                total = total + y[base + t]
            mean = total / lag
            c = 0.0
            sq = 0.0
            lo = big
            hi = -big
            for t in range(lag):
                d = y[base + t] - mean
                c = c + d
                if c < lo:
                    lo = c
                if c > hi:
                    hi = c
                sq = sq + d * d
            sd = math.sqrt(sq / (lag - 1))
            if sd > 1e-10:
                rs_sum = rs_sum + (hi - lo) / sd
                used += 1
        if used > 0:
            px = math.log(lag)
            py = math.log(rs_sum / used)
            sx = sx + px
            sy = sy + py
            sxy = sxy + px * py
            sxx = sxx + px * px
            points += 1
    if points < 2:
        return 0.5
    m = float(points)
    den = sxx * m - sx * sx
    if abs(den) < 1e-15:
        return 0.5
    slope = (sxy * m - sx * sy) / den
    return min(max(slope, 0.0), 1.0)


def exact(a, b):
    return a == b


def close(a, b):
    return math.isclose(a, b, rel_tol=1e-9)


ENTROPIES = {
    "sample_entropy": (
        core.sample_entropy,
        sample_entropy_numba,
        lambda y: antropy.sample_entropy(y, order=2, metric="chebyshev"),
        "antropy.sample_entropy(order=2, chebyshev), same r; its A takes one more "
        "template, so the value differs slightly",
    ),
    "approximate_entropy": (
        core.approximate_entropy,
        approximate_entropy_numba,
        lambda y: antropy.app_entropy(y, order=2, metric="chebyshev"),
        "antropy.app_entropy(order=2, chebyshev), same r; value agrees",
    ),
}


def cases():
    rng = np.random.default_rng(7)
    short = rng.standard_normal(50)
    r_short = 0.2 * float(np.std(short))
    for name, (ours, numba_fn, _, _) in ENTROPIES.items():
        yield Case(
            name,
            "n=50, m=2, r=0.2*std",
            lambda f=ours: f(short, 2, r_short),
            {
                "no-op floor": noop_floor(ours, (short, 2, r_short)),
                "numba": lambda f=numba_fn: f(short, 2, r_short),
            },
            check=exact,
        )
    for n in (2_000, 10_000):
        y = rng.standard_normal(n)
        r = 0.2 * float(np.std(y))
        for name, (ours, numba_fn, antropy_fn, note) in ENTROPIES.items():
            yield Case(
                name,
                f"n={n}, m=2, r=0.2*std",
                lambda f=ours, y=y, r=r: f(y, 2, r),
                {
                    "numba": lambda f=numba_fn, y=y, r=r: f(y, 2, r),
                    "antropy": lambda f=antropy_fn, y=y: f(y),
                },
                check={"numba": exact, "antropy": close},
                note=f"numba: the all-pairs definition; {note}",
            )

    walk = rng.standard_normal(64).cumsum()
    yield Case(
        "hurst_exponent",
        "n=64, max_lag=16",
        lambda: core.hurst_exponent(walk, 16),
        {
            "no-op floor": noop_floor(core.hurst_exponent, (walk, 16)),
            "numba": lambda: hurst_numba(walk, 16),
        },
        check=exact,
    )
    y = rng.standard_normal(10**5).cumsum()
    yield Case(
        "hurst_exponent",
        "n=10^5, max_lag=100",
        lambda: core.hurst_exponent(y, 100),
        {"numba": lambda: hurst_numba(y, 100)},
        check=exact,
        note="random walk; lags 2 to 100, every segment of every lag",
    )
