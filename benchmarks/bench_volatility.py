"""Volatility filters: call overhead on short series, the variance recursions on long
ones, against numba transcriptions and the arch package."""

from __future__ import annotations

import math

import numpy as np
from arch.univariate import EGARCH, GARCH, Normal
from numba import njit

import lumetra._core as core

from harness import LATENCY, Case, exact, noop_floor


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


@njit(cache=False)
def gjr_garch_filter_numba(y, mu, omega, alpha, beta, gamma, init_sigma2):
    ll = 0.0
    s2 = init_sigma2
    for t in range(y.shape[0]):
        e = y[t] - mu
        h = np.fmax(s2, 1e-20)
        ll = ll + (math.log(h) + (e * e) / h) * 0.5
        s2 = beta * s2 + (omega + e * (e * (alpha + gamma * (1.0 if e < 0.0 else 0.0))))
    return ll


@njit(cache=False)
def egarch_filter_numba(y, mu, omega, alpha, beta, gamma, init_log_sigma2):
    ll = 0.0
    x = init_log_sigma2
    for t in range(y.shape[0]):
        s2 = np.fmax(math.exp(x), 1e-20)
        e = y[t] - mu
        z = e / np.fmax(math.sqrt(s2), 1e-10)
        ll = ll + (x + (e * e) / s2) * 0.5
        v = beta * x + (omega + (alpha * z + gamma * (abs(z) - 0.7978845608028654)))
        if v < -20.0:
            v = -20.0
        if v > 20.0:
            v = 20.0
        x = v
    return ll


def isclose(a, b):
    return math.isclose(a, b, rel_tol=1e-9)


def cases():
    rng = np.random.default_rng(14)
    mu, omega, alpha, beta, gamma, backcast = 0.05, 0.1, 0.1, 0.8, 0.1, 1.0
    # arch starts its recursion from a backcast value b: sigma2[0] = omega + (alpha + beta) b
    # (+ gamma b / 2 for GJR); given that as init_sigma2, our filters follow the same path.
    init = omega + (alpha + beta) * backcast
    init_gjr = omega + (alpha + 0.5 * gamma + beta) * backcast
    # EGARCH: arch's ln s2' = omega + alpha (|z| - sqrt(2/pi)) + gamma z + beta ln s2 weights the
    # size of the shock by alpha and its sign by gamma, the other way round from ours.
    e_omega, e_size, e_sign, e_beta = -0.05, 0.1, -0.05, 0.95
    e_init = e_omega + e_beta * math.log(backcast)
    normal = Normal()
    models = {"garch": GARCH(), "gjr": GARCH(p=1, o=1, q=1), "egarch": EGARCH(p=1, o=1, q=1)}
    arch_params = {
        "garch": np.array([omega, alpha, beta]),
        "gjr": np.array([omega, alpha, gamma, beta]),
        "egarch": np.array([e_omega, e_size, e_sign, e_beta]),
    }
    arch_backcast = {"garch": backcast, "gjr": backcast, "egarch": math.log(backcast)}
    for label, n in (("n=100", 100), ("n=10^6", 10**6)):
        y = 0.5 * rng.standard_normal(n)
        short = n < 1000
        calls = [
            (
                "garch_filter",
                label,
                (y, mu, omega, alpha, beta, init, False, 0.0),
                garch_filter_numba,
            ),
            (
                "garch_filter",
                f"{label}, AR(1)",
                (y, mu, omega, alpha, beta, init, True, 0.3),
                garch_filter_numba,
            ),
            (
                "gjr_garch_filter",
                label,
                (y, mu, omega, alpha, beta, gamma, init_gjr),
                gjr_garch_filter_numba,
            ),
            (
                "egarch_filter",
                label,
                (y, mu, e_omega, e_sign, e_beta, e_size, e_init),
                egarch_filter_numba,
            ),
        ]
        for name, size, args, numba_fn in calls:
            peers = {"no-op floor": noop_floor(getattr(core, name), args)} if short else {}
            peers["numba"] = lambda f=numba_fn, a=args: f(*a)
            yield Case(
                name,
                size,
                lambda f=getattr(core, name), a=args: f(*a),
                peers,
                check=exact,
                limit="" if short else LATENCY,
            )
        if short:
            continue
        sigma2 = np.empty(n)
        bounds = np.column_stack([np.full(n, 1e-300), np.full(n, 1e300)])  # never binding
        for name, key, args in (
            ("garch_filter", "garch", calls[0][2]),
            ("gjr_garch_filter", "gjr", calls[2][2]),
            ("egarch_filter", "egarch", calls[3][2]),
        ):

            def arch_peer(y=y, key=key, sigma2=sigma2, bounds=bounds, n=n):
                resids = y - mu
                models[key].compute_variance(
                    arch_params[key], resids, sigma2, arch_backcast[key], bounds
                )
                # arch's log-likelihood includes the constant -n/2 ln(2 pi); ours omits it
                return -normal.loglikelihood([], resids, sigma2) - 0.5 * n * math.log(2 * math.pi)

            yield Case(
                name,
                label,
                lambda f=getattr(core, name), a=args: f(*a),
                {"arch": arch_peer},
                check=isclose,
                note=f"arch: {type(models[key]).__name__}.compute_variance (backcast start, non-binding "
                "bounds, buffers preallocated) + Normal.loglikelihood on y - mu, shifted by n/2 ln(2 pi); "
                "the same variance path and score up to rounding",
            )
