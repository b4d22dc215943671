"""Fit simple exponential smoothing to the airline passengers series.

The smoothing weight is chosen by a golden-section search over ses_sse, and
ses_filter gives the levels for that weight; the last level is the forecast.
"""

from __future__ import annotations

import math
import time

import numpy as np

import lumetra._core as core
from lumetra.datasets import airline_passengers


def golden_section(objective, lo: float, hi: float, iterations: int = 60) -> float:
    ratio = (math.sqrt(5.0) - 1.0) / 2.0
    for _ in range(iterations):
        d = (hi - lo) * ratio
        x1, x2 = hi - d, lo + d
        if objective(x1) < objective(x2):
            hi = x2
        else:
            lo = x1
    return (lo + hi) / 2.0


def main() -> None:
    months, y = airline_passengers()
    start = time.perf_counter()
    alpha = golden_section(lambda a: core.ses_sse(y, a), 0.0, 1.0)
    elapsed = time.perf_counter() - start
    levels = core.ses_filter(y, alpha)
    sse = core.ses_sse(y, alpha)
    print(f"series: airline passengers, {months[0]} to {months[-1]} ({y.size} months)")
    print(f"smoothing weight alpha = {alpha:.4f} (120 evaluations of ses_sse in {elapsed * 1e3:.2f} ms)")
    print(f"sum of squared one-step errors = {sse:.1f}, RMSE = {math.sqrt(sse / (y.size - 1)):.2f}")
    print("last year, observed vs one-step forecast:")
    for month, observed, forecast in zip(months[-12:], y[-12:], np.concatenate(([levels[-13]], levels[-12:-1]))):
        print(f"  {month}  {observed:6.0f}  {forecast:8.1f}")
    print(f"forecast for 1961-01: {levels[-1]:.1f}")


if __name__ == "__main__":
    main()
