"""The models of the demonstration, fitted with lumetra._core's objectives and filters.

Every function here is a pure computation on the series it is given: the report module
times the steps and prints them. Forecasts run each model's own recursion on from its
final state with every future error set to zero.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np
from numpy.typing import NDArray

import lumetra._core as core

from .optimize import Minimum, bounded, golden_section, nelder_mead, unbounded

Array = NDArray[np.float64]

PERIOD = 12  # months per season
HORIZON = 24  # months forecast
HYBRID_THETAS = (1.0, 1.5, 2.0, 3.0)
MONTH_NAMES = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")


def mape(actual: Array, fitted: Array) -> float:
    """Mean absolute percentage error over the positions where `fitted` is finite."""
    mask = np.isfinite(fitted)
    return float(np.mean(np.abs(actual[mask] - fitted[mask]) / np.abs(actual[mask])) * 100.0)


def reseasonalise(adjusted: Array, indices: Array, start: int) -> Array:
    """Multiply a seasonally adjusted path starting at time `start` by its months' indices."""
    phases = (start + np.arange(adjusted.size)) % indices.size
    result: Array = adjusted * indices[phases]
    return result


def one_step_levels(levels: Array, first: float) -> Array:
    """Levels known before each observation: `first`, then the level after each previous one."""
    return np.concatenate(([first], levels[:-1]))


# --- seasonal structure ------------------------------------------------------------


@dataclass(frozen=True)
class Seasonal:
    indices: Array  # multiplicative index of each month (four-theta decomposition)
    multiplicative: bool  # the mode four_theta_deseasonalize chose
    adjusted: Array  # the series divided by its months' indices
    log_trend: Array  # 12-month centred moving average of the log series
    log_seasonal: Array  # zero-centred monthly pattern of the detrended log series
    explained: float  # share of the detrended log variance the pattern explains


def seasonal_structure(y: Array) -> Seasonal:
    indices, multiplicative, adjusted = core.four_theta_deseasonalize(y, PERIOD)
    z = np.log(y)
    log_trend = core.mstl_moving_average(z, PERIOD)
    detrended = z - log_trend
    log_seasonal = core.mstl_extract_seasonal(detrended, PERIOD)
    explained = 1.0 - float(np.var(detrended - log_seasonal) / np.var(detrended))
    return Seasonal(indices, multiplicative, adjusted, log_trend, log_seasonal, explained)


# --- simple exponential smoothing --------------------------------------------------


@dataclass(frozen=True)
class Ses:
    alpha: float
    search: Minimum
    fitted: Array  # one-step forecasts of the series (reseasonalised)
    forecast: Array


def ses(y: Array, seasonal: Seasonal) -> Ses:
    """SES of the seasonally adjusted series; the weight minimises ses_sse."""
    adjusted = seasonal.adjusted
    search = golden_section(lambda a: core.ses_sse(adjusted, a), 0.0, 1.0)
    alpha = search.x[0]
    levels = core.ses_filter(adjusted, alpha)
    fitted = reseasonalise(one_step_levels(levels, adjusted[0]), seasonal.indices, 0)
    fitted[0] = np.nan  # the first observation only seeds the level
    forecast = reseasonalise(np.full(HORIZON, levels[-1]), seasonal.indices, y.size)
    return Ses(alpha, search, fitted, forecast)


# --- ETS -----------------------------------------------------------------------------


@dataclass(frozen=True)
class EtsModel:
    name: str
    error_type: int  # 0 additive, otherwise multiplicative
    trend_type: int  # 0 none, 1 or 2 additive damped, 3 multiplicative
    seasonal_type: int  # 1 additive, 2 multiplicative, otherwise none


ETS_MODELS = (EtsModel("ETS(A,Ad,A)", 0, 1, 1), EtsModel("ETS(M,Ad,M)", 1, 1, 2))


