"""What the models' fit functions share: the engine argument, the search of a registered
objective by either engine, a first simplex step for a level, and the parameters that
ended at a bound."""

from __future__ import annotations

from collections.abc import Callable, Sequence

import numpy as np
from numpy.typing import NDArray

from .optimize import Minimum, native_nelder_mead, nelder_mead

Array = NDArray[np.float64]


def minimise(
    name: str,
    python: Callable[[Sequence[Array], Sequence[float]], Callable[[Sequence[float]], float]],
    start: Sequence[float],
    step: Sequence[float],
    arrays: Sequence[Array],
    constants: Sequence[float],
    engine: str,
) -> Minimum:
    """Minimise a registered objective natively, or its Python form with the same algorithm."""
    if engine == "native":
        return native_nelder_mead(name, start, step, arrays, constants)
    return nelder_mead(python(arrays, constants), start, step)


def check_engine(engine: object) -> str:
    """The engine argument of the theta family's fit functions."""
    if engine not in ("native", "python"):
        raise ValueError(f"engine must be 'native' or 'python', got {engine!r}")
    return str(engine)


def level_step(series: Array) -> float:
    """An initial simplex step for a level: the series' mean absolute one-step change."""
    if series.size > 1:
        # np.mean(np.abs(np.diff(series))), the same sum and division with less dispatch
        change = float(np.add.reduce(np.abs(series[1:] - series[:-1]))) / (series.size - 1)
        if change > 0.0:
            return change
    return max(abs(float(series[0])) * 0.1, 1.0)


def at_bounds(values: dict[str, float], bounds: dict[str, tuple[float, float]]) -> tuple[str, ...]:
    """The names whose values lie within 1e-6 (relative, absolute near 0) of a bound."""
    close = []
    for name, (lo, hi) in bounds.items():
        value = values[name]
        if any(abs(value - b) <= 1e-6 * max(1.0, abs(b)) for b in (lo, hi)):
            close.append(name)
    return tuple(close)
