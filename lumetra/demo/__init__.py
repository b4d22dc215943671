"""The demonstration that `python -m lumetra` runs.

It fits a range of forecasting models to the monthly airline passengers series shipped
with the package: ETS, the theta method and the optimised theta model by the modelling
layer `lumetra.models`, the other families with lumetra._core's objectives and filters and
the layer's small optimisers (one module per model family in `lumetra.demo.models`). It
prints what each step found and how long it took (`lumetra.demo.report`). `--plot FILE.png`
also draws the series with fitted values, forecasts and prediction intervals.
"""

from __future__ import annotations

import argparse
import os
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
    # Whatever keeps the picture from being written is reported before any work is done.
    problem = None if args.plot is None else plot_problem(args.plot)
    if problem is not None:
        print(f"python -m lumetra: {problem}", file=sys.stderr)
        return 2

    months, y = airline_passengers()
    results = run(months, y, sys.stdout)
    if args.plot is not None:
        from .plot import plot

        try:
            plot(results, args.plot)
        except OSError as error:
            print(f"python -m lumetra: cannot write {args.plot}: {error.strerror}", file=sys.stderr)
            return 2
        print(f"plot written to {args.plot}")
    return 0


def plot_problem(path: Path) -> str | None:
    """Why a picture cannot be written to `path`, or None when nothing is in the way."""
    try:
        from matplotlib.backends.backend_agg import FigureCanvasAgg
    except ImportError:
        return (
            "--plot needs matplotlib, which is not installed;\n"
            "install it with: pip install 'lumetra[plot]' (or: pip install matplotlib)"
        )
    formats = FigureCanvasAgg.get_supported_filetypes()
    writable = os.access(path.parent, os.W_OK | os.X_OK) and (
        not path.exists() or os.access(path, os.W_OK)
    )
    if path.suffix[1:].lower() not in formats:
        reason = f"name a picture file ending in one of .{', .'.join(formats)}"
    elif not path.parent.is_dir():
        reason = f"there is no directory {path.parent}"
    elif path.is_dir():
        reason = "it is a directory"
    elif not writable:
        reason = "permission denied"
    else:
        return None
    return f"cannot write {path}: {reason}"