@dataclass(frozen=True)
class EtsFit:
    model: EtsModel
    params: tuple[float, float, Array, float, float, float, float]  # level0 .. phi
    search: Minimum
    fitted: Array
    level: float
    trend: float
    seasonal: Array
    forecast: Array

    @property
    def minus_twice_loglik(self) -> float:
        return self.search.value


def ets_params(
    u: Sequence[float], start: tuple[float, float]
) -> tuple[float, float, float, float, float, float]:
    """(level0, trend0, alpha, beta, gamma, phi) from the optimiser's unconstrained point.

    The weights obey the usual ETS region: 0 < beta < alpha < 1, 0 < gamma < 1 - alpha,
    and the damping stays within 0.8 .. 0.98.
    """
    alpha = bounded(u[0], 1e-4, 0.9999)
    beta = alpha * bounded(u[1], 1e-3, 0.999)
    gamma = (1.0 - alpha) * bounded(u[2], 1e-3, 0.999)
    phi = bounded(u[3], 0.8, 0.98)
    return start[0] + 10.0 * u[4], start[1] + u[5], alpha, beta, gamma, phi


def ets_initial_states(y: Array, model: EtsModel) -> tuple[float, float, Array]:
    """Level, trend and seasonal states from the first three years of the series."""
    first = y[: 3 * PERIOD]
    trend0 = float(np.mean(y[PERIOD : 2 * PERIOD]) - np.mean(y[:PERIOD])) / PERIOD
    level0 = float(np.mean(y[:PERIOD])) - 6.5 * trend0  # the level a month before y[0]
    if model.seasonal_type == 2:
        seasonal0 = core.four_theta_deseasonalize(first, PERIOD)[0]
    else:
        detrended = first - core.mstl_moving_average(first, PERIOD)
        seasonal0 = core.mstl_extract_seasonal(detrended, PERIOD)[:PERIOD].copy()
    return level0, trend0, seasonal0


def ets_forecast(
    level: float,
    trend: float,
    seasonal: Array,
    beta: float,
    phi: float,
    period: int,
    n: int,
    model: EtsModel,
    horizon: int,
) -> Array:
    """Continue the ETS recursion from its final states with every future error zero.

    With a zero error the level update reduces to l = l + phi * b, the trend update keeps
    its own rule and the seasonal coefficients stay as they are, so each step is written
    with the operations the filter itself performs.
    """
    s = seasonal.copy()
    lev, b = level, trend
    j = n % period
    out = np.empty(horizon)
    for h in range(horizon):
        season = 0.0
        if model.seasonal_type in (1, 2):
            season = float(s[j])
            if model.seasonal_type == 2 and season < 1e-6:
                season = s[j] = 1e-6
        if model.trend_type == 0:
            base = lev
        elif model.trend_type in (1, 2):
            base = lev + phi * b
        else:
            base = lev * b
        if model.seasonal_type == 1:
            out[h] = base + season
        elif model.seasonal_type == 2:
            out[h] = base * season
        else:
            out[h] = base
        new_level = lev + phi * b
        if new_level < -1e15:
            new_level = -1e15
        if new_level > 1e15:
            new_level = 1e15
        if model.trend_type in (1, 2):
            b = phi * b + beta * (new_level - lev)
        elif model.trend_type == 3:
            b = b * c_pow(new_level / (lev + 1e-10), beta)
        lev = new_level
        j = j + 1 if j + 1 != period else 0
    return out


def c_pow(x: float, y: float) -> float:
    """The platform's pow(x, y), with its NaN and infinity where Python's raises."""
    try:
        return math.pow(x, y)
    except ValueError:  # a negative base with a fractional exponent, or 0 to a negative one
        return math.nan if x != 0.0 else math.inf
    except OverflowError:
        return math.inf if x > 0.0 or y % 2.0 != 1.0 else -math.inf


