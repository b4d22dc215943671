"""The demonstration `python -m lumetra`: its report, its picture, and the command itself."""

from __future__ import annotations

import importlib.util
import io
import math
import re
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import lumetra._core as core
from lumetra.datasets import airline_passengers
from lumetra.demo import report
from lumetra.demo.models import bound_side, bounds_line

from helpers import same_bits

SOURCE_TREE = Path(__file__).parent.parent


def run_demo(*arguments: str, code: str | None = None, cwd: Path | None = None):
    command = [sys.executable, "-c", code] if code else [sys.executable, "-m", "lumetra"]
    return subprocess.run(
        [*command, *arguments], capture_output=True, text=True, timeout=300, cwd=cwd
    )


@pytest.fixture(scope="module")
def demo(tmp_path_factory):
    """The one full run of the command, drawing its picture too where matplotlib is installed."""
    picture = None
    if importlib.util.find_spec("matplotlib"):
        picture = tmp_path_factory.mktemp("demo") / "demo.png"
    result = run_demo(*(["--plot", str(picture)] if picture else []))
    assert result.returncode == 0 and result.stderr == "", result.stderr
    return result.stdout, picture


@pytest.fixture(scope="module")
def results():
    months, y = airline_passengers()
    return report.run(months, y, io.StringIO())


# --- what the report says ----------------------------------------------------------


def test_steps_are_numbered_in_order_and_counted_and_the_table_has_the_months_announced(demo):
    text, _ = demo
    steps = re.findall(r"^\[\s*(\d+)/(\d+)\] (.+?) \.+\s+(\d+\.\d) ms$", text, re.MULTILINE)
    count = len(steps)
    assert count == report.STEPS and {int(total) for _, total, _, _ in steps} == {count}
    assert [int(number) for number, _, _, _ in steps] == list(range(1, count + 1))
    assert re.search(rf"^{count} steps in \d+\.\d ms$", text, re.MULTILINE)
    table = text[text.index("\nSummary") + 1 :].split("\n\n")[0].splitlines()
    header = ["month", "snaive", "SES", "ETS", "theta", "DOTM", "DTSF", "ESN"]
    assert table[2].split()[: len(header)] == header
    assert all(0.5 < float(v) < 15.0 for v in table[3].split()[2:])  # the MAPE row
    rows = table[4:]
    months = [row.split()[0] for row in rows]
    assert months == [f"1961-{m:02d}" for m in range(1, 13)]
    assert f"forecasts for {months[0]} to {months[-1]}\n" in text  # the header announces them
    values = np.array([[float(v) for v in row.replace(" to ", " ").split()[1:]] for row in rows])
    assert np.all(np.isfinite(values)) and np.all((values > 300) & (values < 800))
    lower, forecast, upper = values[:, -2], values[:, 3], values[:, -1]  # ETS and its interval
    assert np.all((lower < forecast) & (forecast < upper))


@pytest.mark.parametrize(
    "value, expected",
    [
        pytest.param(1.0, "upper", id="at the upper bound"),
        pytest.param(1.0 - 1e-7, "upper", id="within 1e-6 of it"),
        pytest.param(0.999, None, id="inside"),
        pytest.param(-1e-7, "lower", id="near a zero bound: absolute"),
        pytest.param(1e300, None, id="large, below an infinite bound"),
    ],
)
def test_a_value_sits_at_a_bound_within_a_millionth(value, expected):
    high = math.inf if value > 1.0 else 1.0
    assert bound_side(value, 0.0, high) == expected


def test_the_layers_models_are_marked_at_a_bound_exactly_where_their_fits_say(results):
    """The report's marks and the modelling layer's `at_bound` must never disagree: DOTM's
    theta ends at its upper bound on this series, the other parameters inside."""
    fits = [results.ets.chosen, results.theta.theta, results.theta.dotm]
    assert "theta" in results.theta.dotm.at_bound
    for fit in fits:
        line = bounds_line(fit.params, fit.bounds)
        marked = re.findall(r"(\w+) \[[^]]*\] AT THE", line)
        assert marked == list(fit.at_bound) and set(fit.bounds) <= set(
            re.findall(r"(\w+) \[", line)
        )


