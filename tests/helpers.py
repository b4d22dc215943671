"""Shared helpers for the test suite."""

from __future__ import annotations

import ctypes
import ctypes.util
import functools
import math
import struct

import numpy as np
import pytest

import lumetra._core as core


def panic_type() -> type[BaseException]:
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
    # never to be read
    strided[1::2] = np.nan if base.dtype.kind == "f" else np.iinfo(base.dtype).min
    readonly = base.copy()
    readonly.flags.writeable = False
    out = {
        "contiguous": base.copy(),
        "strided": strided[::2],
        "reversed": np.ascontiguousarray(base[::-1])[::-1],
        "readonly": readonly,
        "subclass": base.copy().view(type("Sub", (np.ndarray,), {})),
    }
    if base.size and np.array_equal(base, np.full(base.size, base[0]), equal_nan=True):
        out["broadcast"] = np.broadcast_to(base[:1], base.shape)
    return out


def every_layout(values: np.ndarray) -> dict[str, np.ndarray]:
    """The layouts above, every third element backwards, and layouts whose elements are not 8-byte
    aligned: a contiguous array starting one byte into a buffer (as message transports rebuild arrays), its
    reversed view, and a field of a packed record (a byte stride of 9)."""
    shifted, backwards = (
        np.zeros(values.nbytes + 1, np.uint8)[1:].view(values.dtype) for _ in "ab"
    )
    shifted[:], backwards[:] = values, values[::-1]
    records = np.zeros(values.size, dtype=[("x", values.dtype), ("flag", "i1")])
    records["x"] = values
    return {
        **layouts(values, values.dtype),
        "every third, reversed": np.repeat(values[::-1], 3)[::-3],
        "unaligned": shifted,
        "unaligned reversed": backwards[::-1],
        "record field": records["x"],
    }


# NaNs of both signs and with a payload: where two meet, which one an operation returns depends on the operand
# order the compiler picked, and every path must still give the same NaN
NANS = np.array(
    [0x7FF8_0000_0000_0000, 0xFFF8_0000_0000_0000, 0x7FF8_0000_0000_BEEF], np.uint64
).view(np.float64)


def same_bits(a, b) -> bool:
    """Equality of every bit, the sign and payload of a NaN included: what two ways of computing must give."""
    if isinstance(a, tuple | list):
        return type(a) is type(b) and len(a) == len(b) and all(map(same_bits, a, b))
    if isinstance(a, np.ndarray):
        return (
            isinstance(b, np.ndarray)
            and a.shape == b.shape
            and a.dtype == b.dtype
            and a.tobytes() == b.tobytes()
        )
    if isinstance(a, float):
        return isinstance(b, float) and struct.pack("<d", a) == struct.pack("<d", b)
    return a == b


def matches(result, expected) -> bool:
    """The module's result is a transcription's value to the bit, where any NaN stands for np.nan, the one returned."""
    return same_bits(result, as_returned(expected))


def as_returned(v):
    if isinstance(v, tuple | list):
        return type(v)(map(as_returned, v))
    return (
        np.where(np.isnan(v), np.nan, v) if isinstance(v, np.ndarray) else math.nan if v != v else v
    )


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
    assert kind is panic_type(), (kind, message)
    return message


def check(function, args, expected) -> None:
    """The call (lists given as float64 arrays) returns `expected` bit for bit, or, where
    `expected` is a str, fails with exactly that message."""
    args = [arr(a) if isinstance(a, list) else a for a in args]
    assert matches(
        panic_message(function, *args) if isinstance(expected, str) else function(*args), expected
    )


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


def shown(value) -> str:
    """A short readable form of an argument, for test ids: arrays and sequences by their
    first items, large integers as powers, functions by name, other objects by their type."""
    if isinstance(value, bool) or value is None:
        return str(value)
    if isinstance(value, np.generic) and not isinstance(value, np.bool_):
        return f"{type(value).__name__}({shown(value.item())})"
    if isinstance(value, int | np.integer):
        value = int(value)
        sign = "-" if value < 0 else ""
        for k in range(32, 129):
            for offset, text in ((0, ""), (-1, " - 1")):
                if abs(value) == 2**k + offset:
                    return f"{sign}2**{k}{text}"
        for k in range(6, 40):
            if abs(value) == 10**k:
                return f"{sign}10**{k}"
        return str(value)
    if isinstance(value, float | np.floating):
        return f"{float(value):.4g}"
    if isinstance(value, str):
        return repr(value)
    if isinstance(value, np.ndarray):
        if value.ndim != 1:
            return f"array{value.shape} {value.dtype}"
        text = f"[{_first(value[:4].tolist(), len(value))}]"
        return text if value.dtype == np.float64 else f"{text} {value.dtype}"
    if type(value) in (list, tuple):  # (no other iteration is run: it may change something)
        text = _first(value[:4], len(value))
        return f"({text})" if isinstance(value, tuple) else f"[{text}]"
    if isinstance(value, functools.partial):
        return shown(value.func)
    if isinstance(value, dict):
        return ", ".join(f"{key}={shown(item)}" for key, item in value.items())
    name = getattr(value, "__name__", None)
    if name and name != "<lambda>":
        return name
    kind = type(value)
    methods = [key for key in vars(kind) if key.startswith("__") and key not in _PLAIN]
    if getattr(kind, "__module__", None) != "builtins" and methods:  # obj(__float__=...)
        return f"{kind.__name__}({', '.join(methods)})"
    return kind.__name__


def _first(items, length: int) -> str:
    """The first three of `length` items, and the length where there are more."""
    text = ", ".join(shown(item) for item in items[:3])
    return text + f", ... ({length})" if length > 3 else text


_PLAIN = {"__module__", "__dict__", "__weakref__", "__doc__", "__qualname__"}


def worked(cases) -> list:
    """Worked cases (function or its name, arguments, expected result or failure message),
    each as a pytest.param whose id is the call, such as "ses_sse([1, 2, 3], 0.5)", with
    "fails" after it where a message is expected."""
    params = []
    for function, args, expected in cases:
        name = function if isinstance(function, str) else function.__name__
        call = f"{name}({', '.join(shown(a) for a in args)})"
        label = f"{call} fails" if isinstance(expected, str) else call
        params.append(pytest.param(function, args, expected, id=label))
    return params


def named(cases, label) -> list:
    """Each case (a tuple of parameters) as a pytest.param with the id label(*case)."""
    return [pytest.param(*case, id=label(*case)) for case in cases]
