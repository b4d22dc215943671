"""The demonstration that `python -m lumetra` runs.

It fits a range of forecasting models to the monthly airline passengers series shipped
with the package, using only lumetra._core's objectives and filters and the two small
optimisers in `lumetra.demo.optimize`, and prints what each step found and how long it
took. `--plot FILE.png` also draws the series with fitted values and forecasts.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence
from pathlib import Path

from lumetra.datasets import airline_passengers

from .report import Results, run

__all__ = ["Results", "main", "run"]


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m lumetra",
        description="Fit forecasting models to the airline passengers series with "
        "lumetra._core and print a report.",
    )
    parser.add_argument(
        "--plot",
        metavar="FILE.png",
        type=Path,
        help="also draw the series, fitted values and forecasts",
    )
    args = parser.parse_args(argv)
    if args.plot is not None:
        try:
            import matplotlib  # noqa: F401
        except ImportError:
            print(
                "python -m lumetra: --plot needs matplotlib, which is not installed;\n"
                "install it with: pip install 'lumetra[plot]' (or: pip install matplotlib)",
                file=sys.stderr,
            )
            return 2

    months, y = airline_passengers()
    results = run(months, y, sys.stdout)
    if args.plot is not None:
        from .plot import plot

        plot(results, args.plot)
        print(f"plot written to {args.plot}")
    return 0
