"""Run every benchmark module (bench_*.py here) and print one table.

    python benchmarks/run.py [--only NAME ...] [--write RESULTS.md]

Each row times one function on one input size against its peers, measured in the
same process with interleaved rounds; see harness.table for the columns.
"""

from __future__ import annotations

import argparse
import importlib
import pathlib
import sys

here = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(here))

import harness  # noqa: E402


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--only", nargs="*", default=None, help="benchmark modules, e.g. bench_ses")
    parser.add_argument("--write", metavar="FILE", help="also write the table as Markdown")
    args = parser.parse_args()
    # bench_m3_peers.py is a script of its own (whole models on the M3 series), not a table of cases.
    modules = sorted(path.stem for path in here.glob("bench_*.py") if path.stem != "bench_m3_peers")
    if args.only:
        modules = [
            name
            for name in modules
            if name in args.only or name.removeprefix("bench_") in args.only
        ]
    results = []
    for name in modules:
        module = importlib.import_module(name)
        for case in module.cases():
            result = harness.measure(case)
            results.append(result)
            print(harness.table([result]).splitlines()[-1], flush=True)
    text = harness.table(results)
    print()
    print(f"Machine: {harness.machine()}")
    print(text)
    if args.write:
        # The M3 section, written by bench_m3_peers.py, is kept as it is.
        path = pathlib.Path(args.write)
        old = path.read_text() if path.exists() else ""
        marker = "<!-- m3 peers: begin -->"
        kept = old[old.index(marker) :] if marker in old else ""
        path.write_text(
            "# Benchmark results\n\n"
            f"Machine: {harness.machine()}\n\n"
            "All times are medians of 7 interleaved rounds measured in the same process. "
            "numba / ours and package / ours: the peer's time divided by ours (above 1: we are "
            "faster). ours / floor: our time divided by the floor's, for short inputs, the floor "
            "being a no-op function that reads the same arguments by their kinds and returns new "
            "objects of the result's shape (1.00: no cost above the floor). At a limit: the rows "
            "whose time is set by the hardware rather than by the code. Latency: one chain of "
            "dependent steps, each waiting for the previous one's result, so that numba's loop and "
            "ours tie; nothing but a different order of operations (which would change the bits) "
            "could overlap the steps. Division: one division per value, at the throughput of the "
            "processor's divider.\n\n" + text + "\n" + ("\n" + kept if kept else "")
        )


if __name__ == "__main__":
    main()
