"""Agreement with the established packages on real series (the extra `.[peers]`): equal to rounding
where the definitions coincide, and each known departure pinned with the peer's value and ours, so
that a change on either side shows. The examples of the README and of docs/textbook-forms.md, which
load some of these series, run here too."""

from __future__ import annotations

import doctest
import re
from pathlib import Path

import numpy as np
import pytest
from pytest import approx

import lumetra._core as core
from lumetra.datasets import airline_passengers

sm = pytest.importorskip("statsmodels.api")
signal = pytest.importorskip("scipy.signal")
arch = pytest.importorskip("arch.univariate")
antropy = pytest.importorskip("antropy")
nolds = pytest.importorskip("nolds")
from statsmodels.tsa.exponential_smoothing.ets import ETSModel  # noqa: E402
from statsmodels.tsa.forecasting.theta import ThetaModel  # noqa: E402
from statsmodels.tsa.holtwinters import Holt, SimpleExpSmoothing  # noqa: E402
from statsmodels.tsa.seasonal import seasonal_decompose  # noqa: E402

pytestmark = pytest.mark.filterwarnings("ignore")
NONE = np.empty(0)
AIR = airline_passengers()[1]
NILE = sm.datasets.nile.load_pandas().data["volume"].to_numpy(np.float64)
SUN = sm.datasets.sunspots.load_pandas().data["SUNACTIVITY"].to_numpy(np.float64)
CO2 = (
    sm.datasets.co2.load_pandas()
    .data["co2"]
    .resample("MS")
    .mean()
    .interpolate()
    .to_numpy(np.float64)
)
GDP = 100 * np.diff(
    np.log(sm.datasets.macrodata.load_pandas().data["realgdp"].to_numpy(np.float64))
)
SERIES = {"air": AIR, "nile": NILE, "sunspots": SUN, "co2": CO2}


@pytest.mark.parametrize("name", ["air", "nile"])
def test_simple_smoothing_is_statsmodels_started_at_the_first_observation(name):
    y = SERIES[name]
    fit = SimpleExpSmoothing(y, initialization_method="known", initial_level=y[0]).fit(
        0.3, optimized=False
    )
    assert core.ses_sse(y, 0.3) == approx(fit.sse, rel=1e-12)
    assert core.ses_filter(y, 0.3)[:-1] == approx(fit.fittedvalues[1:], rel=1e-12)


@pytest.mark.parametrize(
    "error, trend, season",
    [("add", None, None), ("add", "add", "add"), ("mul", "add", None), ("mul", None, "mul")],
)
def test_ets_without_trend_smoothing_is_statsmodels_ets_and_the_likelihood_is_minus_twice_its_llf(
    error, trend, season
):
    # Trend smoothing (beta > 0) departs from the textbook form, and statsmodels updates multiplicative seasons
    # in its own way (from the first complete season on): see the pinned cases below.
    # ordered: the order shows
    s0 = np.linspace(-30, 30, 12) if season == "add" else np.linspace(0.8, 1.2, 12)
    model = ETSModel(
        AIR,
        error=error,
        trend=trend,
        damped_trend=trend is not None,
        seasonal=season,
        seasonal_periods=12 if season else None,
        initialization_method="known",
        initial_level=110.0,
        initial_trend=2.0 if trend else None,
        initial_seasonal=s0 if season else None,
    )
    values = {
        "smoothing_level": 0.4,
        "smoothing_trend": 0.0,
        "smoothing_seasonal": 0.1,
        "damping_trend": 0.9,
    }
    peer = model.smooth([values[name] for name in model.param_names])
    codes = (int(error == "mul"), 1 if trend else 0, {"add": 1, "mul": 2}.get(season, 0))
    args = (AIR, 110.0, 2.0 if trend else 0.0, s0, 0.4, 0.0, 0.1, 0.9 if trend else 1.0, 12, *codes)
    fitted, first = core.ets_filter(*args)[0], slice(None, 12 if season == "mul" else None)
    assert fitted[first] == approx(peer.fittedvalues[first], rel=1e-10)  # 1e-10: added to divisors
    if season == "mul":
        assert (fitted[12], peer.fittedvalues[12]) == approx((86.2075173, 85.9823997))
    else:
        assert core.ets_loglik(*args) == approx(-2 * peer.llf, rel=1e-12)


def residuals(y, ar, ma, start):
    """scipy's ARMA residual filter from `start`, with zero residuals and the observed values before it."""
    a, b = np.r_[1.0, ma], np.r_[1.0, -ar]
    return signal.lfilter(
        b, a, y[start:], zi=signal.lfiltic(b, a, np.zeros(len(ma)), y[start - 1 :: -1])
    )[0]


