"""Run every benchmark module (bench_*.py here) and print one table.

    python benchmarks/run.py [--only NAME ...] [--write RESULTS.md]

Ratios are peer time / our time, measured in the same process with the
measurements interleaved; above 1 means the peer is slower.
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
    modules = sorted(path.stem for path in here.glob("bench_*.py"))
    if args.only:
        modules = [name for name in modules if name in args.only or name.removeprefix("bench_") in args.only]
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
        pathlib.Path(args.write).write_text(
            "# Benchmark results\n\n"
            f"Machine: {harness.machine()}\n\n"
            "Ratios are the peer's time per call divided by ours, measured in the same process "
            "with interleaved rounds (median of 7); above 1 means the peer is slower.\n\n"
            + text
            + "\n"
        )


if __name__ == "__main__":
    main()
