"""Every function's cheapest call (an empty series, or one observation where an
empty one is refused) against its no-op floor: a fast-call function that reads
the same arguments and builds the same result objects (the same new arrays,
floats, tuples and list) without computing (harness.noop_floor). What is left
above the floor is the call frame, the kernel's set-up and the hand-over of the
results.
"""

from __future__ import annotations

import numpy as np

import lumetra._core as core

from harness import Case, noop_floor

EMPTY, ONE = np.empty(0), np.array([1.0])
SEASONAL = np.sin(2 * np.pi * np.arange(12) / 12)
ETS = (100.0, 0.05, SEASONAL, 0.3, 0.05, 0.1, 0.98, 12, 0, 1, 1)

CALLS = {
    "ets_filter": (EMPTY, *ETS),
    "ets_loglik": (EMPTY, *ETS),
    "theta_decompose": (EMPTY, 2.0),
    "arima_css": (EMPTY, EMPTY, EMPTY, 0),
    "css_objective": (EMPTY, EMPTY, EMPTY),
    "seasonal_css_objective": (EMPTY, EMPTY, EMPTY, EMPTY, EMPTY, 12),
    "ses_sse": (ONE, 0.5),
    "ses_filter": (ONE, 0.5),
    "batch_ets_filter": ([EMPTY], [ETS]),
    "dot_objective": (EMPTY, 1.0, 0.1, 2.0, 0.3, 0.1),
    "dot_residuals": (EMPTY, 1.0, 0.1, 2.0, 0.3, 0.1),
    "ces_nonseasonal_sse": (EMPTY, 1.1, 0.5),
    "ces_seasonal_sse": (EMPTY, 1.1, 0.5, 0.1, SEASONAL, 12),
    "garch_filter": (EMPTY, 0.0, 0.1, 0.1, 0.8, 1.0, False, 0.0),
    "egarch_filter": (EMPTY, 0.0, -0.1, 0.1, 0.9, -0.05, 0.0),
    "gjr_garch_filter": (EMPTY, 0.0, 0.1, 0.05, 0.8, 0.1, 1.0),
    "tbats_filter": (ONE, 0.2, 0.05, 0.98, True, True, EMPTY, 0),
    "dtsf_distances": (EMPTY, EMPTY, 0, 0, False, 0.0, 0),
    "dtsf_fit_residuals": (EMPTY, 1, 1, False),
    "mstl_extract_seasonal": (EMPTY, 12),
    "mstl_moving_average": (EMPTY, 7),
    "croston_tsb_filter": (EMPTY, 0.1, 0.05, 5.0, 0.35),
    "esn_reservoir_update": (EMPTY, np.ones(4), np.ones(16), 4, 0.5, 0),
    "four_theta_fitted": (0, EMPTY, EMPTY, EMPTY, EMPTY, EMPTY, np.empty(0, np.int64), EMPTY),
    "four_theta_deseasonalize": (EMPTY, 12),
    "dot_hybrid_objective": (EMPTY, EMPTY, 2.0, True),
    "sample_entropy": (EMPTY, 2, 0.2),
    "approximate_entropy": (EMPTY, 2, 0.2),
    "hurst_exponent": (EMPTY, 20),
}


def cases():
    # A function without a call here is left out of this table (and named), not an error:
    # a new function needs nothing in the benchmarks to be complete.
    missing = [name for name in core.__all__ if name not in CALLS]
    if missing:
        print(f"bench_empty: no cheapest call for {', '.join(missing)}; left out")
    for name in (name for name in core.__all__ if name in CALLS):
        args = CALLS[name]
        ours = getattr(core, name)
        label = (
            "n=1"
            if args[0] is ONE
            else "one empty series, p=12"
            if name == "batch_ets_filter"
            else "n=0"
        )
        yield Case(
            name,
            f"{label} (the call alone)",
            lambda f=ours, a=args: f(*a),
            {"no-op floor": noop_floor(ours, args)},
        )