def ets_search(y: Array, model: EtsModel) -> tuple[Minimum, tuple[float, float, Array]]:
    """Nelder-Mead on ets_loglik over the weights, the damping, level0 and trend0."""
    level0, trend0, seasonal0 = ets_initial_states(y, model)
    codes = (PERIOD, model.error_type, model.trend_type, model.seasonal_type)

    def objective(u: Sequence[float]) -> float:
        l0, b0, alpha, beta, gamma, phi = ets_params(u, (level0, trend0))
        return core.ets_loglik(y, l0, b0, seasonal0, alpha, beta, gamma, phi, *codes)

    start = [unbounded(0.5, 1e-4, 0.9999), 0.0, 0.0, 0.0, 0.0, 0.0]
    search = nelder_mead(objective, start, step=[1.0, 1.0, 1.0, 1.0, 1.0, 0.5])
    return search, (level0, trend0, seasonal0)


def ets(y: Array) -> list[EtsFit]:
    """Fit every model of ETS_MODELS, then filter them all with one batch_ets_filter call."""
    searches = [(model, *ets_search(y, model)) for model in ETS_MODELS]

    params_list = []
    for model, search, (level0, trend0, seasonal0) in searches:
        l0, b0, alpha, beta, gamma, phi = ets_params(search.x, (level0, trend0))
        params_list.append(
            (l0, b0, seasonal0, alpha, beta, gamma, phi, PERIOD)
            + (model.error_type, model.trend_type, model.seasonal_type)
        )
    results = core.batch_ets_filter([y] * len(searches), params_list)

    fits = []
    for (model, search, _states), params, result in zip(searches, params_list, results, strict=True):
        fitted, _errors, level, trend, seasonal = result
        l0, b0, seasonal0, alpha, beta, gamma, phi = params[:7]
        single = core.ets_filter(y, *params)
        pairs = ((single[0], fitted), (single[1], _errors), (single[4], seasonal))
        if single[2:4] != (level, trend) or not all(np.array_equal(a, b) for a, b in pairs):
            raise RuntimeError("batch_ets_filter differs from ets_filter")
        forecast = ets_forecast(level, trend, seasonal, beta, phi, PERIOD, y.size, model, HORIZON)
        fits.append(
            EtsFit(
                model,
                (l0, b0, seasonal0, alpha, beta, gamma, phi),
                search,
                fitted,
                level,
                trend,
                seasonal,
                forecast,
            )
        )
    return fits


# --- theta family ----------------------------------------------------------------------


@dataclass(frozen=True)
class Theta:
    intercept: float  # the straight theta-0 line a + b * t of the adjusted series
    slope: float
    alpha: float  # SES weight of the theta-2 line
    fitted: Array  # classic theta: mean of the theta-0 line and the smoothed theta-2 line
    forecast: Array
    dot_theta: float  # DOT: theta, smoothing weight and drift minimising dot_objective
    dot_alpha: float
    dot_drift: float
    dot_search: Minimum
    dot_fitted: Array
    dot_forecast: Array
    hybrid: list[tuple[float, float]]  # theta and mean absolute error of the hybrid model


