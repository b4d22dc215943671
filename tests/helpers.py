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
    """The same values laid out in memory in every way an argument may come.

    Each array shows `values` at index i; only the layout differs.
    """
    base = np.asarray(values, dtype=dtype)
    n = base.size
    strided = np.empty(2 * n, dtype=base.dtype)
    strided[::2] = base
    # never to be read
    strided[1::2] = np.nan if base.dtype.kind == "f" else np.iinfo(base.dtype).min
    reversed_ = np.ascontiguousarray(base[::-1])[::-1]
    readonly = base.copy()
    readonly.flags.writeable = False

    class Sub(np.ndarray):
        pass

    out = {
        "contiguous": base.copy(),
        "strided": strided[::2],
        "reversed": reversed_,
        "readonly": readonly,
        "subclass": base.copy().view(Sub),
    }
    if n > 0 and np.array_equal(base, np.full(n, base[0]), equal_nan=True):
        out["broadcast"] = np.broadcast_to(base[:1], (n,))
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
    if isinstance(a, float):
        return isinstance(b, float) and (
            (math.isnan(a) and math.isnan(b)) or (a == b and math.copysign(1, a) == math.copysign(1, b))
        )
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
    args = as_arrays(args)
    if isinstance(expected, str):
        assert panic_message(function, *args) == expected
    else:
        assert same_bits(function(*args), expected)


def refcounts(*objects) -> list[int]:
    return [sys.getrefcount(o) for o in objects]


def c_math(name: str, arity: int = 1):
    """The platform's own double function `name` (IEEE results, no Python exceptions)."""
    function = getattr(ctypes.CDLL(ctypes.util.find_library("m")), name)
    function.restype = ctypes.c_double
    function.argtypes = [ctypes.c_double] * arity
    return function


def arr(values, dtype=np.float64) -> np.ndarray:
    return np.array(values, dtype=dtype)


def as_arrays(args) -> list:
    """The arguments with every list made a float64 array."""
    return [arr(a) if isinstance(a, list) else a for a in args]


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
