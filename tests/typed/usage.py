"""The test data of every function of lumetra._core, keyed by its name.

`CASES`: a call of each function and the arrays it takes, which tests/test_layouts.py tries
in every memory layout and tests/compare_builds.py compares between compilers. A name may
carry a suffix (" raw") for a second case of the same function.

`results()`: typed calls of every function, as a user's code would make them. mypy --strict
must accept this file, and every assert_type must hold: the stubs give each result its exact
type. `results()` also runs the calls, so the tests compare the stubs' result types with what
the functions really return.
"""

from collections.abc import Callable
from typing import Any, assert_type

import numpy as np
from numpy.typing import NDArray

import lumetra._core as core

Array = NDArray[np.float64]
EtsResult = tuple[Array, Array, float, float, Array]

RNG = np.random.default_rng(5)
# tenths (not exact in binary): ties and near-ties for the entropies and the nearest patterns;
# long enough for every block and vector path, and for more candidates than a selection gathers
Y = RNG.integers(-4, 4, 67) * 0.1
POSITIVE, S3, MA = Y + 1.0, [0.5, -0.5, 0.2], [0.1, -0.3, 0.2]
ETS = (1.0, 0.1)


def windows(y: Array, q: Array, w: int, normalize: bool) -> Array:
    """dtsf_distances over every window of up to w values that a series holds."""
    w = min(w, y.size)
    return core.dtsf_distances(y, q, w, y.size - w + 1, normalize, 0.1, y.size)