def theta(seasonal: Seasonal) -> Theta:
    adjusted = seasonal.adjusted
    n = adjusted.size
    line0 = core.theta_decompose(adjusted, 0.0)
    line2 = core.theta_decompose(adjusted, 2.0)
    # theta_decompose's line is first + (t + 1) / n * (last - first).
    slope = float(adjusted[-1] - adjusted[0]) / n
    intercept = float(adjusted[0]) + slope

    # Classic theta: SES on the theta-2 line, averaged with the theta-0 line, fitted and
    # extrapolated in one four_theta_fitted call (beyond the data the last level holds).
    alpha = golden_section(lambda a: core.ses_sse(line2, a), 0.0, 1.0).x[0]
    levels = core.ses_filter(line2, alpha)
    combined = core.four_theta_fitted(
        n + HORIZON,
        np.array([2.0]),
        np.array([intercept]),
        np.array([slope]),
        np.array([1.0]),
        one_step_levels(levels, line2[0]),
        np.array([n], dtype=np.int64),
        levels[-1:],
    )
    fitted = reseasonalise(combined[:n], seasonal.indices, 0)
    forecast = reseasonalise(combined[n:], seasonal.indices, n)

    # DOT: theta, smoothing weight and drift by Nelder-Mead on dot_objective.
    def dot_point(u: Sequence[float]) -> tuple[float, float, float]:
        return bounded(u[0], 1.0, 5.0), bounded(u[1], 1e-3, 0.999), u[2]

    def dot(u: Sequence[float]) -> float:
        return core.dot_objective(adjusted, intercept, slope, *dot_point(u))

    dot_search = nelder_mead(dot, [unbounded(2.0, 1.0, 5.0), 0.0, 0.0], step=[1.0, 1.0, 0.5])
    dot_theta, dot_alpha, dot_drift = dot_point(dot_search.x)
    residuals, last_level = core.dot_residuals(
        adjusted, intercept, slope, dot_theta, dot_alpha, dot_drift
    )
    dot_fitted = np.concatenate(([np.nan], adjusted[1:] - residuals))
    t = np.arange(n, n + HORIZON, dtype=np.float64)
    dot_path = 0.5 * (dot_drift * t + (last_level + (intercept + slope * t)))

    # The hybrid model mixes the series with the straight line geometrically.
    hybrid = [(th, core.dot_hybrid_objective(adjusted, line0, th, False)) for th in HYBRID_THETAS]
    return Theta(
        intercept,
        slope,
        alpha,
        fitted,
        forecast,
        dot_theta,
        dot_alpha,
        dot_drift,
        dot_search,
        reseasonalise(dot_fitted, seasonal.indices, 0),
        reseasonalise(dot_path, seasonal.indices, n),
        hybrid,
    )


# --- trigonometric and complex smoothing ------------------------------------------------


@dataclass(frozen=True)
class OtherSmoothing:
    harmonics: int
    tbats: tuple[float, float, float]  # alpha, beta, phi
    tbats_rmse: float  # one-step RMSE on the log scale
    ces: tuple[float, float, float]  # a0_real, a0_imag, gamma
    ces_rmse: float
    ces_plain: tuple[float, float]  # complex smoothing of the seasonally adjusted log series
    ces_plain_rmse: float


def other_smoothing(y: Array, seasonal: Seasonal) -> OtherSmoothing:
    z = np.log(y)
    n = z.size
    harmonics = 4
    frequencies = 2.0 * math.pi * np.arange(1, harmonics + 1) / PERIOD

    def tbats_point(u: Sequence[float]) -> tuple[float, float, float]:
        return bounded(u[0], 1e-3, 0.999), bounded(u[1], 1e-4, 0.5), bounded(u[2], 0.8, 1.0)

    def tbats(u: Sequence[float]) -> float:
        alpha, beta, phi = tbats_point(u)
        return core.tbats_filter(z, alpha, beta, phi, True, True, frequencies, harmonics)

    tbats_search = nelder_mead(tbats, [0.0, -2.0, 1.0])

    seasonal_init = seasonal.log_seasonal[:PERIOD].copy()

    def ces(u: Sequence[float]) -> float:
        return core.ces_seasonal_sse(z, u[0], u[1], bounded(u[2], 0.0, 1.0), seasonal_init, PERIOD)

    ces_search = nelder_mead(ces, [1.3, 1.0, -2.0], step=0.2)
    log_adjusted = np.log(seasonal.adjusted)
    plain = nelder_mead(
        lambda u: core.ces_nonseasonal_sse(log_adjusted, u[0], u[1]), [1.3, 1.0], 0.2
    )
    a_r, a_i, g = ces_search.x
    return OtherSmoothing(
        harmonics,
        tbats_point(tbats_search.x),
        math.sqrt(tbats_search.value / (n - 1)),
        (a_r, a_i, bounded(g, 0.0, 1.0)),
        math.sqrt(ces_search.value / (n - 1)),
        (plain.x[0], plain.x[1]),
        math.sqrt(plain.value / (n - 1)),
    )


