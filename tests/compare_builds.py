"""Results of a fixed, seeded set of calls, as bits, written by one build and compared by another.

    python compare_builds.py --write FILE     # e.g. with the GCC build
    python compare_builds.py --compare FILE   # with the Clang build: the same bits, NaN included

Every case of test_layouts.py runs on its own inputs, on non-finite and constant series, on series
scaled towards overflow and towards the subnormal range, and on seeded perturbations (values that
are not dyadic fractions, so that any change of rounding shows)."""

from __future__ import annotations

import json
import sys

import numpy as np
from test_layouts import CASES, KINDS, variant


def flat(result) -> list[float]:
    if isinstance(result, tuple | list):
        return [x for item in result for x in flat(item)]
    return np.atleast_1d(np.asarray(result, np.float64)).tolist()


def inputs(values: list) -> dict[str, list]:
    arrays = [np.asarray(v, np.float64) if isinstance(v, list) else v for v in values]

    def each(change) -> list:  # the float64 arrays (not four_theta_fitted's lengths)
        return [change(a) if a.dtype == np.float64 else a for a in arrays]

    out = {kind: each(lambda a, kind=kind: variant(a, kind)) for kind in KINDS}
    for seed in range(3):
        rng = np.random.default_rng(seed)
        out[f"seed {seed}"] = each(lambda a, rng=rng: a * rng.uniform(0.9, 1.1, a.size))
    return out


def results() -> dict[str, str]:
    out = {}
    np.seterr(all="ignore")  # the scaled inputs overflow on purpose
    for case, (call, values) in CASES.items():
        for kind, args in inputs(values).items():
            try:
                out[f"{case}, {kind}"] = np.array(flat(call(*args))).view(np.uint64).tobytes().hex()
            except BaseException as error:  # noqa: BLE001 - a PanicException is a result too
                out[f"{case}, {kind}"] = f"{type(error).__name__}: {error}"
    return out


if __name__ == "__main__":
    mode, path = sys.argv[1:3]
    if mode == "--write":
        with open(path, "w") as file:
            json.dump(results(), file, indent=0)
        sys.exit(0)
    with open(path) as file:
        expected, actual = json.load(file), results()
    # Every bit must agree, NaN included (the module hands out one NaN).
    differing = sorted(
        case for case in expected.keys() | actual.keys() if expected.get(case) != actual.get(case)
    )
    print(
        f"{len(actual)} results, {len(differing)} differ"
        + "".join(f"\n  {case}" for case in differing)
    )
    sys.exit(1 if differing else 0)
