"""Series diagnostics: Hurst exponent, entropies and Croston smoothing of record months."""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

import lumetra._core as core
from lumetra.models.optimize import bounded, nelder_mead

from . import Array
from .decomposition import Seasonal


@dataclass(frozen=True)
class Diagnostics:
    hurst_level: float  # Hurst exponent of the series itself
    hurst_growth: float  # of the seasonally adjusted monthly growth
    sample_entropy: tuple[float, float]  # monthly growth, and the same values shuffled
    approximate_entropy: tuple[float, float]
    records: int  # months that set a new record of the adjusted series
    record_size: float  # Croston TSB: smoothed size of the rise over the old record
    record_probability: float  # and smoothed probability that a month sets one


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

    def tsb(u: Sequence[float]) -> float:
        alpha, beta = bounded(u[0], 0.0, 1.0), bounded(u[1], 0.0, 1.0)
        return core.croston_tsb_filter(records, alpha, beta, events[0], events.size / records.size)[
            2
        ]

    best = nelder_mead(tsb, [0.0, 0.0])
    size, probability, _ = core.croston_tsb_filter(
        records,
        bounded(best.x[0], 0.0, 1.0),
        bounded(best.x[1], 0.0, 1.0),
        events[0],
        events.size / records.size,
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
    )