# --- ARIMA ---------------------------------------------------------------------------------


@dataclass(frozen=True)
class Arima:
    airline: tuple[float, float]  # MA(1) and seasonal MA(1) of the twice differenced logs
    airline_sigma: float
    # (p, d, q), coefficients, AIC and residual sd of each non-seasonal order
    orders: list[tuple[tuple[int, int, int], tuple[float, ...], float, float]]
    growth_arma: tuple[float, float]  # ARMA(1,1) of the annual log growth
    growth_sigma: float


def arima(y: Array, seasonal: Seasonal) -> Arima:
    z = np.log(y)
    # The airline model: (1 - B)(1 - B^12) log y is MA(1) plus seasonal MA(1).
    w = np.diff(z[PERIOD:] - z[:-PERIOD])
    none = np.empty(0)

    def airline(u: Sequence[float]) -> float:
        ma, sma = math.tanh(u[0]) * 0.99, math.tanh(u[1]) * 0.99
        return core.seasonal_css_objective(w, none, np.array([ma]), none, np.array([sma]), PERIOD)

    fit = nelder_mead(airline, [0.0, 0.0])
    theta1, theta12 = (math.tanh(u) * 0.99 for u in fit.x)
    airline_sigma = math.sqrt(fit.value / (w.size - PERIOD))

    # Non-seasonal ARIMA(p, 1, q) of the seasonally adjusted logs, scored by CSS.
    log_adjusted = np.log(seasonal.adjusted)
    orders = []
    for p, q in ((1, 0), (0, 1), (1, 1)):

        def css(u: Sequence[float], p: int = p) -> float:
            coefs = np.tanh(np.asarray(u, dtype=np.float64)) * 0.99
            return core.arima_css(log_adjusted, coefs[:p], coefs[p:], 1)

        best = nelder_mead(css, [0.0] * (p + q))
        coefs = tuple(math.tanh(u) * 0.99 for u in best.x)
        r = log_adjusted.size - 1 - max(p, q)
        orders.append(
            ((p, 1, q), coefs, best.value + 2.0 * (p + q), math.exp(best.value / r / 2.0))
        )

    # Annual growth log y[t] - log y[t - 12] as ARMA(1, 1), by the plain CSS objective.
    growth = z[PERIOD:] - z[:-PERIOD]
    growth = growth - np.mean(growth)

    def arma(u: Sequence[float]) -> float:
        return core.css_objective(growth, np.array([math.tanh(u[0])]), np.array([math.tanh(u[1])]))

    best = nelder_mead(arma, [0.0, 0.0])
    return Arima(
        (theta1, theta12),
        airline_sigma,
        orders,
        (math.tanh(best.x[0]), math.tanh(best.x[1])),
        math.sqrt(best.value / (growth.size - 1)),
    )


# --- volatility --------------------------------------------------------------------------


@dataclass(frozen=True)
class Volatility:
    returns: Array  # monthly log growth of the seasonally adjusted series, in percent
    fits: list[tuple[str, dict[str, float], float, float]]  # name, parameters, NLL, AIC