@pytest.mark.parametrize(
    "name, ar, ma",
    [
        pytest.param("nile", [0.5, 0.2], [0.3], id="nile ARMA(2,1)"),
        pytest.param("sunspots", [1.2, -0.5], [0.1, 0.2, 0.3], id="sunspots ARMA(2,3)"),
    ],
)
def test_css_residuals_are_scipys_arma_filter(name, ar, ma):
    y, ar, ma = SERIES[name] - SERIES[name].mean(), np.array(ar), np.array(ma)
    m = max(len(ar), len(ma))
    assert core.css_objective(y, ar, ma) == approx(np.sum(residuals(y, ar, ma, m) ** 2), rel=1e-12)
    w = np.diff(y)
    assert core.arima_css(y, ar, ma, 1) == approx(
        (len(w) - m) * np.log(np.mean(residuals(w, ar, ma, m) ** 2))
    )


def test_seasonal_css_adds_the_polynomials_where_the_airline_model_multiplies_them():
    d = np.diff(np.log(AIR))
    w = d[12:] - d[:-12]  # log passengers, differenced at lags 1 and 12
    additive = core.seasonal_css_objective(w, NONE, np.array([-0.4]), NONE, np.array([-0.6]), 12)
    theta = np.zeros(13)
    theta[[0, 11, 12]] = -0.4, -0.6, 0.24  # (1 - 0.4 B)(1 - 0.6 B^12)
    assert additive == approx(
        np.sum(residuals(w, NONE, np.r_[-0.4, np.zeros(10), -0.6], 12) ** 2), rel=1e-12
    )
    assert (additive, np.sum(residuals(w, NONE, theta, 13) ** 2)) == approx(
        (0.25327, 0.17944), abs=1e-5
    )
    # the product, through css_objective
    assert core.css_objective(w, NONE, theta) == approx(0.17944, abs=1e-5)


def arch_score(volatility, params, y, mu, backcast):
    """arch's variance recursion (without its variance bounds) and its normal likelihood, on our scale."""
    sigma2, resids = np.empty(len(y)), y - mu
    volatility.compute_variance(
        np.array(params), resids, sigma2, backcast, np.tile([1e-300, 1e300], (len(y), 1))
    )
    return -arch.Normal().loglikelihood([], resids, sigma2) - len(y) / 2 * np.log(
        2 * np.pi
    ), sigma2[0]


@pytest.mark.parametrize("model", ["garch", "gjr", "egarch"])
def test_volatility_scores_are_archs_negative_loglikelihood_without_its_constant(model):
    mu, var = GDP.mean(), GDP.var()
    # arch's alpha weighs the size |z| - sqrt(2/pi) and gamma the sign: ours the reverse
    if model == "egarch":
        peer, first = arch_score(arch.EGARCH(1, 1, 1), [0.05, 0.2, -0.1, 0.9], GDP, mu, np.log(var))
        ours = core.egarch_filter(GDP, mu, 0.05, -0.1, 0.9, 0.2, np.log(first))
    elif model == "gjr":
        peer, first = arch_score(arch.GARCH(1, 1, 1), [0.1, 0.05, 0.1, 0.8], GDP, mu, var)
        ours = core.gjr_garch_filter(GDP, mu, 0.1, 0.05, 0.8, 0.1, first)
    else:
        peer, first = arch_score(arch.GARCH(1, 0, 1), [0.1, 0.1, 0.8], GDP, mu, var)
        ours = core.garch_filter(GDP, mu, 0.1, 0.1, 0.8, first, False, 0.0)
    assert ours == approx(peer, rel=1e-12)


@pytest.mark.parametrize("name", ["nile", "sunspots"])
def test_diagnostics_agree_with_antropy_and_nolds(name):
    y = SERIES[name]
    r = 0.2 * y.std()
    assert core.approximate_entropy(y, 2, r) == approx(
        antropy.app_entropy(y, order=2, tolerance=r), rel=1e-12
    )
    slope = nolds.hurst_rs(y, nvals=np.arange(2, 21), fit="poly", corrected=False)
    assert core.hurst_exponent(y, 20) == approx(min(max(slope, 0.0), 1.0), rel=1e-12)