CASES: dict[str, tuple[Callable[..., object], list[Any]]] = {
    "ets_filter": (
        lambda y, s: core.ets_filter(y, *ETS, s, 0.3, 0.1, 0.2, 0.9, 3, 0, 1, 1),
        [Y, S3],
    ),
    "ets_loglik": (
        lambda y, s: core.ets_loglik(y, *ETS, s, 0.3, 0.1, 0.2, 0.9, 3, 1, 2, 2),
        [POSITIVE, S3],
    ),
    "theta_decompose": (lambda y: core.theta_decompose(y, 1.7), [Y]),
    "arima_css": (lambda y, ar, ma: core.arima_css(y, ar, ma, 1), [Y, [0.3, -0.2], MA]),
    "css_objective": (core.css_objective, [Y, [0.3, -0.2], MA]),
    "css_objective past order 5": (
        core.css_objective,
        [Y, [0.3, -0.2, 0.1, 0.05, -0.1, 0.2], [*MA, 0.1, -0.1, 0.05]],
    ),
    "seasonal_css_objective": (
        lambda y, ar, ma, sar, sma: core.seasonal_css_objective(y, ar, ma, sar, sma, 4),
        [Y, [0.3], MA, [0.4, -0.2], [-0.3]],
    ),
    "ses_sse": (lambda y: core.ses_sse(y, 0.3), [Y]),
    "ses_filter": (lambda y: core.ses_filter(y, 0.3), [Y]),
    "batch_ets_filter": (
        lambda y, s: core.batch_ets_filter(
            [y, y[:10]], [(*ETS, s, 0.3, 0.1, 0.2, 0.9, 3, 0, 1, 1)] * 2
        ),
        [Y, S3],
    ),
    "dot_objective": (lambda y: core.dot_objective(y, 0.5, 0.3, 2.0, 0.4, 0.1), [Y]),
    "dot_residuals": (lambda y: core.dot_residuals(y, 0.5, 0.3, 2.0, 0.4, 0.1), [Y]),
    "ces_nonseasonal_sse": (lambda y: core.ces_nonseasonal_sse(y, 1.3, 1.0), [Y]),
    "ces_seasonal_sse": (lambda y, s: core.ces_seasonal_sse(y, 1.3, 1.0, 0.1, s, 3), [Y, S3]),
    "garch_filter": (lambda y: core.garch_filter(y, 0.1, 0.05, 0.1, 0.85, 1.0, True, 0.4), [Y]),
    "egarch_filter": (lambda y: core.egarch_filter(y, 0.1, -0.1, 0.1, 0.9, 0.2, 0.0), [Y]),
    "gjr_garch_filter": (lambda y: core.gjr_garch_filter(y, 0.1, 0.05, 0.05, 0.85, 0.1, 1.0), [Y]),
    "tbats_filter": (
        lambda y, f: core.tbats_filter(y, 0.5, 0.1, 0.9, True, True, f, 2),
        [Y, [0.5, 1.0, 9.0]],
    ),
    "dtsf_distances": (lambda y, q: windows(y, q, 3, True), [Y, [0.3, -0.1, 0.2, 5.0]]),
    "dtsf_distances raw": (lambda y, q: windows(y, q, 5, False), [Y, Y[:5]]),
    # windows that leave a short series at least one forecast
    "dtsf_fit_residuals": (
        lambda y: core.dtsf_fit_residuals(y, min(3, max(y.size - 2, 0)), 4, True),
        [Y],
    ),
    "dtsf_fit_residuals raw": (
        lambda y: core.dtsf_fit_residuals(y, min(2, max(y.size - 2, 0)), 3, False),
        [Y],
    ),
    "mstl_extract_seasonal": (lambda y: core.mstl_extract_seasonal(y, 5), [Y]),
    "mstl_moving_average": (lambda y: core.mstl_moving_average(y, 3), [Y]),
    "croston_tsb_filter": (lambda y: core.croston_tsb_filter(y, 0.1, 0.2, 1.0, 0.5), [Y]),
    "esn_reservoir_update": (
        lambda u, w_in, w: core.esn_reservoir_update(u, w_in, w, 5, 0.7, 3),
        [Y, RNG.standard_normal(5), RNG.standard_normal(26) * 0.3],
    ),
    "four_theta_fitted": (
        lambda *a: core.four_theta_fitted(6, *a),
        [
            [0, 2, 0.5],
            [1, -1, 2],
            [0.5, 1, -0.25],
            [0.3, 0.3, 0.4],
            Y[:12],
            np.array([3, 2, 2]),
            [7, 8, 9],
        ],
    ),
    "four_theta_deseasonalize": (lambda y: core.four_theta_deseasonalize(y, 4), [POSITIVE]),
    "four_theta_deseasonalize additive": (lambda y: core.four_theta_deseasonalize(y, 3), [Y]),
    "dot_hybrid_objective": (
        lambda y, line: core.dot_hybrid_objective(y, line, 1.6, True),
        [Y, [*Y[::-1], 1e9]],
    ),
    "dot_hybrid_objective power": (
        lambda y, line: core.dot_hybrid_objective(y, line, 1.6, False),
        [POSITIVE, POSITIVE[::-1]],
    ),
    "sample_entropy": (lambda y: core.sample_entropy(y, 2, 0.3), [Y]),
    "sample_entropy m 0": (lambda y: core.sample_entropy(y, 0, 0.3), [Y]),
    "approximate_entropy": (lambda y: core.approximate_entropy(y, 2, 0.3), [Y]),
    "approximate_entropy m 4": (lambda y: core.approximate_entropy(y, 4, 0.3), [Y]),
    "hurst_exponent": (lambda y: core.hurst_exponent(y, 15), [Y]),
    "hurst_exponent short lags": (lambda y: core.hurst_exponent(y, 3), [Y]),
}