def volatility(seasonal: Seasonal) -> Volatility:
    r = 100.0 * np.diff(np.log(seasonal.adjusted))
    mean, var = float(np.mean(r)), float(np.var(r))

    def garch_point(u: Sequence[float]) -> dict[str, float]:
        persistence = bounded(u[2], 0.0, 0.999)
        alpha = persistence * bounded(u[3], 0.0, 1.0)
        return {
            "mu": u[0],
            "omega": math.exp(u[1]),
            "alpha": alpha,
            "beta": persistence - alpha,
            "ar1": bounded(u[4], -0.99, 0.99),
        }

    def garch(u: Sequence[float]) -> float:
        p = garch_point(u)
        return core.garch_filter(r, p["mu"], p["omega"], p["alpha"], p["beta"], var, True, p["ar1"])

    def egarch_point(u: Sequence[float]) -> dict[str, float]:
        return {
            "mu": u[0],
            "omega": u[1],
            "alpha": u[2],
            "beta": bounded(u[3], -0.999, 0.999),
            "gamma": u[4],
        }

    def egarch(u: Sequence[float]) -> float:
        p = egarch_point(u)
        return core.egarch_filter(
            r, p["mu"], p["omega"], p["alpha"], p["beta"], p["gamma"], math.log(var)
        )

    def gjr_point(u: Sequence[float]) -> dict[str, float]:
        persistence = bounded(u[2], 0.0, 0.999)
        shares = np.exp([u[3], u[4], 0.0])
        alpha, half_gamma, beta = (float(v) for v in persistence * shares / shares.sum())
        return {
            "mu": u[0],
            "omega": math.exp(u[1]),
            "alpha": alpha,
            "beta": beta,
            "gamma": 2.0 * half_gamma,
        }

    def gjr(u: Sequence[float]) -> float:
        p = gjr_point(u)
        return core.gjr_garch_filter(r, p["mu"], p["omega"], p["alpha"], p["beta"], p["gamma"], var)

    fits = []
    log_omega = math.log(0.1 * var)
    for name, objective, point, start in (
        ("garch_filter, AR(1) mean", garch, garch_point, [mean, log_omega, 2.0, -2.0, 0.0]),
        ("egarch_filter", egarch, egarch_point, [mean, 0.1 * math.log(var), 0.0, 1.5, 0.1]),
        ("gjr_garch_filter", gjr, gjr_point, [mean, log_omega, 2.0, -2.0, -2.0]),
    ):
        best = nelder_mead(objective, start)
        fits.append((name, point(best.x), best.value, 2.0 * best.value + 2.0 * len(start)))
    return Volatility(r, fits)


# --- nearest patterns and the reservoir ------------------------------------------------------


@dataclass(frozen=True)
class Patterns:
    window: int
    neighbours: int
    fitted: Array  # one-step forecasts of the series from nearest-pattern return forecasts
    forecast: Array
    nearest_ends: list[int]  # for the first forecast: last index (in y) of each nearest window


def patterns(y: Array, window: int = PERIOD, neighbours: int = 5, decay: float = 0.01) -> Patterns:
    """Nearest-pattern forecasts of the monthly log growth r[t] = log y[t + 1] - log y[t]."""
    r = np.diff(np.log(y))
    residuals = core.dtsf_fit_residuals(r, window, neighbours, False)
    predicted = r - residuals
    fitted = np.full(y.size, np.nan)
    # r[t] becomes y[t + 1]; residuals exist from position window + 1 of r.
    start = window + 1
    fitted[start + 1 :] = y[start:-1] * np.exp(predicted[start:])

    path = list(r)
    nearest_ends: list[int] = []
    for h in range(HORIZON):
        series = np.array(path)
        count = series.size - window  # windows followed by a known value
        distances = core.dtsf_distances(
            series, series[-window:], window, count, False, decay, series.size
        )
        nearest = np.argsort(distances, kind="stable")[:neighbours]
        if h == 0:
            nearest_ends = [int(s) + window for s in nearest]  # r[s + window - 1] is y[s + window]
        path.append(float(np.median(series[nearest + window])))
    forecast = y[-1] * np.exp(np.cumsum(path[r.size :]))
    return Patterns(window, neighbours, fitted, forecast, nearest_ends)


@dataclass(frozen=True)
class Reservoir:
    size: int
    leak: float
    washout: int
    fitted: Array
    forecast: Array
    spectral_radius: float


