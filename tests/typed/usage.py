"""Typed calls of every function of lumetra._core, as a user's code would make them.

mypy --strict must accept this file, and every assert_type must hold: the stubs give each
result its exact type. `results()` also runs the calls, so the tests compare the stubs'
result types with what the functions really return.
"""

from typing import assert_type

import numpy as np
from numpy.typing import NDArray

import lumetra._core as core

Array = NDArray[np.float64]
EtsResult = tuple[Array, Array, float, float, Array]


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
