"""Filter many series with batch_ets_filter in parallel on a Dask cluster.

    python examples/dask_batch.py                         # a local cluster, 2 worker processes
    python examples/dask_batch.py --workers 8 --series 1000000 --chunk 10000
    python examples/dask_batch.py --scheduler tcp://scheduler-host:8786  # a running cluster
    python examples/dask_batch.py --series 3000 --verify  # compare with one process

The series are cut into chunks; each chunk (a 2-D array with one series per row, and the
rows of the parameter table that go with it) is scattered to the workers and filtered
there by one batch_ets_filter call. The functions of lumetra._core are module-level
builtins: they pickle by reference, so every worker calls its own installed copy of the
module (lumetra must be installed wherever a worker runs; this script itself need not be).

Needs Dask's distributed scheduler: pip install 'lumetra[dask]'.
"""

from __future__ import annotations

import argparse
import sys
import time
from collections.abc import Sequence
from typing import Any

import numpy as np
from numpy.typing import NDArray

import lumetra._core as core

PERIOD = 12
# Columns of the parameter table: the scalar items of a batch_ets_filter tuple.
COLUMNS = (
    "level0",
    "trend0",
    "alpha",
    "beta",
    "gamma",
    "phi",
    "period",
    "error_type",
    "trend_type",
    "seasonal_type",
)
Array = NDArray[np.float64]
Stacked = dict[str, Array]


def make_series(count: int, length: int = 60, seed: int = 0) -> tuple[Array, Array, Array]:
    """`count` synthetic monthly series with an ETS model each.

    Returns the series (one per row), the parameter table (one row per series, columns as
    in COLUMNS) and the initial seasonal states (one row of PERIOD values per series).
    Each series is a trend times a seasonal wave plus noise; the models vary over the
    additive and multiplicative error, trend and season codes.
    """
    rng = np.random.default_rng(seed)
    t = np.arange(length)
    level = rng.uniform(50.0, 500.0, (count, 1))
    growth = rng.uniform(-0.002, 0.01, (count, 1))
    amplitude = rng.uniform(0.0, 0.3, (count, 1))
    phase = rng.uniform(0.0, 2.0 * np.pi, (count, 1))
    wave = 1.0 + amplitude * np.sin(2.0 * np.pi * t / PERIOD + phase)
    ys = level * (1.0 + growth * t) * wave * (1.0 + rng.normal(0.0, 0.03, (count, length)))

    error_type = rng.integers(0, 2, count)
    trend_type = rng.choice([0, 1, 3], count)
    seasonal_type = rng.integers(0, 3, count)
    first_year = ys[:, :PERIOD]
    mean = first_year.mean(axis=1, keepdims=True)
    seasonal0 = np.where((seasonal_type == 2)[:, None], first_year / mean, first_year - mean)
    params = np.column_stack(
        (
            mean[:, 0],
            np.where(trend_type == 3, 1.0, 0.0),
            rng.uniform(0.05, 0.5, count),
            rng.uniform(0.0, 0.05, count),
            rng.uniform(0.0, 0.3, count),
            rng.uniform(0.85, 1.0, count),
            np.full(count, PERIOD),
            error_type,
            trend_type,
            seasonal_type,
        )
    ).astype(np.float64)
    return ys, params, seasonal0


def filter_chunk(ys: Array, params: Array, seasonal0: Array) -> Stacked:
    """The task each worker runs: one batch_ets_filter call over a chunk of series.

    Dask rebuilds the arrays it receives inside its message buffers, where their data need
    not start on an 8-byte boundary; lumetra._core reads such arrays from an aligned copy.
    The results come back stacked into a few arrays, which travel far faster than many small
    ones.
    """
    tuples = [
        (p[0], p[1], s, p[2], p[3], p[4], p[5], int(p[6]), int(p[7]), int(p[8]), int(p[9]))
        for p, s in zip(params.tolist(), seasonal0.tolist(), strict=True)
    ]
    return stack(core.batch_ets_filter(ys, tuples))


def stack(results: Sequence[tuple[Array, Array, float, float, Array]]) -> Stacked:
    """batch_ets_filter's list of tuples as one array per member, one row per series."""
    return {
        "fitted": np.array([r[0] for r in results]),
        "errors": np.array([r[1] for r in results]),
        "level": np.array([r[2] for r in results]),
        "trend": np.array([r[3] for r in results]),
        "seasonal": np.array([r[4] for r in results]),
    }


