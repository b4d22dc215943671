"""Benchmark harness: per-call timings of lumetra._core against peers, in one process.

A benchmark module (bench_*.py in this directory) defines `cases()`, returning
`Case` objects. Each case times our call and any number of peers on the same
inputs (a numba transcription, an established package, a floor), interleaving
the measurements so that machine noise hits all of them alike, and reports
each peer's time as a ratio to ours: a ratio above 1 means the peer is slower.

Timings are printed, never asserted: this is not a test.
"""

from __future__ import annotations

import contextlib
import functools
import math
import os
import pathlib
import platform
import statistics
import sys
import time
from collections.abc import Callable
from dataclasses import dataclass, field

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))


@dataclass
class Case:
    function: str  # the lumetra._core function measured
    size: str  # a short description of the inputs, e.g. "n=10^6"
    ours: Callable[[], object]
    peers: dict[str, Callable[[], object]] = field(default_factory=dict)
    # optional check that a peer computes the same quantity: (ours, peer) -> bool,
    # one for every peer or one per peer name (a peer left out is not checked)
    check: Callable[[object, object], bool] | dict[str, Callable[[object, object], bool]] | None = (
        None
    )
    note: str = ""
    # why the row sits at a physical limit, if it does (LATENCY, MEMORY): no
    # implementation of the same operations in the same order can go faster
    limit: str = ""


# One chain of dependent steps: each value waits for the one before it, so
# the time is the chain's length times the latency of one step's operations,
# whatever the compiler (numba's loop ties with ours).
LATENCY = "latency: one chain of dependent steps, each waiting for the one before"
# One correctly rounded division per value, all of them independent: the time
# is the divider's throughput (four values per vector division with AVX2),
# which no other order of the same operations changes.
DIVISION = "division: one division per value, at the divider's throughput"


@contextlib.contextmanager
def _quiet_stderr():
    """Standard error closed to this process's C code (the reports of the failures that probing provokes)."""
    saved = os.dup(2)
    try:
        with open(os.devnull, "w") as devnull:
            os.dup2(devnull.fileno(), 2)
            yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)


@functools.cache
def kinds(function) -> bytes:
    """The argument kinds of a function of lumetra._core, as the no-op floor spells them: learnt from the module's
    conversions as the fuzzer learns them (floor/floor.cpp lists the letters)."""
    from fuzz import kinds_of

    letters = {"FA": "A", "IA": "I", "F": "F", "U": "U", "B": "B", "Y": "Y", "P": "P"}
    with _quiet_stderr():
        return "".join(letters[kind] for kind in kinds_of(function)).encode()


def noop_floor(function, args: tuple) -> Callable[[], object]:
    """The no-op floor of function(*args): a fast call that reads the same arguments by their kinds and returns new
    objects of the shape of the function's result, computing nothing (floor/floor.cpp)."""
    from lumetra_bench_floor import noop

    floor = noop(kinds(function), function(*args))
    return lambda: floor(*args)


def exact(ours, peer) -> bool:
    """Bit-identical results (NaN-aware); a peer returning a floor value is skipped."""
    import numpy as np

    if isinstance(ours, tuple | list):
        return (
            isinstance(peer, tuple | list)
            and len(ours) == len(peer)
            and all(map(exact, ours, peer))
        )
    a, b = np.asarray(ours, dtype=float), np.asarray(peer, dtype=float)
    return a.shape == b.shape and bool(np.array_equal(a, b, equal_nan=True))


@dataclass
class Result:
    case: Case
    ours: float  # seconds per call (median of rounds)
    peers: dict[str, float]
    mismatched: list[str]


def _calls_per_round(fn: Callable[[], object], target: float) -> int:
    calls = 1
    while True:
        start = time.perf_counter()
        for _ in range(calls):
            fn()
        elapsed = time.perf_counter() - start
        if elapsed >= target / 4 or calls >= 1 << 24:
            return max(1, math.ceil(calls * target / max(elapsed, 1e-9)))
        calls *= 4


def _round(fn: Callable[[], object], calls: int) -> float:
    start = time.perf_counter()
    for _ in range(calls):
        fn()
    return (time.perf_counter() - start) / calls


def measure(case: Case, rounds: int = 7, target: float = 0.05) -> Result:
    """Median per-call time of ours and of each peer, measured in alternation."""
    contenders = {"ours": case.ours, **case.peers}
    mismatched = []
    reference = case.ours()  # also warms up (numba compiles on first call)
    for name, fn in case.peers.items():
        value = fn()
        check = case.check.get(name) if isinstance(case.check, dict) else case.check
        # a no-op floor computes nothing, so there is nothing to compare
        if check is not None and "no-op" not in name and not check(reference, value):
            mismatched.append(name)
    calls = {name: _calls_per_round(fn, target) for name, fn in contenders.items()}
    samples: dict[str, list[float]] = {name: [] for name in contenders}
    for _ in range(rounds):
        for name, fn in contenders.items():
            samples[name].append(_round(fn, calls[name]))
    medians = {name: statistics.median(values) for name, values in samples.items()}
    ours = medians.pop("ours")
    return Result(case, ours, medians, mismatched)


def format_time(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def machine() -> str:
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    import os

    return f"{cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, Python {platform.python_version()}"


def column(peer: str) -> str:
    """The table column a peer belongs to, by the naming convention of the cases:
    "numba" (a numba transcription), a name containing "floor" (the no-op call
    floor, noop_floor), and any other name an established package or
    implementation."""
    if peer == "numba":
        return "numba"
    if "floor" in peer:
        return "floor"
    return "package"


COLUMNS = {"numba": "numba / ours", "package": "package / ours", "floor": "ours / floor"}


def table(results: list[Result]) -> str:
    """A Markdown table, one row per case. Peers appear as ratios: for numba and
    packages, their time over ours (above 1: we are faster); for the floor, our
    time over the floor's (1.00 would be no cost above the floor)."""
    header = ["function", "inputs", "ours / call", *COLUMNS.values(), "at a limit", "note"]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for result in results:
        cells = {key: [] for key in COLUMNS}
        for name, seconds in result.peers.items():
            key = column(name)
            ratio = result.ours / seconds if key == "floor" else seconds / result.ours
            mark = " (differs!)" if name in result.mismatched else ""
            label = "" if key == "numba" else f"{name}: "
            cells[key].append(f"{label}{ratio:.2f}{mark}")
        row = [f"`{result.case.function}`", result.case.size, format_time(result.ours)]
        row += ["<br>".join(cells[key]) for key in COLUMNS]
        row += [result.case.limit, result.case.note]
        lines.append("| " + " | ".join(row) + " |")
    return "\n".join(lines)