def test_moving_average_and_phase_means_are_pandas_and_seasonal_decompose():
    import pandas as pd

    for window in (3, 7, 13):
        expected = pd.Series(CO2).rolling(window, center=True, min_periods=1).mean().to_numpy()
        assert core.mstl_moving_average(CO2, window) == approx(expected, rel=1e-12)
    # whole years: every phase has as many complete windows
    for y in (AIR, CO2[: 12 * (len(CO2) // 12)]):
        peer = seasonal_decompose(y, period=12)
        # where the two-sided average exists, starting at phase 6
        detrended = (y - peer.trend)[6:-6]
        assert core.mstl_extract_seasonal(detrended, 12) == approx(peer.seasonal[6:-6], abs=1e-9)


def ets(y, level0, trend0, alpha, beta, codes, seasonal0=NONE, period=1):
    return core.ets_filter(y, level0, trend0, seasonal0, alpha, beta, 0.0, 1.0, period, *codes)


def test_departures_from_the_textbook_forms_are_pinned_against_the_peers():
    # additive trend: ours compounds on an exact line, statsmodels' does not
    y = 10 + 2 * np.arange(1, 11.0)
    peer = ETSModel(
        y, trend="add", initialization_method="known", initial_level=10, initial_trend=2
    ).smooth([0.5, 0.05])
    assert (ets(y, 10, 2, 0.5, 0.1, (0, 1, 0))[1][:5], peer.resid) == (
        approx([0, -0.2, -0.51, -0.8805, -1.284275], abs=1e-9),
        approx(np.zeros(10), abs=1e-9),
    )
    # multiplicative trend: the level update starts from l + phi b
    y = 100 * 1.02 ** np.arange(1, 11.0)
    peer = ETSModel(
        y, trend="mul", initialization_method="known", initial_level=100, initial_trend=1.02
    )
    assert (ets(y, 100, 1.02, 0.5, 0.0, (0, 3, 0))[1][:3], peer.smooth([0.5, 0.0]).resid) == (
        approx([0, 0.9996, 1.530204], abs=1e-9),
        approx(np.zeros(10), abs=1e-9),
    )
    # M,N,A: the level is B (1 + alpha e / yhat)
    y, s0 = (np.array([120.0, 90.0, 100.0]), np.array([10.0, -10.0]))
    peer = ETSModel(
        y,
        error="mul",
        seasonal="add",
        seasonal_periods=2,
        initialization_method="known",
        initial_level=100,
        initial_seasonal=s0,
    ).smooth([0.5, 0.0])
    assert (ets(y, 100, 0, 0.5, 0, (1, 0, 1), s0, 2)[0], peer.fittedvalues) == (
        approx([110, 94.54545454545, 112.03234266], rel=1e-9),
        approx([110, 95, 112.5], rel=1e-12),
    )
    # trigonometric smoothing with a trend against the local linear trend (Holt)
    y = np.arange(200.0)
    peer = Holt(y, initialization_method="known", initial_level=0, initial_trend=0).fit(
        0.5, 0.2, optimized=False
    )
    assert (core.tbats_filter(y, 0.5, 0.1, 1.0, True, False, NONE, 0), peer.sse) == approx(
        (549.6031746, 10.3448276)
    )
    line = core.theta_decompose(AIR, 0.0)  # the theta line: end points, not least squares
    slope = ThetaModel(AIR, period=12, deseasonalize=False).fit().params["b0"]
    assert (line[1] - line[0], slope) == approx((320 / 144, 2.6571839), rel=1e-7)


def test_sample_entropy_departures_are_pinned_against_nolds_and_antropy():
    sd = NILE.std()  # one template fewer for the (m+1)-matches: nolds counts n - m of both lengths
    assert (
        core.sample_entropy(NILE, 1, 0.2 * sd),
        nolds.sampen(NILE, emb_dim=1, tolerance=0.2 * sd),
    ) == approx((1.9086387542580816, 1.8845412026790211), rel=1e-12)
    # a match is a distance <= r (nolds' closed=True), where antropy takes < r; the integer Nile values tie
    peers = (
        nolds.sampen(NILE, emb_dim=2, tolerance=20.0, closed=True),
        antropy.sample_entropy(NILE, 2, tolerance=20.0),
    )
    assert (core.sample_entropy(NILE, 2, 20.0), *peers) == approx(
        (1.9459101, 1.9459101, 1.8718022), rel=1e-7
    )
    # no (m+1)-match: 0.0 where the peers give inf
    none = core.sample_entropy(NILE, 3, 0.1 * sd), nolds.sampen(NILE, emb_dim=3, tolerance=0.1 * sd)
    assert none == (0.0, np.inf) and core.sample_entropy(NILE, 2, 0.1 * sd) == approx(np.log(6))


def test_egarch_log_variance_clamp_biases_the_likelihood_of_very_small_variances():
    # log-variance about -23.3, below the clamp at -20
    y = (GDP - GDP.mean()) * np.sqrt(7.7e-11 / GDP.var())
    log_var = np.log(7.7e-11)
    peer, first = arch_score(arch.EGARCH(1, 1, 1), [0.1 * log_var, 0.1, 0.0, 0.9], y, 0.0, log_var)
    ours = core.egarch_filter(y, 0.0, 0.1 * log_var, 0.0, 0.9, 0.1, np.log(first))
    assert (ours, peer) == approx((-2016.025, -2259.045), abs=1e-3)


@pytest.mark.parametrize("name", ["README.md", "docs/textbook-forms.md"])
def test_the_documents_examples_hold(name):
    document = Path(__file__).parents[1] / name
    if not document.is_file():
        pytest.skip("run from a checkout")
    # a fence line ends an example's output
    text = re.sub(r"^\s*```.*$", "", document.read_text(), flags=re.M)
    test = doctest.DocTestParser().get_doctest(text, {}, name, str(document), 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    report: list[str] = []
    runner.run(test, out=report.append)
    assert runner.failures == 0, "".join(report)
    assert runner.tries > 10