def filter_in_process(ys: Array, params: Array, seasonal0: Array) -> Stacked:
    """All series in one batch_ets_filter call in this process."""
    return filter_chunk(ys, params, seasonal0)


def filter_on_cluster(
    client: Any, ys: Array, params: Array, seasonal0: Array, chunk: int
) -> Stacked:
    """Filter every series on the cluster behind `client`, in chunks of `chunk` series.

    Returns the stacked results in the order of the series.
    """
    starts = range(0, ys.shape[0], chunk)
    pieces = [
        client.scatter([array[s : s + chunk] for s in starts]) for array in (ys, params, seasonal0)
    ]
    futures = client.map(filter_chunk, *pieces, pure=False)
    parts: list[Stacked] = client.gather(futures)
    return {key: np.concatenate([part[key] for part in parts]) for key in parts[0]}


def identical(a: Stacked, b: Stacked) -> bool:
    """Bit-for-bit equality of two stacked results (NaN equal to NaN)."""
    return a.keys() == b.keys() and all(
        a[key].shape == b[key].shape and a[key].tobytes() == b[key].tobytes() for key in a
    )


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="dask_batch.py", description=__doc__.split("\n\n")[0] if __doc__ else None
    )
    parser.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="address of a running cluster's scheduler, such as tcp://host:8786 "
        "(default: start a local cluster)",
    )
    parser.add_argument(
        "--timeout",
        type=float,
        default=10.0,
        metavar="SECONDS",
        help="how long to try reaching --scheduler before giving up (default: %(default)g)",
    )
    parser.add_argument(
        "--workers",
        type=int,
        default=2,
        help="worker processes of the local cluster (default: %(default)s)",
    )
    parser.add_argument(
        "--series", type=int, default=20_000, help="number of series (default: %(default)s)"
    )
    parser.add_argument(
        "--length", type=int, default=60, help="observations per series (default: %(default)s)"
    )
    parser.add_argument(
        "--chunk", type=int, default=1_000, help="series per task (default: %(default)s)"
    )
    parser.add_argument(
        "--seed", type=int, default=0, help="seed of the synthetic series (default: %(default)s)"
    )
    parser.add_argument(
        "--verify", action="store_true", help="also filter in this process and compare"
    )
    args = parser.parse_args(argv)

    try:
        from distributed import Client, LocalCluster
    except ImportError:
        print("dask_batch.py needs Dask: pip install 'lumetra[dask]'", file=sys.stderr)
        return 2

    cluster = None
    if args.scheduler:
        try:
            client = Client(args.scheduler, timeout=args.timeout)
        except (OSError, ValueError, TypeError) as error:
            # A scheduler that cannot be reached, or an address that is not one.
            reason = " ".join(str(error).split()) or type(error).__name__
            print(
                f"dask_batch.py: cannot reach a scheduler at {args.scheduler!r}: {reason}",
                file=sys.stderr,
            )
            return 2
    else:
        cluster = LocalCluster(
            n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None
        )
        client = Client(cluster)
    ys, params, seasonal0 = make_series(args.series, args.length, args.seed)
    print(f"{args.series} series of {args.length} months, chunks of {args.chunk}")
    try:
        workers = len(client.scheduler_info()["workers"])
        print(f"scheduler {client.scheduler.address}, {workers} workers")
        start = time.perf_counter()
        results = filter_on_cluster(client, ys, params, seasonal0, args.chunk)
        elapsed = time.perf_counter() - start
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    sse = np.sum(results["errors"] ** 2, axis=1)
    print(f"filtered on the cluster in {elapsed:.2f} s")
    print(
        f"sum of squared one-step errors per series: median {np.median(sse):.4g}, "
        f"largest {np.max(sse):.4g}"
    )
    if args.verify:
        start = time.perf_counter()
        local = filter_in_process(ys, params, seasonal0)
        elapsed = time.perf_counter() - start
        same = identical(results, local)
        answer = "yes" if same else "NO"
        print(f"one process: {elapsed:.2f} s; results identical to the cluster's: {answer}")
        if not same:
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
