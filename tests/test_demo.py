"""The demonstration `python -m lumetra`: its optimisers, its forecasts and the command itself."""

from __future__ import annotations

import itertools
import math
import re
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import lumetra._core as core
from helpers import same_bits
from lumetra.datasets import airline_passengers
from lumetra.demo import models
from lumetra.demo.optimize import bounded, golden_section, nelder_mead, unbounded

SOURCE_TREE = Path(__file__).parent.parent


def run_demo(*arguments: str, code: str | None = None, cwd: Path | None = None):
    command = [sys.executable, "-c", code] if code else [sys.executable, "-m", "lumetra"]
    return subprocess.run([*command, *arguments], capture_output=True, text=True, timeout=300, cwd=cwd)


# --- the optimisers ----------------------------------------------------------------


@pytest.mark.parametrize("function, minimum", [(lambda x: (x - 0.3) ** 2 + 1, 0.3), (abs, 0.0), (lambda x: abs(x - 1), 1.0)])
def test_golden_section_finds_the_minimum_inside_or_at_an_end_of_the_interval(function, minimum):
    result = golden_section(function, 0.0, 1.0, tolerance=1e-9)
    assert abs(result.x[0] - minimum) < 1e-6 and result.value == pytest.approx(function(minimum), abs=1e-12)


def test_nelder_mead_minimises_the_rosenbrock_valley_and_steps_around_nan():
    result = nelder_mead(lambda p: (1 - p[0]) ** 2 + 100 * (p[1] - p[0] ** 2) ** 2, [-1.2, 1.0])
    assert np.allclose(result.x, [1.0, 1.0], atol=1e-4)
    # NaN right of 0.5 (as a broken recursion gives), the minimum sits at its edge
    result = nelder_mead(lambda p: math.nan if p[0] > 0.5 else (p[0] - 0.5) ** 2 + p[1] ** 2, [0.0, 1.0])
    assert result.x[0] <= 0.5 and np.allclose(result.x, [0.5, 0.0], atol=1e-3)


def test_bounded_inverts_unbounded_without_overflow():
    assert all(bounded(unbounded(x, 0.0, 1.0), 0.0, 1.0) == pytest.approx(x, rel=1e-12) for x in (0.001, 0.5, 0.9999))
    assert 0.8 <= bounded(-800.0, 0.8, 0.98) <= bounded(800.0, 0.8, 0.98) <= 0.98


# --- forecasts continue the kernels' recursions ------------------------------------


@pytest.mark.parametrize("error_type, trend_type, seasonal_type", [*itertools.product([0, 1], [0, 1, 2, 3, 7], [0, 1, 2])])
def test_ets_forecast_is_the_filter_run_on_with_zero_errors(error_type, trend_type, seasonal_type):
    """Appending each forecast as an observation gives a zero error, so the filter's
    fitted value at the next step must be the next forecast, bit for bit."""
    t = np.arange(30)
    y = 50.0 + 0.5 * t + 5.0 * np.sin(2 * np.pi * t / 4) + np.cos(t)
    seasonal0 = np.array([1.1, 0.9, 1.2, 0.8]) if seasonal_type == 2 else np.array([2.0, -1, 3, -4])
    args = (50.0, 1.01 if trend_type == 3 else 0.4, seasonal0, 0.3, 0.1, 0.2, 0.95, 4, error_type, trend_type, seasonal_type)
    _, _, level, trend, season = core.ets_filter(y, *args)
    model = models.EtsModel("", error_type, trend_type, seasonal_type)
    forecast = models.ets_forecast(level, trend, season, 0.1, 0.95, 4, y.size, model, 9)
    fitted, errors, *_ = core.ets_filter(np.concatenate((y, forecast)), *args)
    assert same_bits(fitted[y.size :], forecast) and not np.any(errors[y.size :])


def test_theta_forecast_holds_the_last_smoothed_level():
    """Beyond the data, four_theta_fitted takes each line's last level: the classic theta
    forecast is the mean of the extended straight line and the last smoothed level."""
    _, y = airline_passengers()
    seasonal = models.seasonal_structure(y)
    theta = models.theta(seasonal)
    last = core.ses_filter(core.theta_decompose(seasonal.adjusted, 2.0), theta.alpha)[-1]
    t = np.arange(y.size, y.size + models.HORIZON, dtype=np.float64)
    adjusted = ((theta.intercept + theta.slope * t) + last) * 0.5
    assert same_bits(theta.forecast, models.reseasonalise(adjusted, seasonal.indices, y.size))


# --- the command ---------------------------------------------------------------------


def test_report_names_every_function_in_its_steps_and_ends_with_the_forecasts():
    result = run_demo()
    assert result.returncode == 0 and result.stderr == "", result.stderr
    report = result.stdout
    steps = re.findall(r"^\[\s*(\d+)/10\] (.+?) \.+\s+(\d+\.\d) ms$", report, re.MULTILINE)
    assert [int(number) for number, _, _ in steps] == list(range(1, 11))
    assert re.search(r"^10 steps in \d+\.\d ms$", report, re.MULTILINE)
    assert set(re.findall(r"\b[a-z0-9_]+\b", report)) >= set(core.__all__)  # each named where it is used
    table = report[report.index("\nSummary") :].splitlines()
    assert table[2].split() == ["month", "snaive", "SES", "ETS", "theta", "DOT", "DTSF", "ESN"]
    assert all(0.5 < float(v) < 15.0 for v in table[3].split()[2:])  # the MAPE row
    assert [row.split()[0] for row in table[4:16]] == [f"1961-{m:02d}" for m in range(1, 13)]
    values = np.array([[float(v) for v in row.split()[1:]] for row in table[4:16]])
    assert np.all(np.isfinite(values)) and np.all((values > 300) & (values < 800))
    timing = re.compile(r" *\d+\.\d ms")  # the same on every run but for the timings
    assert timing.sub("", run_demo().stdout) == timing.sub("", report)


def test_plot_writes_a_picture_of_the_series_and_forecasts(tmp_path):
    pytest.importorskip("matplotlib")
    from matplotlib.image import imread

    path = tmp_path / "demo.png"
    result = run_demo("--plot", str(path))
    assert result.returncode == 0 and result.stdout.rstrip().endswith(f"plot written to {path}"), result.stderr
    pixels = imread(path)[..., :3]  # a valid PNG of the documented size
    red = (pixels[..., 0] > 0.7) & (pixels[..., 1] < 0.3) & (pixels[..., 2] < 0.3)
    assert pixels.shape == (550, 1000, 3) and red.sum() > 200 and pixels.std() > 0.05  # the forecast line is drawn


def test_plot_without_matplotlib_fails_with_a_clear_message(tmp_path):
    code = ("import sys, runpy; sys.modules['matplotlib'] = None; sys.argv[0] = 'lumetra'; "
            "runpy.run_module('lumetra', run_name='__main__')")
    result = run_demo("--plot", str(tmp_path / "x.png"), code=code)
    assert result.returncode == 2 and "pip install 'lumetra[plot]'" in result.stderr and result.stdout == ""
    assert not (tmp_path / "x.png").exists()


def test_running_inside_the_source_checkout_explains_what_to_do():
    # The build happens out of tree: the checkout's lumetra/ has no compiled module, and
    # `python -m lumetra` started there finds that directory first.
    if list((SOURCE_TREE / "lumetra").glob("_core*.so")):
        pytest.skip("a compiled module lies in the source checkout")
    result = run_demo(cwd=SOURCE_TREE)
    assert result.returncode == 1
    assert "cannot be imported" in result.stderr and "python -P" in result.stderr
