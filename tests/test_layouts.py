"""Every array argument of every function, in every memory layout an argument may come in
(strided, reversed, read-only, a subclass, broadcast, elements not 8-byte aligned), reads
like a contiguous copy of the same values, to the bit, or fails with the same message (that
it comes back unchanged, fuzz.py checks). Series of 0 to 3 values are where a kernel that
needs contiguous data may take a short strided view for a contiguous one; values past 1e154,
whose squares overflow, are where a vector path and the scalar path may part."""

from __future__ import annotations

import numpy as np
import pytest

import lumetra._core as core

from fuzz import check_result, outcome
from helpers import NANS, every_layout, same_bits

RNG = np.random.default_rng(5)
# tenths (not exact in binary): ties and near-ties for the entropies and the nearest patterns;
# long enough for every block and vector path, and for more candidates than a selection gathers
Y = RNG.integers(-4, 4, 67) * 0.1
POSITIVE, S3, MA = Y + 1.0, [0.5, -0.5, 0.2], [0.1, -0.3, 0.2]
ETS = (1.0, 0.1)


def windows(y, q, w, normalize):
    """dtsf_distances over every window of up to w values that a series holds."""
    w = min(w, y.size)
    return core.dtsf_distances(y, q, w, y.size - w + 1, normalize, 0.1, y.size)


CASES = {
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
        lambda *a: core.seasonal_css_objective(*a, 4),
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
        lambda *a: core.esn_reservoir_update(*a, 5, 0.7, 3),
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
        lambda *a: core.dot_hybrid_objective(*a, 1.6, False),
        [POSITIVE, POSITIVE[::-1]],
    ),
    "sample_entropy": (lambda y: core.sample_entropy(y, 2, 0.3), [Y]),
    "sample_entropy m 0": (lambda y: core.sample_entropy(y, 0, 0.3), [Y]),
    "approximate_entropy": (lambda y: core.approximate_entropy(y, 2, 0.3), [Y]),
    "approximate_entropy m 4": (lambda y: core.approximate_entropy(y, 4, 0.3), [Y]),
    "hurst_exponent": (lambda y: core.hurst_exponent(y, 15), [Y]),
    "hurst_exponent short lags": (lambda y: core.hurst_exponent(y, 3), [Y]),
}


# constant arrays, or series (the arrays of more than 20 values) with special values or cut to their first values
KINDS, SHORT = (
    ["as given", "non-finite", "constant", "past 1e154", "below 1e-154"],
    [f"n = {n}" for n in range(4)],
)
# magnitudes across the edges where sums of squares overflow, or squares fall below the normal range
SCALES = {"past 1e154": (1e150, 1e290), "below 1e-154": (1e-150, 1e-300)}


def variant(values: np.ndarray, kind: str) -> np.ndarray:
    if kind == "constant":
        return np.full_like(values, values[0])
    if values.size <= 20 or kind == "as given":
        return values
    if kind == "non-finite":
        values = values.copy()
        values[[3, 9, values.size * 3 // 5, values.size - 2]] = [*NANS, np.inf]
        return values
    if kind in SCALES:
        return values * np.geomspace(*SCALES[kind], values.size)
    return values[: int(kind[-1])]


def test_the_table_holds_every_function():
    assert {name.split()[0] for name in CASES} == set(core.__all__)


@pytest.mark.parametrize("kind", KINDS + SHORT)
@pytest.mark.parametrize("case", CASES)
def test_every_layout_reads_like_a_contiguous_copy(case, kind):
    call, values = CASES[case]
    arrays = [
        variant(np.asarray(v, np.float64) if isinstance(v, list) else v, kind) for v in values
    ]
    expected = outcome(call, arrays, {})
    # new arrays, every NaN np.nan: also where a kernel skips the scan for NaNs
    if expected[0] is None:
        check_result(case, expected[1], arrays)
    per_array = [every_layout(a) for a in arrays]
    for name in dict.fromkeys(name for views in per_array for name in views):
        args = [views.get(name, a) for views, a in zip(per_array, arrays)]
        assert same_bits(outcome(call, args, {}), expected), name
