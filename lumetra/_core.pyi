"""Numeric inner loops of lumetra: smoothing recursions, objectives, likelihoods and filters.

Every function takes one-dimensional float64 arrays (any stride, read in place, never written)
and scalars, and returns a float, a new float64 array, or a tuple or list of them. All
parameters are required and may be given by position or by keyword.
"""

from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex, TypeAlias

import numpy as np
from numpy.typing import NDArray

# A one-dimensional float64 array of any length and stride (read-only arrays too).
_Array: TypeAlias = NDArray[np.float64]
# A float argument: a float, an int, a NumPy scalar or any object with __float__ or __index__.
_Real: TypeAlias = SupportsFloat | SupportsIndex
# An unsigned integer argument (0 to 2**64 - 1): an int or an object with __index__.
_Count: TypeAlias = SupportsIndex
# An ETS type code: an integer from -2**31 to 2**31 - 1.
_Code: TypeAlias = SupportsIndex
# Exactly True or False, or a NumPy boolean scalar (the ints 0 and 1 are refused).
_Flag: TypeAlias = bool | np.bool_
# level0, trend0, seasonal0, alpha, beta, gamma, phi, period, error_type, trend_type, seasonal_type
_EtsParams: TypeAlias = tuple[
    _Real, _Real, Sequence[_Real] | _Array, _Real, _Real, _Real, _Real, _Count, _Code, _Code, _Code
]
# fitted values, errors, final level, final trend, final seasonal vector
_EtsResult: TypeAlias = tuple[_Array, _Array, float, float, _Array]

__all__ = [
    "ets_filter",
    "ets_loglik",
    "theta_decompose",
    "arima_css",
    "css_objective",
    "seasonal_css_objective",
    "ses_sse",
    "ses_filter",
    "batch_ets_filter",
    "dot_objective",
    "dot_residuals",
    "ces_nonseasonal_sse",
    "ces_seasonal_sse",
    "garch_filter",
    "egarch_filter",
    "gjr_garch_filter",
    "tbats_filter",
    "dtsf_distances",
    "dtsf_fit_residuals",
    "mstl_extract_seasonal",
    "mstl_moving_average",
    "croston_tsb_filter",
    "esn_reservoir_update",
    "four_theta_fitted",
    "four_theta_deseasonalize",
    "dot_hybrid_objective",
    "sample_entropy",
    "approximate_entropy",
    "hurst_exponent",
]

def ets_filter(
    y: _Array,
    level0: _Real,
    trend0: _Real,
    seasonal0: _Array,
    alpha: _Real,
    beta: _Real,
    gamma: _Real,
    phi: _Real,
    period: _Count,
    error_type: _Code,
    trend_type: _Code,
    seasonal_type: _Code,
) -> _EtsResult:
    """ETS state-space filter: (fitted, errors, final level, final trend, final seasonal)."""

def ets_loglik(
    y: _Array,
    level0: _Real,
    trend0: _Real,
    seasonal0: _Array,
    alpha: _Real,
    beta: _Real,
    gamma: _Real,
    phi: _Real,
    period: _Count,
    error_type: _Code,
    trend_type: _Code,
    seasonal_type: _Code,
) -> float:
    """Minus twice the concentrated Gaussian log-likelihood of the ETS one-step errors."""

def theta_decompose(y: _Array, theta: _Real) -> _Array:
    """The theta line theta * y + (1 - theta) * (linear trend line)."""

def arima_css(y: _Array, ar: _Array, ma: _Array, d: _Count) -> float:
    """ARIMA(p, d, q) conditional sum of squares score (n - m) * ln(SS / (n - m))."""

def css_objective(y: _Array, ar_coefs: _Array, ma_coefs: _Array) -> float:
    """Conditional sum of squared ARMA residuals of the series as passed."""

def seasonal_css_objective(
    y: _Array,
    ar_coefs: _Array,
    ma_coefs: _Array,
    sar_coefs: _Array,
    sma_coefs: _Array,
    m: _Count,
) -> float:
    """Conditional sum of squared residuals of an additive seasonal ARMA with season m."""

def ses_sse(y: _Array, alpha: _Real) -> float:
    """Sum of squared one-step errors of simple exponential smoothing."""

def ses_filter(y: _Array, alpha: _Real) -> _Array:
    """Smoothed levels of simple exponential smoothing, one per observation."""

def batch_ets_filter(
    y_list: Sequence[_Array] | _Array, params_list: Sequence[_EtsParams]
) -> list[_EtsResult]:
    """ets_filter over many series, one parameter tuple of 11 items per series."""

def dot_objective(
    y: _Array, intercept: _Real, slope: _Real, theta: _Real, alpha: _Real, drift: _Real
) -> float:
    """Sum of squared one-step errors of the DOT theta recursion."""

