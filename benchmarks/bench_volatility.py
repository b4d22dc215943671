"""GARCH(1,1) filter on long series, against numba and the arch package."""

from __future__ import annotations

import math

import numpy as np
from arch.univariate import GARCH, Normal
from numba import njit

import lumetra._core as core
from harness import Case


@njit(cache=False)
def garch_filter_numba(y, mu, omega, alpha_g, beta_g, init_sigma2, use_ar1, ar1):
    ll = 0.0
    s2 = init_sigma2
    for t in range(y.shape[0]):
        m = mu + ar1 * (y[t - 1] - mu) if use_ar1 and t > 0 else mu
        e = y[t] - m
        h = np.fmax(s2, 1e-20)  # a NaN variance is scored at the floor
        ll = ll + (math.log(h) + (e * e) / h) * 0.5
        s2 = beta_g * s2 + (omega + e * (alpha_g * e))
    return ll


def exact(a, b):
    return a == b


def cases():
    rng = np.random.default_rng(14)
    mu, omega, alpha, beta, backcast = 0.05, 0.1, 0.1, 0.8, 1.0
    # arch starts its recursion from a backcast value b: sigma2[0] = omega + (alpha + beta) b.
    # Given that as init_sigma2, garch_filter (use_ar1 false) follows the same variance path.
    init = omega + (alpha + beta) * backcast
    garch, normal = GARCH(), Normal()
    params = np.array([omega, alpha, beta])
    for label, n in (("10^5", 10**5), ("10^6", 10**6)):
        y = rng.standard_normal(n)
        sigma2 = np.empty(n)
        bounds = np.column_stack([np.full(n, 1e-300), np.full(n, 1e300)])  # never binding

        def arch_peer(y=y, sigma2=sigma2, bounds=bounds, n=n):
            resids = y - mu
            garch.compute_variance(params, resids, sigma2, backcast, bounds)
            # arch's log-likelihood includes the constant -n/2 ln(2 pi); ours omits it
            return -normal.loglikelihood([], resids, sigma2) - 0.5 * n * math.log(2 * math.pi)

        def ours(y=y):
            return core.garch_filter(y, mu, omega, alpha, beta, init, False, 0.0)

        yield Case("garch_filter", f"n={label}", ours,
                   {"numba": lambda y=y: garch_filter_numba(y, mu, omega, alpha, beta, init,
                                                            False, 0.0)},
                   check=exact)  # fmt: skip
        yield Case("garch_filter", f"n={label}, AR(1)",
                   lambda y=y: core.garch_filter(y, mu, omega, alpha, beta, init, True, 0.3),
                   {"numba": lambda y=y: garch_filter_numba(y, mu, omega, alpha, beta, init,
                                                            True, 0.3)},
                   check=exact)  # fmt: skip
        yield Case("garch_filter", f"n={label}", ours, {"arch": arch_peer},
                   check=lambda a, b: math.isclose(a, b, rel_tol=1e-9),
                   note="arch: GARCH.compute_variance (backcast start, non-binding bounds, "
                   "buffers preallocated) + Normal.loglikelihood on y - mu, shifted by "
                   "n/2 ln(2 pi); same variance path and score up to rounding")  # fmt: skip
