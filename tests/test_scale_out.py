"""examples/dask_batch.py: many series filtered on a Dask cluster of worker processes."""

from __future__ import annotations

import importlib.util
import subprocess
import sys
from pathlib import Path

import pytest

import lumetra._core as core

from helpers import same_bits

distributed = pytest.importorskip("distributed")

EXAMPLE = Path(__file__).parent.parent / "examples" / "dask_batch.py"
location = importlib.util.spec_from_file_location("dask_batch", EXAMPLE)
assert location is not None and location.loader is not None
dask_batch = importlib.util.module_from_spec(location)
location.loader.exec_module(dask_batch)


@pytest.fixture(scope="module")
def client():
    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        # The workers import the example's task function by name, as they would import any
        # module installed beside lumetra.
        client.upload_file(str(EXAMPLE))
        yield client


def test_cluster_results_equal_a_single_process_run(client):
    ys, params, seasonal0 = dask_batch.make_series(3000, 48, seed=7)
    assert len(client.scheduler_info()["workers"]) == 2
    on_cluster = dask_batch.filter_on_cluster(client, ys, params, seasonal0, chunk=256)
    single = dask_batch.filter_in_process(ys, params, seasonal0)
    assert list(on_cluster) == ["fitted", "errors", "level", "trend", "seasonal"]
    assert all(same_bits(on_cluster[key], single[key]) for key in single)
    # and that is what ets_filter gives for a series on its own
    k, p = 2999, params[2999]
    one = core.ets_filter(ys[k], p[0], p[1], seasonal0[k], *p[2:6], *map(int, p[6:]))
    assert same_bits(one, tuple(on_cluster[key][k] for key in single))


def test_script_runs_against_a_scheduler_address(client):
    command = [
        sys.executable,
        str(EXAMPLE),
        "--scheduler",
        client.scheduler.address,
        "--series",
        "2000",
        "--length",
        "36",
        "--chunk",
        "300",
        "--verify",
    ]
    result = subprocess.run(command, capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    assert f"scheduler {client.scheduler.address}, 2 workers" in result.stdout
    assert "results identical to the cluster's: yes" in result.stdout


@pytest.mark.parametrize(
    "address",
    [
        pytest.param("tcp://127.0.0.1:1", id="nothing listening"),
        pytest.param("nonsense://x", id="not an address"),
    ],
)
def test_a_scheduler_that_cannot_be_reached_ends_the_script_at_once_in_one_line(address):
    command = [sys.executable, str(EXAMPLE), "--scheduler", address, "--timeout", "2"]
    result = subprocess.run(command, capture_output=True, text=True, timeout=60)
    assert result.returncode == 2 and result.stdout == ""
    assert result.stderr.startswith(f"dask_batch.py: cannot reach a scheduler at '{address}'")
    assert result.stderr.count("\n") == 1  # no traceback


def test_help_shows_the_defaults():
    result = subprocess.run(
        [sys.executable, str(EXAMPLE), "--help"], capture_output=True, text=True, timeout=60
    )
    text = " ".join(result.stdout.split())
    assert result.returncode == 0
    assert all(
        f"(default: {value})" in text for value in ("start a local cluster", 2, 20000, 60, 1000)
    )