def dot_residuals(
    y: _Array, intercept: _Real, slope: _Real, theta: _Real, alpha: _Real, drift: _Real
) -> tuple[_Array, float]:
    """One-step errors of the DOT theta recursion (from index 1) and the final level."""

def ces_nonseasonal_sse(y: _Array, a0_real: _Real, a0_imag: _Real) -> float:
    """Sum of squared one-step errors of complex exponential smoothing."""

def ces_seasonal_sse(
    y: _Array, a0_real: _Real, a0_imag: _Real, gamma: _Real, seasonal_init: _Array, m: _Count
) -> float:
    """Sum of squared one-step errors of complex exponential smoothing with additive seasons."""

def garch_filter(
    y: _Array,
    mu: _Real,
    omega: _Real,
    alpha_g: _Real,
    beta_g: _Real,
    init_sigma2: _Real,
    use_ar1: _Flag,
    ar1: _Real,
) -> float:
    """Gaussian negative log-likelihood (no constant) of GARCH(1,1), optional AR(1) mean."""

def egarch_filter(
    y: _Array,
    mu: _Real,
    omega: _Real,
    alpha_e: _Real,
    beta_e: _Real,
    gamma: _Real,
    init_log_sigma2: _Real,
) -> float:
    """Gaussian negative log-likelihood (no constant) of EGARCH(1,1)."""

def gjr_garch_filter(
    y: _Array,
    mu: _Real,
    omega: _Real,
    alpha_gjr: _Real,
    beta_gjr: _Real,
    gamma_gjr: _Real,
    init_sigma2: _Real,
) -> float:
    """Gaussian negative log-likelihood (no constant) of GJR-GARCH(1,1)."""

def tbats_filter(
    y: _Array,
    alpha: _Real,
    beta: _Real,
    phi: _Real,
    use_trend: _Flag,
    use_damping: _Flag,
    frequencies: _Array,
    total_harmonics: _Count,
) -> float:
    """Sum of squared one-step errors of trigonometric seasonal smoothing."""

def dtsf_distances(
    y: _Array,
    query_norm: _Array,
    w: _Count,
    max_start: _Count,
    normalize: _Flag,
    time_decay: _Real,
    n_total: _Count,
) -> _Array:
    """Time-decayed RMS distance of every window y[s:s+w], s < max_start, to the query."""

def dtsf_fit_residuals(y: _Array, w: _Count, n_neighbors: _Count, normalize: _Flag) -> _Array:
    """In-sample one-step residuals of nearest-pattern forecasting (median of k neighbours)."""

def mstl_extract_seasonal(y: _Array, period: _Count) -> _Array:
    """Zero-centred phase means of the series, repeated over its length."""

def mstl_moving_average(y: _Array, window: _Count) -> _Array:
    """Centred moving average over 2 * (window // 2) + 1 points, shrinking at the ends."""

def croston_tsb_filter(
    y: _Array, alpha: _Real, beta: _Real, init_z: _Real, init_d: _Real
) -> tuple[float, float, float]:
    """Croston TSB for intermittent demand: (final size, final probability, SSE)."""

def esn_reservoir_update(
    y_norm: _Array,
    w_in_flat: _Array,
    w_flat: _Array,
    reservoir_size: _Count,
    leak_rate: _Real,
    washout: _Count,
) -> tuple[_Array, _Array]:
    """Leaky tanh reservoir states after the washout (flat, row-major) and the final state."""

def four_theta_fitted(
    n: _Count,
    thetas: _Array,
    intercepts: _Array,
    slopes: _Array,
    weights: _Array,
    filtered_flat: _Array,
    filtered_lengths: NDArray[np.int64],
    last_levels: _Array,
) -> _Array:
    """Weighted combination of theta lines: fitted values at times 0 to n - 1."""

def four_theta_deseasonalize(y: _Array, period: _Count) -> tuple[_Array, bool, _Array]:
    """Classical decomposition: (seasonal indices, multiplicative?, adjusted series)."""

def dot_hybrid_objective(y: _Array, theta_line0: _Array, theta: _Real, is_additive: _Flag) -> float:
    """Mean absolute error of the hybrid theta model with its own smoothing-weight search."""

def sample_entropy(y: _Array, m: _Count, r: _Real) -> float:
    """Sample entropy -ln(A / B) with template length m and absolute tolerance r."""

def approximate_entropy(y: _Array, m: _Count, r: _Real) -> float:
    """Approximate entropy max(phi(m) - phi(m + 1), 0) with absolute tolerance r."""

def hurst_exponent(y: _Array, max_lag: _Count) -> float:
    """Rescaled-range Hurst exponent over lags 2 to max_lag, clamped to [0, 1]."""
