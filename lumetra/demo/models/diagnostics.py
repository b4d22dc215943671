"""Series diagnostics: Hurst exponent, entropies and Croston smoothing of record months."""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

import lumetra._core as core
from lumetra.models.optimize import bounded, nelder_mead

from . import Array, Series, bounds_line
from .decomposition import Seasonal

TSB_BOUNDS = {"alpha": (0.0, 1.0), "beta": (0.0, 1.0)}


@dataclass(frozen=True)
class Diagnostics:
    hurst_level: float  # Hurst exponent of the series itself
    hurst_growth: float  # of the seasonally adjusted monthly growth
    sample_entropy: tuple[float, float]  # monthly growth, and the same values shuffled
    approximate_entropy: tuple[float, float]
    records: int  # months that set a new record of the adjusted series
    record_size: float  # Croston TSB: smoothed size of the rise over the old record
    record_probability: float  # and smoothed probability that a month sets one
    tsb: dict[str, float]  # Croston TSB's weights, alpha (size) and beta (probability)

    def describe(self, series: Series) -> list[str]:
        months = series.y.size - 1
        return [
            f"hurst_exponent: passengers {self.hurst_level:.3f}, adjusted monthly growth "
            f"{self.hurst_growth:.3f}",
            f"sample_entropy of the monthly growth {self.sample_entropy[0]:.3f}, "
            f"shuffled {self.sample_entropy[1]:.3f}: a regular rhythm",
            f"approximate_entropy of the monthly growth {self.approximate_entropy[0]:.3f}, "
            f"shuffled {self.approximate_entropy[1]:.3f}: the reverse",
            "  order, as it counts each pattern's match with itself, which lowers the score",
            f"  of an irregular series of {months} values most; sample_entropy leaves those out",
            f"croston_tsb_filter on the months that set a new record ({self.records} of "
            f"{months}, a share of {self.records / months:.2f}):",
            f"  alpha = {self.tsb['alpha']:.3f}, beta = {self.tsb['beta']:.3f}; "
            f"{bounds_line(self.tsb, TSB_BOUNDS)}",
            f"  smoothed estimates after {series.months[-1]}: a record with probability "
            f"{self.record_probability:.2f}, rising {self.record_size:.1f} thousand",
        ]


def fit(y: Array, seasonal: Seasonal) -> Diagnostics:
    r = np.diff(np.log(y))
    shuffled = np.random.default_rng(1960).permutation(r)
    tolerance = 0.2 * float(np.std(r))
    adjusted_growth = np.diff(np.log(seasonal.adjusted))
    # An intermittent series: by how much each month beats the record of the adjusted
    # series so far (zero when it does not), smoothed by Croston's method (TSB form).
    adjusted = seasonal.adjusted
    records = np.maximum(adjusted[1:] - np.maximum.accumulate(adjusted)[:-1], 0.0)
    events = records[records > 0]

    def weights(u: Sequence[float]) -> dict[str, float]:
        return {name: bounded(v, *TSB_BOUNDS[name]) for name, v in zip(TSB_BOUNDS, u)}

    def tsb(u: Sequence[float]) -> float:
        w = weights(u)
        return core.croston_tsb_filter(
            records, w["alpha"], w["beta"], events[0], events.size / records.size
        )[2]

    best = weights(nelder_mead(tsb, [0.0, 0.0]).x)
    size, probability, _ = core.croston_tsb_filter(
        records, best["alpha"], best["beta"], events[0], events.size / records.size
    )
    return Diagnostics(
        core.hurst_exponent(y, 36),
        core.hurst_exponent(adjusted_growth, 36),
        (core.sample_entropy(r, 2, tolerance), core.sample_entropy(shuffled, 2, tolerance)),
        (
            core.approximate_entropy(r, 2, tolerance),
            core.approximate_entropy(shuffled, 2, tolerance),
        ),
        int(events.size),
        size,
        probability,
        best,
    )