def reservoir(
    y: Array,
    size: int = 50,
    leak: float = 1.0,
    washout: int = PERIOD,
    ridge: float = 0.1,
    radius: float = 0.9,
) -> Reservoir:
    """An echo-state network on the standardised monthly log growth, with a ridge readout."""
    r = np.diff(np.log(y))
    mean, sd = float(np.mean(r)), float(np.std(r))
    u = (r - mean) / sd
    rng = np.random.default_rng(1949)
    w_in = rng.uniform(-0.5, 0.5, size)
    w = rng.uniform(-0.5, 0.5, (size, size))
    w *= radius / float(np.max(np.abs(np.linalg.eigvals(w))))  # the spectral radius
    w_flat = w.ravel()

    states, _ = core.esn_reservoir_update(u, w_in, w_flat, size, leak, washout)
    states = states.reshape(-1, size)  # row k: the state after input u[washout + k]
    design = np.hstack((np.ones((states.shape[0], 1)), states))
    # State after u[t] predicts u[t + 1]; the last state has no target.
    x, target = design[:-1], u[washout + 1 :]
    readout = np.linalg.solve(x.T @ x + ridge * np.eye(size + 1), x.T @ target)
    predicted = design @ readout  # predicted[k] forecasts u[washout + k + 1]
    fitted = np.full(y.size, np.nan)
    # u[t] is r[t], which becomes y[t + 1]: predicted[k] forecasts y[washout + k + 2].
    fitted[washout + 2 :] = y[washout + 1 : -1] * np.exp(mean + sd * predicted[:-1])

    path = list(u)
    for _ in range(HORIZON):
        _, state = core.esn_reservoir_update(np.array(path), w_in, w_flat, size, leak, washout)
        path.append(float(readout[0] + state @ readout[1:]))
    forecast = y[-1] * np.exp(np.cumsum(mean + sd * np.array(path[u.size :])))
    return Reservoir(size, leak, washout, fitted, forecast, radius)


# --- diagnostics --------------------------------------------------------------------------


@dataclass(frozen=True)
class Diagnostics:
    hurst_level: float  # Hurst exponent of the series itself
    hurst_growth: float  # of the seasonally adjusted monthly growth
    sample_entropy: tuple[float, float]  # monthly growth, and the same values shuffled
    approximate_entropy: tuple[float, float]
    records: int  # months that set a new record of the adjusted series
    record_size: float  # Croston TSB: smoothed size of the rise over the old record
    record_probability: float  # and smoothed probability that a month sets one


def diagnostics(y: Array, seasonal: Seasonal) -> Diagnostics:
    r = np.diff(np.log(y))
    shuffled = np.random.default_rng(1960).permutation(r)
    tolerance = 0.2 * float(np.std(r))
    adjusted_growth = np.diff(np.log(seasonal.adjusted))
    # An intermittent series: by how much each month beats the record of the adjusted
    # series so far (zero when it does not), smoothed by Croston's method (TSB form).
    adjusted = seasonal.adjusted
    records = np.maximum(adjusted[1:] - np.maximum.accumulate(adjusted)[:-1], 0.0)
    events = records[records > 0]

    def tsb(u: Sequence[float]) -> float:
        alpha, beta = bounded(u[0], 0.0, 1.0), bounded(u[1], 0.0, 1.0)
        return core.croston_tsb_filter(records, alpha, beta, events[0], events.size / records.size)[
            2
        ]

    best = nelder_mead(tsb, [0.0, 0.0])
    size, probability, _ = core.croston_tsb_filter(
        records,
        bounded(best.x[0], 0.0, 1.0),
        bounded(best.x[1], 0.0, 1.0),
        events[0],
        events.size / records.size,
    )
    return Diagnostics(
        core.hurst_exponent(y, 36),
        core.hurst_exponent(adjusted_growth, 36),
        (core.sample_entropy(r, 2, tolerance), core.sample_entropy(shuffled, 2, tolerance)),
        (
            core.approximate_entropy(r, 2, tolerance),
            core.approximate_entropy(shuffled, 2, tolerance),
        ),
        int(events.size),
        size,
        probability,
    )