def test_intervals_hold_the_forecasts_and_the_80_percent_lies_inside_the_95(results):
    for forecast in (results.ets.forecast, results.theta.theta_forecast):
        (low80, high80), (low95, high95) = forecast.interval(80.0), forecast.interval(95.0)
        assert np.all((low95 <= low80) & (low80 <= forecast.mean))
        assert np.all((forecast.mean <= high80) & (high80 <= high95))


def test_the_chosen_ets_forecasts_lie_beside_the_theta_forecasts(results):
    """The ETS model chosen by AICc and the two theta models forecast the same year: a trend
    that grows by itself, or a season out of phase, would part them by more than 5%."""
    theta, dotm = results.theta.theta_forecast.mean, results.theta.dotm_forecast.mean
    low, high = np.minimum(theta, dotm), np.maximum(theta, dotm)
    assert np.all(
        (0.95 * low <= results.ets.forecast.mean) & (results.ets.forecast.mean <= 1.05 * high)
    )


def test_batch_filter_of_the_candidates_is_their_single_filters_bit_for_bit(results):
    """One batch_ets_filter call over the fitted model and the same arguments with each other
    season gives what ets_filter gives for each."""
    y, arguments = results.series.y, results.ets.chosen.arguments
    variants = [(*arguments[:-1], season) for season in (0, 1, 2)]
    single = [core.ets_filter(y, *args) for args in variants]
    assert same_bits(core.batch_ets_filter([y] * len(variants), variants), single)


# --- the command ---------------------------------------------------------------------


def test_plot_draws_the_forecasts_and_both_intervals(demo):
    text, picture = demo
    if picture is None:
        pytest.skip("matplotlib is not installed")
    from matplotlib.image import imread

    assert text.rstrip().endswith(f"plot written to {picture}")
    pixels = imread(picture)[..., :3]  # a valid PNG of the documented size
    red, green, blue = pixels[..., 0], pixels[..., 1], pixels[..., 2]
    line = (red > 0.7) & (green < 0.3) & (blue < 0.3)
    # the two bands: red shades blended into the white background, one lighter than the other
    band = (red > 0.9) & (np.abs(green - blue) < 0.05) & (green > 0.6) & (green < 0.95)
    shades = np.unique(np.round(green[band], 1))
    assert pixels.shape == (550, 1000, 3) and line.sum() > 200 and band.sum() > 1000
    assert len(shades) >= 2


NO_MATPLOTLIB = (
    "import sys, runpy; sys.modules['matplotlib'] = None; "
    "runpy.run_module('lumetra', run_name='__main__')"
)


@pytest.mark.parametrize(
    "name, code, message",
    [
        pytest.param(
            "x.png",
            NO_MATPLOTLIB,
            "--plot needs matplotlib, which is not installed;\n"
            "install it with: pip install 'lumetra[plot]'",
            id="no matplotlib",
        ),
        pytest.param("missing/x.png", None, "there is no directory", id="no directory"),
        pytest.param("folder.png", None, "it is a directory", id="a directory"),
        pytest.param(
            "x.txt", None, "name a picture file ending in one of .eps", id="not a picture"
        ),
    ],
)
def test_a_plot_that_cannot_be_written_stops_the_command_at_once_with_a_short_message(
    tmp_path, name, code, message
):
    if code is None:
        pytest.importorskip("matplotlib")
    (tmp_path / "folder.png").mkdir()
    result = run_demo("--plot", str(tmp_path / name), code=code)
    assert result.returncode == 2 and result.stdout == "" and not list(tmp_path.glob("x.*"))
    assert result.stderr.startswith("python -m lumetra: ") and message in result.stderr
    assert result.stderr.count("\n") == 1 + message.count("\n")  # one line, no traceback


def test_a_relative_plot_name_is_written_in_the_working_directory(tmp_path):
    pytest.importorskip("matplotlib")
    result = run_demo("--plot", "relative.png", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.rstrip().endswith("plot written to relative.png")
    assert (tmp_path / "relative.png").stat().st_size > 0


def test_running_inside_the_source_checkout_explains_what_to_do():
    # The build happens out of tree: the checkout's lumetra/ has no compiled module, and
    # `python -m lumetra` started there finds that directory first.
    if list((SOURCE_TREE / "lumetra").glob("_core*.so")):
        pytest.skip("a compiled module lies in the source checkout")
    result = run_demo(cwd=SOURCE_TREE)
    assert result.returncode == 1
    assert "cannot be imported" in result.stderr and "python -P" in result.stderr
