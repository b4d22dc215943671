"""Every array argument of every function, in every memory layout an argument may come in
(strided, reversed, read-only, a subclass, broadcast, elements not 8-byte aligned), reads
like a contiguous copy of the same values, to the bit, or fails with the same message (that
it comes back unchanged, fuzz.py checks). Series of 0 to 3 values are where a kernel that
needs contiguous data may take a short strided view for a contiguous one; values past 1e154,
whose squares overflow, are where a vector path and the scalar path may part. The table of
calls and their arrays, one per function, is `CASES` of typed/usage.py."""

from __future__ import annotations

import numpy as np
import pytest

import lumetra._core as core

from fuzz import check_result, outcome
from helpers import NANS, every_layout, same_bits
from typed.usage import CASES

# constant arrays, or series (the arrays of more than 20 values) with special values or cut to their first values
KINDS, SHORT = (
    ["as given", "non-finite", "constant", "past 1e154", "below 1e-154"],
    [f"n = {n}" for n in range(4)],
)
# magnitudes across the edges where sums of squares overflow, or squares fall below the normal range
SCALES = {"past 1e154": (1e150, 1e290), "below 1e-154": (1e-150, 1e-300)}


def variant(values: np.ndarray, kind: str) -> np.ndarray:
    if kind == "constant":
        return np.full_like(values, values[0])
    if values.size <= 20 or kind == "as given":
        return values
    if kind == "non-finite":
        values = values.copy()
        values[[3, 9, values.size * 3 // 5, values.size - 2]] = [*NANS, np.inf]
        return values
    if kind in SCALES:
        return values * np.geomspace(*SCALES[kind], values.size)
    return values[: int(kind[-1])]


def test_the_table_holds_every_function():
    assert {name.split()[0] for name in CASES} == set(core.__all__)


@pytest.mark.parametrize("kind", KINDS + SHORT)
@pytest.mark.parametrize("case", CASES)
def test_every_layout_reads_like_a_contiguous_copy(case, kind):
    call, values = CASES[case]
    arrays = [
        variant(np.asarray(v, np.float64) if isinstance(v, list) else v, kind) for v in values
    ]
    expected = outcome(call, arrays, {})
    # new arrays, every NaN np.nan: also where a kernel skips the scan for NaNs
    if expected[0] is None:
        check_result(case, expected[1], arrays)
    per_array = [every_layout(a) for a in arrays]
    for name in dict.fromkeys(name for views in per_array for name in views):
        args = [views.get(name, a) for views, a in zip(per_array, arrays)]
        assert same_bits(outcome(call, args, {}), expected), name
