"""Shared helpers for the test suite."""

from __future__ import annotations

import ctypes
import ctypes.util
import math
import sys

import numpy as np

import lumetra._core as core


def PanicException() -> type[BaseException]:
    """The module's internal-failure type (it is created at the first failure)."""
    try:
        core.ses_sse(np.empty(0), 0.5)
    except BaseException as exc:  # noqa: BLE001 - the type is what we want
        return type(exc)
    raise AssertionError("an empty series must fail")


def layouts(values, dtype=np.float64) -> dict[str, np.ndarray]:
    """The same values laid out in memory in every way an argument may come (each shows `values`)."""
    base = np.asarray(values, dtype=dtype)
    strided = np.empty(2 * base.size, dtype=base.dtype)
    strided[::2] = base
    strided[1::2] = np.nan if base.dtype.kind == "f" else np.iinfo(base.dtype).min  # never to be read
    readonly = base.copy()
    readonly.flags.writeable = False
    out = {"contiguous": base.copy(), "strided": strided[::2], "reversed": np.ascontiguousarray(base[::-1])[::-1],
           "readonly": readonly, "subclass": base.copy().view(type("Sub", (np.ndarray,), {}))}  # fmt: skip
    if base.size and np.array_equal(base, np.full(base.size, base[0]), equal_nan=True):
        out["broadcast"] = np.broadcast_to(base[:1], base.shape)
    return out


def same_bits(a, b) -> bool:
    """Exact equality that also holds for NaN at the same positions."""
    if isinstance(a, tuple | list):
        return type(a) is type(b) and len(a) == len(b) and all(map(same_bits, a, b))
    if isinstance(a, np.ndarray):
        if not (isinstance(b, np.ndarray) and a.shape == b.shape and a.dtype == b.dtype):
            return False
        both_nan = np.isnan(a) & np.isnan(b)
        return bool(np.array_equal(a.view(np.int64)[~both_nan], b.view(np.int64)[~both_nan]))
    if isinstance(a, float) and isinstance(b, float):
        return (math.isnan(a) and math.isnan(b)) or (a == b and math.copysign(1, a) == math.copysign(1, b))
    if isinstance(a, float):
        return False
    return a == b


def raised(function, *args, **kwargs) -> tuple[type[BaseException], str]:
    """The exact type and the message of the exception that the call must raise."""
    try:
        function(*args, **kwargs)
    except BaseException as exc:  # noqa: BLE001 - PanicException derives from BaseException
        return type(exc), str(exc)
    raise AssertionError("the call returned")


def panic_message(function, *args) -> str:
    """The message of the PanicException that the call must raise."""
    kind, message = raised(function, *args)
    assert kind is PanicException(), (kind, message)
    return message


def check(function, args, expected) -> None:
    """The call (lists given as float64 arrays) returns `expected` bit for bit, or, where
    `expected` is a str, fails with exactly that message."""
    args = [arr(a) if isinstance(a, list) else a for a in args]
    assert same_bits(panic_message(function, *args) if isinstance(expected, str) else function(*args), expected)


def refcounts(*objects) -> list[int]:
    return [sys.getrefcount(o) for o in objects]


def c_math(name: str, arity: int = 1):
    """The platform's own double function `name` (IEEE results, no Python exceptions)."""
    function = getattr(ctypes.CDLL(ctypes.util.find_library("m")), name)
    function.restype, function.argtypes = ctypes.c_double, [ctypes.c_double] * arity
    return function


def arr(values, dtype=np.float64) -> np.ndarray:
    return np.array(values, dtype=dtype)


def obj(name: str = "Obj", module: str = __name__, **methods):
    """An instance of a new class `name` (in `module`) with the given methods."""
    return type(name, (), {"__module__": module, **methods})()


def raiser(exc: BaseException):
    """A method that raises `exc`."""

    def method(self):
        raise exc

    return method


# C's double functions where Python's would raise or differ, for the transcriptions.


def fmax(a: float, b: float) -> float:
    """A NaN operand yields the other one."""
    return b if math.isnan(a) else a if math.isnan(b) else max(a, b)


def fmin(a: float, b: float) -> float:
    return b if math.isnan(a) else a if math.isnan(b) else min(a, b)


def exp(x: float) -> float:
    """math.exp, with infinity where it would overflow."""
    try:
        return math.exp(x)
    except OverflowError:
        return math.inf


def log(x: float) -> float:
    """math.log, with the IEEE answers where it would raise."""
    return -math.inf if x == 0 else math.nan if x < 0 else math.log(x)
