"""Numeric inner loops of lumetra: smoothing recursions, objectives, likelihoods and filters.

Every function takes one-dimensional float64 arrays (any stride, read in place, never written)
and scalars, and returns a float, a new float64 array, or a tuple or list of them. All
parameters are required and may be given by position or by keyword. Parameters are used as
given: no function checks ranges, stationarity or invertibility, and NaN or infinite values
flow through the arithmetic. A series too short for a model is answered with a value (0.0,
0.5, NaN, the largest finite double or an empty array), not an error.

Argument errors
---------------
Arguments are converted in parameter order and the first failure ends the call:

- ``TypeError "argument 'y': 'list' object cannot be converted to 'PyArray<T, D>'"``: an array
  argument that is not a 1-d NumPy array of native float64 (a list, a float32, int or 2-d
  array, a big-endian array, a pandas Series). Pass ``np.ascontiguousarray(x, np.float64)``
  (for a Series, ``s.to_numpy(np.float64)``).
- ``OverflowError``: a negative count (``period``, ``m``, ``w``, ...), a count above
  2**64 - 1, an ETS type code outside 32 bits, or an int too large for a double.
- ``TypeError "argument 'use_ar1': 'int' object cannot be converted to 'PyBool'"``: a flag
  given as 0 or 1 instead of ``True`` or ``False``.

Internal failures
-----------------
An input that a kernel does not handle (an empty series where one value is needed, a period
of zero where a remainder is taken, an array too short for the model) ends the call with
``pyo3_runtime.PanicException``, whose string form is the message each function lists under
"Raises". It derives from ``BaseException``, not ``Exception``: catch it with
``except BaseException as error`` and check ``type(error).__name__ == "PanicException"``.
Nothing of the call survives and the module stays usable.

The examples run as written after ``import numpy as np`` and ``from lumetra._core import *``;
the test suite checks their output against the compiled module (``...`` stands for further
digits).
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
    """ETS state-space filter: one-step forecasts, errors and final states.

    Runs the exponential smoothing recursion over `y` from the given initial states. At
    step t, with level l, trend b, season index j = t mod `period` and s = S[j] (s = 0
    without season):

    =========== ===================== ================== ==================
    trend       forecast, season 1    season 2           no season
    =========== ===================== ================== ==================
    0           l + s                 l * s              l
    1 or 2      (l + phi*b) + s       (l + phi*b) * s    l + phi*b
    3 (other)   l*b + s               (l*b) * s          l*b
    =========== ===================== ================== ==================

    then, with e = y[t] - yhat, B = l + phi*b (for every trend code) and eps = 1e-10::

        level   additive error:        B + alpha*e   (B + alpha*e/(s + eps) with season 2)
                multiplicative error:  B * (1 + alpha*e/(yhat + eps))
                then clamped to [-1e15, 1e15]
        trend   code 1, 2:             b = phi*b + beta*(l_new - l_old)
                code 3:                b = b * (l_new/(l_old + eps))**beta
                other codes:           b unchanged
        season  code 1:                S[j] = s + gamma*e
                code 2:                S[j] = s + gamma*e/(B + eps)          additive error
                                       S[j] = s * (1 + gamma*e/(yhat + eps)) multiplicative
                                       then raised to at least 1e-6 (also when read)

    The additive trend update, the multiplicative trend and the multiplicative error with
    an additive season differ from the textbook ETS forms; the README's section "How the
    recursions relate to textbook forms" shows each difference.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series; may be empty.
    level0, trend0 : float
        Initial level and trend (a trend near 1 for the multiplicative trend 3).
    seasonal0 : ndarray of float64, shape (m0,)
        Initial seasonal coefficients; ``seasonal0[0]`` is the one the first step uses. Needs
        at least `period` entries when a season is used (or at least n). Not read without
        a season; copied, never written.
    alpha, beta, gamma : float
        Smoothing weights of level, trend and season, usually in [0, 1].
    phi : float
        Damping factor, usually in (0.8, 1]; 1 for an undamped trend.
    period : int
        Season length p >= 1 (1 without a season).
    error_type : int
        0 additive, any other value multiplicative.
    trend_type : int
        0 none, 1 or 2 additive (damped by `phi`), 3 multiplicative; other values forecast as
        3 but keep b at `trend0`.
    seasonal_type : int
        1 additive, 2 multiplicative, any other value none.

    Returns
    -------
    fitted : ndarray of float64, shape (n,)
        The one-step forecasts yhat[t].
    errors : ndarray of float64, shape (n,)
        y[t] - yhat[t].
    level, trend : float
        The states after the last step (`level0`, `trend0` for an empty `y`).
    seasonal : ndarray of float64, shape (m0,)
        S after the last step, in index order (not rotated): the next step would use
        index n mod `period`.

    Raises
    ------
    PanicException
        "attempt to calculate the remainder with a divisor of zero": `period` is 0 and `y`
        is not empty, whatever the seasonal code.
    PanicException
        "index out of bounds: the len is <m0> but the index is <m0>": seasonal code 1 or 2,
        `seasonal0` shorter than `period` and longer series than `seasonal0`.

    See Also
    --------
    ets_loglik : the likelihood of the same errors.
    batch_ets_filter : the same for many series in one call.

    Examples
    --------
    Simple smoothing as the level-only model (codes 0, 0, 0):

    >>> ets_filter(np.array([1.0, 2.0, 3.0]), 1.0, 0.0, np.empty(0),
    ...            0.5, 0.0, 0.0, 1.0, 1, 0, 0, 0)
    (array([1. , 1. , 1.5]), array([0. , 1. , 1.5]), 2.25, 0.0, array([], dtype=float64))

    A damped additive trend with an additive season of two:

    >>> fitted, errors, level, trend, seasonal = ets_filter(
    ...     np.arange(1.0, 9.0), 0.0, 1.0, np.array([1.0, -1.0]), 0.5, 0.1, 0.2, 0.9, 2, 0, 2, 1)
    >>> errors[:3]
    array([-0.9      ,  1.6995   , -0.8887225])
    >>> round(level, 6), round(trend, 6), seasonal
    (7.909653, 1.000761, array([ 0.43378204, -0.11465473]))
    >>> ets_filter(np.array([1.0]), 1.0, 0.0, np.empty(0), 0.5, 0.0, 0.0, 1.0, 0, 0, 0, 0)
    Traceback (most recent call last):
    pyo3_runtime.PanicException: attempt to calculate the remainder with a divisor of zero
    """

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
    """Minus twice the concentrated Gaussian log-likelihood of the ETS one-step errors.

    Runs the recursion of `ets_filter` (same arguments, same arithmetic, the same errors
    bit for bit) and sums, over t = 0 .. n-1::

        additive error:        Q = sum(e**2)
        multiplicative error:  Q = sum((e / (|yhat| + 1e-10))**2),  L = sum(ln(max(|yhat|, 1e-10)))

    and returns, with N = n::

        V = N * (ln(Q * 2*pi / N) + 1)          additive error
        V = 2*L + N * (ln(Q * 2*pi / N) + 1)    multiplicative error

    the objective that ETS fitting minimises. It equals -2 times statsmodels' ``ETSModel``
    log-likelihood for the same recursion.

    Parameters
    ----------
    y, level0, trend0, seasonal0, alpha, beta, gamma, phi, period, error_type, trend_type, seasonal_type
        Exactly as for `ets_filter`.

    Returns
    -------
    float
        V; NaN for an empty `y`, -inf (plus 2L) for a perfect fit.

    Raises
    ------
    PanicException
        "attempt to calculate the remainder with a divisor of zero": `period` is 0 and `y`
        is not empty.
    PanicException
        "index out of bounds: the len is <m0> but the index is <m0>": seasonal code 1 or 2
        with `seasonal0` shorter than `period` and than `y`.

    See Also
    --------
    ets_filter : the errors themselves and the final states.

    Examples
    --------
    >>> y = np.array([1.0, 2.0, 3.0])            # errors 0, 1, 1.5: Q = 3.25
    >>> ets_loglik(y, 1.0, 0.0, np.empty(0), 0.5, 0.0, 0.0, 1.0, 1, 0, 0, 0)
    8.75375932224...
    >>> float(3 * (np.log(3.25 * 2 * np.pi / 3) + 1))
    8.75375932224...
    >>> ets_loglik(np.empty(0), 1.0, 0.0, np.empty(0), 0.5, 0.0, 0.0, 1.0, 1, 0, 0, 0)
    nan
    """

def theta_decompose(y: _Array, theta: _Real) -> _Array:
    """The theta line: the series mixed with a straight line drawn from its end points.

    With n = len(y)::

        line[i] = y[0] + ((i + 1) / n) * (y[n-1] - y[0])
        out[i]  = theta * y[i] + (1 - theta) * line[i]

    The line rises from y[0] in n equal steps and reaches y[n-1] at the last index (at
    index 0 it stands one step above y[0]); it is not a least-squares line.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series; may be empty.
    theta : float
        Weight of the series: 0 gives the line, 1 the series, 2 doubles its local curvature.

    Returns
    -------
    ndarray of float64, shape (n,)
        The theta line.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    Examples
    --------
    >>> y = np.array([1.0, 2.0, 4.0, 7.0])
    >>> theta_decompose(y, 0.0)
    array([2.5, 4. , 5.5, 7. ])
    >>> theta_decompose(y, 2.0)
    array([-0.5,  0. ,  2.5,  7. ])
    """

def arima_css(y: _Array, ar: _Array, ma: _Array, d: _Count) -> float:
    """ARIMA(p, d, q) conditional-sum-of-squares score (n - m) * ln(SS / (n - m)).

    Differences `y` `d` times into w (length n), then, with m = max(p, q) and the
    residuals e[0] .. e[m-1] fixed at 0::

        e[t] = w[t] - sum_k ar[k] * w[t-1-k] - sum_k ma[k] * e[t-1-k],   t = m .. n-1
        SS   = e[m]**2 + ... + e[n-1]**2

    that is the model w[t] = sum ar * w + sum ma * e + e[t] (moving-average terms with a
    plus sign), without mean or intercept.

    Parameters
    ----------
    y : ndarray of float64, shape (N,)
        The series, undifferenced.
    ar : ndarray of float64, shape (p,)
        Autoregressive coefficients, ``ar[0]`` for lag 1; may be empty.
    ma : ndarray of float64, shape (q,)
        Moving-average coefficients, ``ma[0]`` for lag 1; may be empty.
    d : int
        Order of differencing, usually 0 to 2.

    Returns
    -------
    float
        (n - m) * ln(SS / (n - m)); the largest finite double 1.7976931348623157e308 when
        n <= m (nothing to score), -inf when SS = 0.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    See Also
    --------
    css_objective : the raw sum of squares without differencing.

    Examples
    --------
    >>> y = np.array([1.0, 2.0, 4.0, 7.0])
    >>> arima_css(y, np.empty(0), np.empty(0), 1)       # w = [1, 2, 3], 3 ln(14/3)
    4.62133512284...
    >>> arima_css(y, np.array([0.5]), np.empty(0), 0)   # residuals 1.5, 3, 5
    7.47548127789...
    >>> arima_css(y, np.empty(0), np.empty(0), 4)       # nothing left to score
    1.7976931348623157e+308
    """

def css_objective(y: _Array, ar_coefs: _Array, ma_coefs: _Array) -> float:
    """Conditional sum of squared ARMA residuals of the series as passed.

    With m = max(p, q, 1) and e[0] .. e[m-1] fixed at 0::

        e[t] = y[t] - sum_k ar_coefs[k] * y[t-1-k] - sum_k ma_coefs[k] * e[t-1-k]
        SS   = e[m]**2 + ... + e[n-1]**2

    No differencing, no mean removal, no logarithm; the first observation never counts.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The (already differenced) series.
    ar_coefs : ndarray of float64, shape (p,)
        Autoregressive coefficients, ``ar_coefs[0]`` for lag 1; may be empty.
    ma_coefs : ndarray of float64, shape (q,)
        Moving-average coefficients, ``ma_coefs[0]`` for lag 1; may be empty.

    Returns
    -------
    float
        SS; 0.0 when n <= m.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    Notes
    -----
    A multiplicative seasonal MA model is scored here by passing the expanded polynomial:
    (1 + theta B)(1 + Theta B**12) gives ``ma_coefs`` with theta at lag 1, Theta at lag 12
    and theta * Theta at lag 13.

    Examples
    --------
    >>> y = np.array([1.0, 2.0, 4.0, 7.0])
    >>> css_objective(y, np.array([0.5]), np.empty(0))   # residuals 1.5, 3, 5
    36.25
    >>> css_objective(y, np.empty(0), np.array([0.5]))   # residuals 2, 3, 5.5
    43.25
    >>> css_objective(y, np.empty(0), np.empty(0))       # 2**2 + 4**2 + 7**2
    69.0
    """

def seasonal_css_objective(
    y: _Array, ar_coefs: _Array, ma_coefs: _Array, sar_coefs: _Array, sma_coefs: _Array, m: _Count
) -> float:
    """Conditional sum of squared residuals of an additive seasonal ARMA with season m.

    With s0 = max(p, q, P*m, Q*m) (at least 1) and e[t] = 0 before s0::

        e[t] = y[t] - sum_k ar_coefs[k]  * y[t-1-k]   - sum_j sar_coefs[j] * y[t-(j+1)*m]
                    - sum_k ma_coefs[k]  * e[t-1-k]   - sum_j sma_coefs[j] * e[t-(j+1)*m]
        SS   = e[s0]**2 + ... + e[n-1]**2

    The seasonal and non-seasonal polynomials are added, not multiplied: there is no cross
    term such as ar[0] * sar[0] * y[t-1-m], so this is not the multiplicative SARIMA model
    (for instance of the airline model (0,1,1)(0,1,1)12). Score that one with
    `css_objective` and the expanded polynomial.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series, already differenced as the model needs.
    ar_coefs, ma_coefs : ndarray of float64
        Non-seasonal coefficients, index k for lag k + 1; may be empty.
    sar_coefs, sma_coefs : ndarray of float64
        Seasonal coefficients, index j for lag (j + 1) * m; may be empty.
    m : int
        Season length (12 for monthly data). With 0 the seasonal terms use lag 0.

    Returns
    -------
    float
        SS; 0.0 when s0 >= n.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    Examples
    --------
    >>> y = np.array([1.0, 2.0, 4.0, 7.0, 11.0, 16.0])
    >>> none = np.empty(0)
    >>> seasonal_css_objective(y, none, none, np.array([0.5]), none, 2)   # 3.5, 6, 9, 12.5
    285.5
    >>> half = np.array([0.5])                                            # no cross term
    >>> seasonal_css_objective(y, half, none, half, none, 2)              # 2.5, 4, 5.5, 7
    101.5
    """

def ses_sse(y: _Array, alpha: _Real) -> float:
    """Sum of squared one-step errors of simple exponential smoothing.

    The level starts at the first observation::

        l[0] = y[0],   l[t] = (1 - alpha) * l[t-1] + alpha * y[t]
        SSE  = sum over t = 1 .. n-1 of (y[t] - l[t-1])**2

    the objective an optimiser minimises over `alpha`.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series, at least one value.
    alpha : float
        Smoothing weight, usually in (0, 1].

    Returns
    -------
    float
        The sum of squared errors; 0.0 for one observation.

    Raises
    ------
    PanicException
        "ndarray: index out of bounds": `y` is empty.

    See Also
    --------
    ses_filter : the levels themselves.

    Examples
    --------
    >>> ses_sse(np.array([1.0, 2.0, 3.0]), 0.5)    # (2 - 1)**2 + (3 - 1.5)**2
    3.25
    >>> ses_sse(np.empty(0), 0.5)
    Traceback (most recent call last):
    pyo3_runtime.PanicException: ndarray: index out of bounds
    """

def ses_filter(y: _Array, alpha: _Real) -> _Array:
    """Smoothed levels of simple exponential smoothing, one per observation.

    ``out[0] = y[0]`` and ``out[t] = alpha * y[t] + (1 - alpha) * out[t-1]``: the level
    after absorbing y[t], so out[t-1] is the forecast of y[t] (the levels `ses_sse` uses).

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series, at least one value.
    alpha : float
        Smoothing weight, usually in (0, 1].

    Returns
    -------
    ndarray of float64, shape (n,)
        The levels.

    Raises
    ------
    PanicException
        "ndarray: index out of bounds": `y` is empty.

    Examples
    --------
    >>> ses_filter(np.array([1.0, 2.0, 3.0]), 0.5)
    array([1.  , 1.5 , 2.25])
    """

def batch_ets_filter(
    y_list: Sequence[_Array] | _Array, params_list: Sequence[_EtsParams]
) -> list[_EtsResult]:
    """`ets_filter` over many series, one parameter tuple of 11 items per series.

    Result k is exactly (bit for bit) ``ets_filter(y_list[k], *params_list[k])``, for
    k < min(len(y_list), len(params_list)). Every item of both sequences is converted
    before any series is filtered.

    Parameters
    ----------
    y_list : sequence of ndarray of float64, or a 2-d float64 array
        The series; the rows of a 2-d array are the series.
    params_list : sequence of tuple
        Per series (level0, trend0, seasonal0, alpha, beta, gamma, phi, period, error_type,
        trend_type, seasonal_type), as for `ets_filter`; ``seasonal0`` may be a list, a
        tuple or a float64 array. Each must be a tuple of exactly 11 items.

    Returns
    -------
    list of tuple
        One (fitted, errors, level, trend, seasonal) tuple per series. The arrays of one
        call share one block of memory, which is released when the last of them is: keep
        a copy (``fitted.copy()``) rather than a few arrays of a large batch.

    Raises
    ------
    TypeError
        "argument 'params_list': expected tuple of length 11, but got tuple of length <k>",
        "argument 'params_list': 'list' object cannot be converted to 'PyTuple'" (a list
        in place of a tuple), or "argument 'y_list': '<type>' object cannot be converted to
        'PyArray<T, D>'" for a series that is not a float64 array.
    PanicException
        The failures of `ets_filter`, for any series; the whole call fails.

    Examples
    --------
    >>> series = np.array([[1.0, 2.0, 3.0], [3.0, 2.0, 1.0]])
    >>> params = [(1.0, 0.0, [], 0.5, 0.0, 0.0, 1.0, 1, 0, 0, 0)] * 2
    >>> [errors for _, errors, _, _, _ in batch_ets_filter(series, params)]
    [array([0. , 1. , 1.5]), array([ 2.,  0., -1.])]
    """

def dot_objective(
    y: _Array, intercept: _Real, slope: _Real, theta: _Real, alpha: _Real, drift: _Real
) -> float:
    """Sum of squared one-step errors of the DOT theta recursion.

    With the trend line T[i] = intercept + slope * i::

        z[i]  = (1 - theta) * T[i] + theta * y[i]            theta line
        level = z[0]
        e[i]  = y[i] - 0.5 * (drift*i + level + T[i])        i = 1 .. n-1, level before update
        level = (1 - alpha) * level + alpha * z[i]
        SSE   = e[1]**2 + ... + e[n-1]**2

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series.
    intercept, slope : float
        The trend line, usually from a regression on the index.
    theta : float
        Weight of the observations in the theta line, usually 1 to 3.
    alpha : float
        Smoothing weight of the level, usually in (0, 1].
    drift : float
        Added to the level forecast as drift * i.

    Returns
    -------
    float
        SSE; 0.0 when n < 2.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    See Also
    --------
    dot_residuals : the errors themselves and the final level.

    Examples
    --------
    >>> dot_objective(np.array([1.0, 2.0, 4.0, 7.0]), 0.0, 2.0, 2.0, 0.5, 0.0)   # 0, 1, 2.5
    7.25
    """

def dot_residuals(
    y: _Array, intercept: _Real, slope: _Real, theta: _Real, alpha: _Real, drift: _Real
) -> tuple[_Array, float]:
    """One-step errors of the DOT theta recursion (from index 1) and the final level.

    The recursion of `dot_objective`, whose result is the sum of squares of these errors.

    Parameters
    ----------
    y, intercept, slope, theta, alpha, drift
        As for `dot_objective`.

    Returns
    -------
    errors : ndarray of float64, shape (n - 1,)
        e[1] .. e[n-1].
    level : float
        The level after absorbing z[n-1], from which forecasts continue.
        (empty array, 0.0) when n < 2.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    Examples
    --------
    >>> dot_residuals(np.array([1.0, 2.0, 4.0, 7.0]), 0.0, 2.0, 2.0, 0.5, 0.0)
    (array([0. , 1. , 2.5]), 5.5)
    >>> dot_residuals(np.array([1.0, 2.0, 4.0, 7.0]), 0.0, 2.0, 2.0, 0.5, 1.0)   # drift
    (array([-0.5,  0. ,  1. ]), 5.5)
    """

def ces_nonseasonal_sse(y: _Array, a0_real: _Real, a0_imag: _Real) -> float:
    """Sum of squared one-step errors of complex exponential smoothing.

    With a = a0_real + i * a0_imag, l = y[0], p = 0 and for t = 1 .. n-1::

        e  = y[t] - l
        l' = a0_imag * p + ((1 - a0_real) * l + a0_real * y[t])
        p' = (1 - a0_real) * p + a0_imag * e
        SSE = sum(e**2)

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series.
    a0_real, a0_imag : float
        Real and imaginary parts of the complex smoothing parameter. The states forget
        their start when (1 - a0_real)**2 + a0_imag**2 < 1 (for example 1.3 and 0.8).

    Returns
    -------
    float
        SSE; 0.0 when n <= 1.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    Examples
    --------
    >>> ces_nonseasonal_sse(np.array([1.0, 2.0, 4.0, 7.0]), 0.5, 0.25)   # 24 + 201/256
    24.78515625
    """

def ces_seasonal_sse(
    y: _Array, a0_real: _Real, a0_imag: _Real, gamma: _Real, seasonal_init: _Array, m: _Count
) -> float:
    """Sum of squared one-step errors of complex exponential smoothing with additive seasons.

    One seasonal state S[j] per phase j = t mod m, from a copy of `seasonal_init`;
    l = y[0] - S[0], p = 0 and for t = 1 .. n-1, with s = S[j]::

        e    = y[t] - (l + s)
        p'   = (1 - a0_real) * p + a0_imag * ((y[t] - s) - l)
        l'   = a0_imag * p + ((1 - a0_real) * l + a0_real * (y[t] - s))
        S[j] = s + gamma * e
        SSE  = sum(e**2)

    With m = 1, ``seasonal_init = [0]`` and gamma = 0 it equals `ces_nonseasonal_sse`.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series.
    a0_real, a0_imag : float
        The complex smoothing parameter, as for `ces_nonseasonal_sse`.
    gamma : float
        Seasonal smoothing weight, usually in [0, 1].
    seasonal_init : ndarray of float64, shape (L,)
        Initial seasonal states, entry j for phase j; needs L >= m (entries past m - 1 are
        not used).
    m : int
        Season length.

    Returns
    -------
    float
        SSE; 0.0 when m = 0 or n <= 1.

    Raises
    ------
    PanicException
        "index out of bounds: the len is <L> but the index is <j>": `seasonal_init` has
        fewer than `m` entries and the series reaches phase L (j = L; len 0 and index 0
        for an empty `seasonal_init`).

    Examples
    --------
    >>> y = np.array([1.0, 2.0, 4.0, 7.0])
    >>> ces_seasonal_sse(y, 0.5, 0.25, 0.1, np.array([0.5, -0.5]), 2)
    29.855625...
    >>> ces_seasonal_sse(y, 0.5, 0.25, 0.1, np.array([0.5, -0.5]), 3)
    Traceback (most recent call last):
    pyo3_runtime.PanicException: index out of bounds: the len is 2 but the index is 2
    """

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
    """Gaussian negative log-likelihood (no constant) of GARCH(1,1), optional AR(1) mean.

    With s2 = init_sigma2 and for t = 0 .. n-1::

        mean = mu + ar1 * (y[t-1] - mu)    if use_ar1 and t >= 1, else mu
        e    = y[t] - mean
        h    = max(s2, 1e-20)
        ll  += (ln(h) + e**2 / h) * 0.5
        s2   = beta_g * s2 + (omega + e * (alpha_g * e))     (unfloored)

    The result plus (n/2) ln(2 pi) is the negative log-likelihood: it equals arch's
    ``-loglikelihood - (n/2) ln(2 pi)`` when both start from the same variance (arch
    starts from omega + (alpha + beta) * backcast).

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        Returns (or any series); may be empty.
    mu : float
        Constant mean.
    omega, alpha_g, beta_g : float
        Variance constant (> 0), shock weight and persistence, usually alpha_g + beta_g < 1.
    init_sigma2 : float
        The variance of the first observation, often the sample variance.
    use_ar1 : bool
        Whether the mean has the AR(1) term.
    ar1 : float
        AR(1) coefficient, |ar1| < 1; not used when `use_ar1` is false.

    Returns
    -------
    float
        ll; 0.0 for an empty `y`.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind (`use_ar1` must be a bool, not 0 or 1);
        no value makes the call fail.

    Examples
    --------
    >>> y = np.array([1.0, -1.0, 2.0])
    >>> garch_filter(y, 0.0, 0.1, 0.1, 0.8, 1.0, False, 0.0)   # variance stays 1
    3.0
    >>> garch_filter(y, 0.0, 0.1, 0.1, 0.8, 1.0, True, 0.5)
    4.4616692956...
    """

def egarch_filter(
    y: _Array,
    mu: _Real,
    omega: _Real,
    alpha_e: _Real,
    beta_e: _Real,
    gamma: _Real,
    init_log_sigma2: _Real,
) -> float:
    """Gaussian negative log-likelihood (no constant) of EGARCH(1,1).

    The state is the log-variance x = init_log_sigma2; for t = 0 .. n-1::

        s2  = max(exp(x), 1e-20)
        e   = y[t] - mu,   z = e / max(sqrt(s2), 1e-10)
        ll += (x + e**2 / s2) * 0.5
        x   = beta_e * x + (omega + (alpha_e * z + gamma * (|z| - sqrt(2/pi))))
        x   = min(max(x, -20), 20)

    `alpha_e` weights the signed shock and `gamma` its size: the reverse of arch, whose
    alpha is the size term and gamma the sign term. The clamp keeps every later variance
    within [exp(-20), exp(20)] (about 2.1e-9 to 4.9e8): for series whose variance is
    smaller than that, rescale the series first, or the likelihood is biased.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        Returns; may be empty.
    mu : float
        Constant mean.
    omega : float
        Constant of the log-variance equation.
    alpha_e : float
        Weight of the signed standardised shock z (the leverage term).
    beta_e : float
        Persistence, usually |beta_e| < 1.
    gamma : float
        Weight of the size effect |z| - sqrt(2/pi).
    init_log_sigma2 : float
        Log-variance of the first observation (not clamped).

    Returns
    -------
    float
        ll; 0.0 for an empty `y`.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    Examples
    --------
    >>> egarch_filter(np.array([1.0, -1.0, 2.0]), 0.0, 0.0, 0.1, 0.9, 0.2, 0.0)
    2.9182033108...
    """

def gjr_garch_filter(
    y: _Array,
    mu: _Real,
    omega: _Real,
    alpha_gjr: _Real,
    beta_gjr: _Real,
    gamma_gjr: _Real,
    init_sigma2: _Real,
) -> float:
    """Gaussian negative log-likelihood (no constant) of GJR-GARCH(1,1).

    As `garch_filter` with the mean mu and the variance update::

        s2 = beta_gjr * s2 + (omega + e * (e * (alpha_gjr + gamma_gjr * [e < 0])))

    so a negative shock adds gamma_gjr * e**2 (arch's GARCH(p=1, o=1, q=1), parameters
    omega, alpha, gamma, beta).

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        Returns; may be empty.
    mu : float
        Constant mean.
    omega, alpha_gjr, beta_gjr : float
        Variance constant, shock weight and persistence.
    gamma_gjr : float
        Extra weight of negative shocks, usually >= 0.
    init_sigma2 : float
        The variance of the first observation.

    Returns
    -------
    float
        ll; 0.0 for an empty `y`.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    Examples
    --------
    >>> gjr_garch_filter(np.array([1.0, -1.0, 2.0]), 0.0, 0.1, 0.1, 0.8, 0.2, 1.0)
    2.7578274450...
    """

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
    """Sum of squared one-step errors of trigonometric seasonal smoothing.

    Level l = y[0], trend b = 0 and h harmonic pairs (A[i], B[i]) = (0, 0); for
    t = 1 .. n-1, with c_i = cos(frequencies[i]) and s_i = sin(frequencies[i])::

        f    = l (+ b with use_trend) + A[0] + ... + A[h-1]
        e    = y[t] - f
        b    = phi * b + beta * e   (use_damping)   or   b + beta * e
        A[i] = (alpha/2) * e + (c_i * A[i] + s_i * B[i])
        B[i] = c_i * B[i] - s_i * A[i]                      (old A[i])
        l    = l + alpha * e
        SSE  = sum(e**2)

    The level update leaves out the trend and the forecast adds b undamped, unlike the
    local linear trend (l + b + alpha*e); see the README's "How the recursions relate to
    textbook forms". No Box-Cox transformation and no ARMA errors.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series, at least one value.
    alpha : float
        Level smoothing weight; alpha/2 smooths the harmonics.
    beta : float
        Trend smoothing weight (with `use_trend`).
    phi : float
        Trend damping (with `use_trend` and `use_damping`).
    use_trend, use_damping : bool
        Whether there is a trend, and whether it is damped.
    frequencies : ndarray of float64
        Angle of each harmonic pair in radians per step, 2 pi k / period.
    total_harmonics : int
        Number h of pairs used; needs h <= len(frequencies).

    Returns
    -------
    float
        SSE; 0.0 for one observation.

    Raises
    ------
    PanicException
        "ndarray: index out of bounds": `y` is empty, or n >= 2 and `total_harmonics` exceeds
        the length of `frequencies`.
    PanicException
        "capacity overflow": `total_harmonics` is 2**60 or more.

    Examples
    --------
    >>> none = np.empty(0)
    >>> tbats_filter(np.array([1.0, 2.0, 4.0]), 0.5, 0.0, 1.0, False, False, none, 0)
    7.25
    >>> tbats_filter(np.array([1.0, 2.0, 4.0, 7.0]), 0.5, 0.25, 1.0, True, False, none, 0)
    18.75390625
    """

def dtsf_distances(
    y: _Array,
    query_norm: _Array,
    w: _Count,
    max_start: _Count,
    normalize: _Flag,
    time_decay: _Real,
    n_total: _Count,
) -> _Array:
    """Time-decayed RMS distance of every window y[s:s+w], s < max_start, to the query.

    For each start s::

        x      = y[s:s+w], z-normalised (population sd, floored at 1e-8) if normalize
        dist   = sqrt(sum((query_norm[:w] - x)**2) / w)
        weight = max(exp(-time_decay * (n_total - s)), 1e-10)
        out[s] = dist / weight

    so older windows look farther away. The query is used as passed (normalise it
    yourself when `normalize` is true).

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series to search.
    query_norm : ndarray of float64
        The query pattern, at least `w` values.
    w : int
        Window length, 1 <= w <= n.
    max_start : int
        Number of candidate starts, at most n - w + 1.
    normalize : bool
        Whether each window is z-normalised before comparison.
    time_decay : float
        Decay rate per step of age, usually >= 0 (0: plain RMS distance).
    n_total : int
        The position ages are counted from, usually len(y).

    Returns
    -------
    ndarray of float64, shape (max_start,)
        The decayed distance of each window.

    Raises
    ------
    PanicException
        "range end index <end> out of range for slice of length <n>": a window runs past
        the end of `y` (`w` > n, end = `w`, or `max_start` > n - w + 1, end = s + `w`).
    PanicException
        "range start index <n+1> out of range for slice of length <n>": `w` = 0 and
        `max_start` > n + 1.
    PanicException
        "ndarray: index out of bounds": `query_norm` has fewer than `w` values.
    PanicException
        "capacity overflow" (`max_start` >= 2**60) or "ndarray: Shape too large, product
        of non-zero axis lengths overflows isize" (`max_start` >= 2**63).

    Examples
    --------
    >>> y = np.array([1.0, 2.0, 3.0, 4.0])
    >>> dtsf_distances(y, np.array([1.0, 2.0]), 2, 3, False, 0.0, 4)
    array([0., 1., 2.])
    >>> dtsf_distances(y, np.array([-1.0, 1.0]), 2, 3, True, 0.0, 4)   # all the same shape
    array([0., 0., 0.])
    """

def dtsf_fit_residuals(y: _Array, w: _Count, n_neighbors: _Count, normalize: _Flag) -> _Array:
    """In-sample one-step residuals of nearest-pattern forecasting (median of k neighbours).

    For each t = w+1 .. n-1 the query is y[t-w:t]; the candidates are the earlier windows
    y[s:s+w], s = 0 .. t-w-1, compared by RMS distance (each z-normalised if `normalize`).
    The forecast of y[t] is the median of y[s+w] over the k = min(n_neighbors, t-w) nearest
    candidates, and ``out[t] = y[t] - median``. Positions 0 .. w hold 0.0.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series.
    w : int
        Window length, >= 1.
    n_neighbors : int
        Number of neighbours k, >= 1.
    normalize : bool
        Whether windows are z-normalised to choose neighbours (the forecast uses raw
        values).

    Returns
    -------
    ndarray of float64, shape (n,)
        The residuals; all zeros when w >= n - 1.

    Raises
    ------
    PanicException
        "partition_at_index index 18446744073709551615 greater than length of slice 1":
        `n_neighbors` is 0 and n >= w + 2.

    Examples
    --------
    >>> y = np.array([1.0, 2.0, 3.0, 4.0, 5.0])
    >>> dtsf_fit_residuals(y, 1, 1, False)
    array([0., 0., 1., 1., 1.])
    >>> dtsf_fit_residuals(y, 1, 2, False)
    array([0. , 0. , 1. , 1.5, 1.5])
    """

def mstl_extract_seasonal(y: _Array, period: _Count) -> _Array:
    """Zero-centred phase means of the series, repeated over its length.

    ``M[j]`` = mean of y[i] over i with i mod period = j (0 for a phase without values);
    the M[j] are centred by their own mean and ``out[i] = M[i mod period]``. Pass a
    detrended series.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The (detrended) series; may be empty.
    period : int
        Season length, >= 1.

    Returns
    -------
    ndarray of float64, shape (n,)
        The seasonal component.

    Raises
    ------
    PanicException
        "attempt to calculate the remainder with a divisor of zero": `period` is 0 and `y`
        is not empty.
    PanicException
        "capacity overflow": `period` is 2**60 or more.

    Examples
    --------
    >>> mstl_extract_seasonal(np.array([1.0, 2.0, 3.0, 4.0]), 2)
    array([-0.5,  0.5, -0.5,  0.5])
    """

def mstl_moving_average(y: _Array, window: _Count) -> _Array:
    """Centred moving average over 2 * (window // 2) + 1 points, shrinking at the ends.

    With h = window // 2, ``out[i]`` is the mean of y[max(0, i-h) : min(n, i+h+1)]: an odd
    window averages `window` points, an even one `window` + 1 with equal weights (no
    half-weighted ends). Near the ends only the existing points are averaged. Computed
    from running sums; a window with a NaN gives NaN there only.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series; may be empty.
    window : int
        Window length; 0 and 1 return `y` (up to rounding).

    Returns
    -------
    ndarray of float64, shape (n,)
        The smoothed series.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    Examples
    --------
    >>> y = np.array([1.0, 2.0, 3.0, 4.0, 5.0])
    >>> mstl_moving_average(y, 3)
    array([1.5, 2. , 3. , 4. , 4.5])
    >>> mstl_moving_average(y, 4)
    array([2. , 2.5, 3. , 3.5, 4. ])
    """

def croston_tsb_filter(
    y: _Array, alpha: _Real, beta: _Real, init_z: _Real, init_d: _Real
) -> tuple[float, float, float]:
    """Croston TSB for intermittent demand: (final size, final probability, SSE).

    With z = init_z, d = init_d and for each y[t]::

        SSE += (y[t] - z * d)**2
        if y[t] > 0:  d = beta + (1 - beta) * d,   z = (1 - alpha) * z + alpha * y[t]
        else:         d = (1 - beta) * d

    The forecast of every future period is z * d.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        Demand per period (0 for none; negative counts as none).
    alpha : float
        Smoothing weight of the demand size, usually in (0, 1).
    beta : float
        Smoothing weight of the demand probability, usually in (0, 1).
    init_z, init_d : float
        Initial size and probability (in [0, 1]).

    Returns
    -------
    z, d, sse : float
        Final size, final probability and the sum of squared errors; (init_z, init_d, 0.0)
        for an empty `y`.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    Examples
    --------
    >>> croston_tsb_filter(np.array([0.0, 0.0, 3.0]), 0.5, 0.5, 2.0, 0.5)   # errors -1, -0.5, 2.75
    (2.5, 0.5625, 8.8125)
    """

def esn_reservoir_update(
    y_norm: _Array,
    w_in_flat: _Array,
    w_flat: _Array,
    reservoir_size: _Count,
    leak_rate: _Real,
    washout: _Count,
) -> tuple[_Array, _Array]:
    """Leaky tanh reservoir states after the washout (flat, row-major) and the final state.

    With N = reservoir_size, W = w_flat read as an N x N row-major matrix and x = 0::

        x = (1 - leak_rate) * x + leak_rate * tanh(y_norm[t] * w_in_flat[:N] + W @ x)

    for t = 0 .. T-1; the states after steps washout .. T-1 are returned.

    Parameters
    ----------
    y_norm : ndarray of float64, shape (T,)
        The (normalised) input series.
    w_in_flat : ndarray of float64
        Input weight of each unit, at least N values.
    w_flat : ndarray of float64
        Reservoir matrix, row-major, at least N * N values (W[i, j] from unit j to i).
    reservoir_size : int
        N, the number of units.
    leak_rate : float
        In (0, 1]; 1 is the plain tanh recursion.
    washout : int
        Number of leading steps whose states are dropped.

    Returns
    -------
    states : ndarray of float64, shape (R * N,)
        R = max(T - washout, 0) states, row r after step washout + r;
        ``states.reshape(R, N)``.
    final : ndarray of float64, shape (N,)
        The state after the last step (zeros when T = 0).

    Raises
    ------
    PanicException
        "ndarray: index out of bounds": T >= 1 and `w_in_flat` has fewer than N values or
        `w_flat` fewer than N * N.
    PanicException
        "capacity overflow": the state block would not fit in memory's address range.

    Examples
    --------
    >>> esn_reservoir_update(np.array([0.5, -0.5]), np.array([1.0]), np.array([0.0]), 1, 1.0, 0)
    (array([ 0.46211716, -0.46211716]), array([-0.46211716]))
    """

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
    """Weighted combination of theta lines: fitted values at times 0 to n - 1.

    Line i has the trend T_i(t) = intercepts[i] + slopes[i] * t and the levels L_i(t):
    its piece of `filtered_flat` (``filtered_lengths[i]`` values, the pieces one after
    another) and ``last_levels[i]`` after the piece. Then::

        f[t] = sum over lines with thetas[i] == 0  of weights[i] * T_i(t)
             + sum over the other lines             of weights[i] * (T_i(t) + L_i(t)) / 2

    The value of a nonzero theta does not matter; the weights are not normalised.

    Parameters
    ----------
    n : int
        Number of time points.
    thetas : ndarray of float64, shape (K,)
        One per line; defines K.
    intercepts, slopes, weights : ndarray of float64
        One per line (at least K values).
    filtered_flat : ndarray of float64
        The lines' filtered levels, concatenated.
    filtered_lengths : ndarray of int64
        The length of each line's piece (at least K values).
    last_levels : ndarray of float64
        Each line's level after its piece.

    Returns
    -------
    ndarray of float64, shape (n,)
        The fitted values; zeros when K = 0.

    Raises
    ------
    PanicException
        "ndarray: index out of bounds": a per-line array shorter than K, pieces that run
        past the end of `filtered_flat`, or a missing ``last_levels[i]`` for a time past
        line i's piece.

    Examples
    --------
    >>> ones = np.array([1.0, 1.0])
    >>> four_theta_fitted(4, np.array([0.0, 2.0]), ones, ones, ones / 2, np.array([1.0, 2.0, 3.0]),
    ...                   np.array([0, 3]), np.array([0.0, 10.0]))
    array([1. , 2. , 3. , 5.5])
    """

def four_theta_deseasonalize(y: _Array, period: _Count) -> tuple[_Array, bool, _Array]:
    """Classical decomposition: (seasonal indices, multiplicative?, adjusted series).

    Multiplicative when every (non-NaN) value is positive, else additive. Moving averages
    over `period` points a[j] (centred on j + (period - 1) // 2, no two-stage average for
    an even period) give per-phase means of y / a (multiplicative, windows with a > 0) or
    y - a (additive); the indices are normalised to mean 1 (then floored at 0.01) or to
    sum 0, and the series is divided by or reduced by them. A phase that no window reaches
    gets the neutral index (1.0 or 0.0).

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series.
    period : int
        Season length, >= 1; periods beyond n + 1 act as n + 1 (no window).

    Returns
    -------
    indices : ndarray of float64, shape (period,)
        Index of each phase, phase 0 being that of y[0].
    multiplicative : bool
        Which mode was chosen.
    adjusted : ndarray of float64, shape (n,)
        The seasonally adjusted series.

    Raises
    ------
    PanicException
        "attempt to calculate the remainder with a divisor of zero": `period` is 0 and `y`
        is not empty.
    PanicException
        "capacity overflow": `period` is 2**60 or more.

    Examples
    --------
    >>> four_theta_deseasonalize(np.array([1.0, 3.0, 1.0, 3.0, 1.0, 3.0]), 2)
    (array([0.5, 1.5]), True, array([2., 2., 2., 2., 2., 2.]))
    >>> four_theta_deseasonalize(np.array([0.0, 2.0, 0.0, 2.0, 0.0, 2.0]), 2)
    (array([-1.,  1.]), False, array([1., 1., 1., 1., 1., 1.]))
    """

def dot_hybrid_objective(y: _Array, theta_line0: _Array, theta: _Real, is_additive: _Flag) -> float:
    """Mean absolute error of the hybrid theta model with its own smoothing-weight search.

    Mixes ``c = theta * y + (1 - theta) * theta_line0`` (additive) or
    ``c = y**theta * theta_line0**(1 - theta)`` (multiplicative, values floored at 1e-10),
    finds the smoothing weight of c by 50 golden-section steps on [0.001, 0.999] (on the
    simple-smoothing SSE), smooths c into s and recombines with w = 1 / max(theta, 1)::

        f = w * s + (1 - w) * theta_line0      or      s**w * theta_line0**(1 - w)
        result = mean(|y - f|)

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series.
    theta_line0 : ndarray of float64
        The line to mix with, at least n values.
    theta : float
        Mixing coefficient, usually 1 to 3.
    is_additive : bool
        Additive (True) or multiplicative (False) mixing.

    Returns
    -------
    float
        The mean absolute error; the largest finite double 1.7976931348623157e308 when
        n < 3.

    Raises
    ------
    PanicException
        "ndarray: index out of bounds": n >= 3 and `theta_line0` is shorter than `y`.

    Examples
    --------
    >>> five = np.full(4, 5.0)
    >>> dot_hybrid_objective(five, five, 2.0, True)
    0.0
    >>> dot_hybrid_objective(np.array([1.0, 2.0, 4.0, 7.0]), np.array([1.0, 3.0, 5.0, 7.0]), 2.0, True)
    0.00075025001...
    """

def sample_entropy(y: _Array, m: _Count, r: _Real) -> float:
    """Sample entropy -ln(A / B) with template length m and absolute tolerance r.

    Two templates match when every pair of values differs by at most r (Chebyshev
    distance <= r). B counts the matching pairs i < j of m-templates starting at
    0 .. n-m-1, A those of (m+1)-templates starting at 0 .. n-m-2 (one fewer start than
    Richman and Moorman's n - m).

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series.
    m : int
        Template length, usually 2.
    r : float
        Tolerance in the units of `y`, usually 0.1 to 0.25 times its standard deviation.

    Returns
    -------
    float
        -ln(A / B); 0.0 when n < 10, r < 1e-10, m >= n, or A or B is 0 (where other
        packages return inf or NaN).

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    Examples
    --------
    >>> alternating = np.array([0.0, 1.0] * 5)
    >>> sample_entropy(alternating, 2, 0.5)        # A = 9, B = 12: ln(4/3)
    0.2876820724517809
    >>> sample_entropy(np.arange(10.0), 1, 0.5)    # no match: A = 0
    0.0
    """

def approximate_entropy(y: _Array, m: _Count, r: _Real) -> float:
    """Approximate entropy max(phi(m) - phi(m + 1), 0) with absolute tolerance r.

    For template length L with N = n - L + 1 templates, C_i counts the templates within
    Chebyshev distance r of template i (itself included) and
    ``phi(L) = mean(ln(C_i / N + 1e-20))``.

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series.
    m : int
        Template length, usually 2.
    r : float
        Tolerance in the units of `y`, usually 0.2 times its standard deviation.

    Returns
    -------
    float
        The entropy, >= 0; 0.0 when n <= 9 or r < 1e-10.

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    Examples
    --------
    >>> approximate_entropy(np.array([0.0, 1.0] * 5), 2, 0.5)
    0.00618560396...
    """

def hurst_exponent(y: _Array, max_lag: _Count) -> float:
    """Rescaled-range Hurst exponent over lags 2 to max_lag, clamped to [0, 1].

    For each lag L = 2 .. K, K = min(n // 4, max_lag), the series is cut into n // L
    segments; each segment's range of cumulative deviations from its mean is divided by
    its sample standard deviation (segments with sd <= 1e-10 are skipped) and the ratios
    averaged. The result is the least-squares slope of ln(mean R/S) against ln(L),
    clamped to [0, 1] (nolds' ``hurst_rs`` with ``fit="poly"``, ``corrected=False``,
    ``nvals=range(2, K + 1)`` gives the unclamped slope).

    Parameters
    ----------
    y : ndarray of float64, shape (n,)
        The series, at least 20 values for an estimate.
    max_lag : int
        Largest lag, >= 3 for an estimate.

    Returns
    -------
    float
        The exponent in [0, 1]; 0.5 when it cannot be estimated (n < 20, K < 3, a constant
        series).

    Raises
    ------
    TypeError, OverflowError
        Only for arguments of the wrong kind; no value makes the call fail.

    Examples
    --------
    >>> hurst_exponent(np.array([0.0, 1.0] * 10), 5)
    0.61662197801...
    >>> hurst_exponent(np.arange(40.0), 10)      # slope above 1, clamped
    1.0
    """
