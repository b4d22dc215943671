"""The checks at the boundary of every model's `fit` and `forecast`.

Each check turns what a user may reasonably pass into the one form the models work on,
or raises a ValueError that names the argument and says what is wrong with it. Below
the boundary nothing is checked again.
"""

from __future__ import annotations

import math
import numbers
import operator
from collections.abc import Iterable

import numpy as np
from numpy.typing import NDArray

__all__ = ["horizon", "levels", "period", "series"]

Array = NDArray[np.float64]


def series(y: object, name: str = "y") -> Array:
    """A series as a new contiguous float64 array.

    Parameters
    ----------
    y : array_like
        A list, a tuple, a pandas Series or any array of real numbers (integers or
        floats of any width).
    name : str
        The argument's name, for the messages.

    Returns
    -------
    ndarray
        A new one-dimensional float64 array (never a view of `y`, so that nothing the
        caller does later changes a fitted model).

    Raises
    ------
    ValueError
        When `y` is not one-dimensional, is empty, holds something that is not a real
        number (complex numbers, strings, dates, booleans, missing values) or holds NaN
        or an infinite value.
    """
    values = _as_array(y, name)
    if values.ndim != 1:
        shape = "a scalar" if values.ndim == 0 else f"an array of shape {values.shape}"
        raise ValueError(f"{name} must be one-dimensional, got {shape}")
    if values.size == 0:
        raise ValueError(f"{name} is empty")
    kind = values.dtype.kind
    if kind == "O":
        values = _from_objects(values, name)
    elif kind not in "iuf":
        raise ValueError(f"{name} must hold real numbers, got dtype {values.dtype}")
    with np.errstate(over="ignore"):  # a value too large for a double is refused below
        result = np.array(values, dtype=np.float64)  # a copy, contiguous
    bad = ~np.isfinite(result)
    if bad.any():
        index = int(np.flatnonzero(bad)[0])
        what = "NaN" if math.isnan(result[index]) else "an infinite value"
        raise ValueError(f"{name} contains {what} (first at index {index})")
    return result


def _as_array(y: object, name: str) -> NDArray[np.generic]:
    to_numpy = getattr(y, "to_numpy", None)
    try:
        # pandas' nullable columns give an object array with their missing values.
        values = np.asarray(to_numpy() if callable(to_numpy) else y)
    except (TypeError, ValueError) as error:  # ragged nesting and the like
        raise ValueError(f"{name} must be a one-dimensional sequence of real numbers") from error
    return values


def _from_objects(values: NDArray[np.generic], name: str) -> Array:
    """The floats of an object array whose items are each a real number."""
    out = np.empty(values.size, dtype=np.float64)
    for index, item in enumerate(values.tolist()):
        if isinstance(item, numbers.Real) and not isinstance(item, bool | np.bool_):
            out[index] = float(item)
        elif item is None or type(item).__name__ in ("NAType", "NaTType"):
            raise ValueError(f"{name} contains a missing value (first at index {index})")
        else:
            raise ValueError(
                f"{name} must hold real numbers, got {type(item).__name__} at index {index}"
            )
    return out


def _positive_integer(value: object, name: str) -> int:
    if isinstance(value, bool | np.bool_) or not isinstance(value, numbers.Integral):
        raise ValueError(f"{name} must be a positive integer, got {value!r}")
    number = operator.index(value)
    if number < 1:
        raise ValueError(f"{name} must be a positive integer, got {number!r}")
    return number


def period(value: object) -> int:
    """The season length as an int.

    Parameters
    ----------
    value : int
        An integer (a Python or NumPy integer) of at least 1; 1 means no season.

    Returns
    -------
    int

    Raises
    ------
    ValueError
        "period must be a positive integer, got ..." for anything else, bools and floats
        with an integral value included.
    """
    return _positive_integer(value, "period")


def horizon(value: object) -> int:
    """The number of steps to forecast, as an int.

    Raises
    ------
    ValueError
        "h must be a positive integer, got ..." unless `value` is an integer of at
        least 1 (bools refused).
    """
    return _positive_integer(value, "h")


def levels(value: object) -> tuple[float, ...]:
    """Interval levels in percent, as a tuple of floats.

    Parameters
    ----------
    value : float or sequence of float
        One level or several, each strictly between 0 and 100; an empty sequence asks
        for no intervals.

    Returns
    -------
    tuple of float
        The levels in the order given.

    Raises
    ------
    ValueError
        "level must hold numbers strictly between 0 and 100, got ..." otherwise.
    """
    message = f"level must hold numbers strictly between 0 and 100, got {value!r}"
    if isinstance(value, numbers.Real):
        items: tuple[object, ...] = (value,)
    elif isinstance(value, Iterable) and not isinstance(value, str | bytes):
        items = tuple(value)
    else:
        raise ValueError(message)
    result = []
    for item in items:
        if isinstance(item, bool | np.bool_) or not isinstance(item, numbers.Real):
            raise ValueError(message)
        number = float(item)
        if not 0.0 < number < 100.0:  # NaN fails too
            raise ValueError(message)
        result.append(number)
    return tuple(result)