def results() -> dict[str, object]:
    y: Array = 100.0 + np.sin(np.arange(48.0)) + 0.1 * np.arange(48.0)
    season: Array = np.zeros(12)
    coefs = np.array([0.3])
    out: dict[str, object] = {}

    codes = (12, 0, 1, 1)  # period, error, trend, seasonal
    out["ets_filter"] = assert_type(
        core.ets_filter(y, 100.0, 0.0, season, 0.3, 0.1, 0.1, 0.98, *codes), EtsResult
    )
    _, _, level, trend, final_season = core.ets_filter(
        y, 100, 0, season, 0.3, 0.1, 0.1, 0.98, np.int64(12), 0, 1, 1
    )
    loglik = core.ets_loglik(
        y,
        level0=level,
        trend0=trend,
        seasonal0=final_season,
        alpha=0.3,
        beta=0.1,
        gamma=0.1,
        phi=0.98,
        period=12,
        error_type=1,
        trend_type=1,
        seasonal_type=2,
    )
    out["ets_loglik"] = assert_type(loglik, float)
    out["theta_decompose"] = assert_type(core.theta_decompose(y, 2.0), Array)
    out["arima_css"] = assert_type(core.arima_css(y, coefs, coefs, 1), float)
    out["css_objective"] = assert_type(core.css_objective(y, coefs, np.empty(0)), float)
    out["seasonal_css_objective"] = assert_type(
        core.seasonal_css_objective(y, coefs, coefs, coefs, coefs, 12), float
    )
    out["ses_sse"] = assert_type(core.ses_sse(y, np.float64(0.5)), float)
    out["ses_filter"] = assert_type(core.ses_filter(y[::-1], 0.5), Array)
    params_a = (100.0, 0.0, [0.0] * 12, 0.3, 0.1, 0.1, 0.98, 12, 0, 1, 1)
    params_b = (100.0, 1.0, season, 0.3, 0.1, 0.1, 0.98, 12, 1, 3, 2)
    out["batch_ets_filter"] = assert_type(
        core.batch_ets_filter([y, y[1:]], [params_a, params_b]), list[EtsResult]
    )
    out["dot_objective"] = assert_type(core.dot_objective(y, 100.0, 0.1, 2.0, 0.5, 0.0), float)
    out["dot_residuals"] = assert_type(
        core.dot_residuals(y, 100.0, 0.1, 2.0, 0.5, 0.0), tuple[Array, float]
    )
    out["ces_nonseasonal_sse"] = assert_type(core.ces_nonseasonal_sse(y, 1.3, 1.0), float)
    out["ces_seasonal_sse"] = assert_type(
        core.ces_seasonal_sse(y, 1.3, 1.0, 0.1, season, 12), float
    )
    out["garch_filter"] = assert_type(
        core.garch_filter(y - 100.0, 0.0, 0.1, 0.1, 0.8, 1.0, True, 0.2), float
    )
    out["egarch_filter"] = assert_type(
        core.egarch_filter(y - 100.0, 0.0, 0.0, 0.1, 0.9, 0.2, 0.0), float
    )
    out["gjr_garch_filter"] = assert_type(
        core.gjr_garch_filter(y - 100.0, 0.0, 0.1, 0.1, 0.8, 0.2, 1.0), float
    )
    frequencies: Array = 2.0 * np.pi * np.arange(1.0, 3.0) / 12.0
    out["tbats_filter"] = assert_type(
        core.tbats_filter(y, 0.5, 0.1, 0.9, np.True_, False, frequencies, 2), float
    )
    out["dtsf_distances"] = assert_type(
        core.dtsf_distances(y, y[-12:], 12, 36, False, 0.01, 48), Array
    )
    out["dtsf_fit_residuals"] = assert_type(core.dtsf_fit_residuals(y, 12, 5, True), Array)
    out["mstl_extract_seasonal"] = assert_type(core.mstl_extract_seasonal(y, 12), Array)
    out["mstl_moving_average"] = assert_type(core.mstl_moving_average(y, 7), Array)
    out["croston_tsb_filter"] = assert_type(
        core.croston_tsb_filter(y, 0.1, 0.1, 1.0, 0.5), tuple[float, float, float]
    )
    reservoir = core.esn_reservoir_update(y / 100.0, np.full(4, 0.5), np.full(16, 0.1), 4, 0.5, 2)
    out["esn_reservoir_update"] = assert_type(reservoir, tuple[Array, Array])
    lengths = np.array([0, 3], dtype=np.int64)
    pair: Array = np.array([1.0, 1.0])
    fitted = core.four_theta_fitted(
        4,
        np.array([0.0, 2.0]),
        pair,
        pair,
        pair * 0.5,
        np.array([1.0, 2.0, 3.0]),
        lengths,
        np.array([0.0, 10.0]),
    )
    out["four_theta_fitted"] = assert_type(fitted, Array)
    out["four_theta_deseasonalize"] = assert_type(
        core.four_theta_deseasonalize(y, 12), tuple[Array, bool, Array]
    )
    out["dot_hybrid_objective"] = assert_type(core.dot_hybrid_objective(y, y, 2.0, False), float)
    out["sample_entropy"] = assert_type(core.sample_entropy(y, 2, 0.2), float)
    out["approximate_entropy"] = assert_type(core.approximate_entropy(y, np.uint64(2), 0.2), float)
    out["hurst_exponent"] = assert_type(core.hurst_exponent(y, 12), float)
    return out
