"""The native minimiser of lumetra's modelling layer (see lumetra.models.optimize).

Each registered objective scores a parameter vector by calling one `lumetra._core`
kernel, with the same operations as the model's Python objective; `nelder_mead` runs
`lumetra.models.optimize.nelder_mead`'s algorithm, operation for operation, on it.
Arrays are read through the buffer protocol: one-dimensional, contiguous float64.
"""

from collections.abc import Sequence

import numpy as np
from numpy.typing import NDArray

__all__ = ["evaluate", "nelder_mead", "objectives"]

def evaluate(
    objective: str,
    x: Sequence[float],
    arrays: Sequence[NDArray[np.float64]],
    constants: Sequence[float],
) -> float:
    """The value of the named objective at the point `x`.

    Raises
    ------
    ValueError
        For an unknown objective, or arrays, constants or a point that it does not take.
    TypeError
        For an array that is not one-dimensional contiguous float64, or a value that is
        not a float.
    """

def nelder_mead(
    objective: str,
    start: Sequence[float],
    step: Sequence[float],
    arrays: Sequence[NDArray[np.float64]],
    constants: Sequence[float],
    *,
    max_evaluations: int = 4000,
    tolerance: float = 1e-10,
    restarts: int = 1,
) -> tuple[tuple[float, ...], float, int]:
    """Minimise the named objective by the Nelder-Mead method.

    Returns
    -------
    tuple
        (the best point, its value, the number of evaluations).
    """

def objectives() -> tuple[str, ...]:
    """The names of the registered objectives, in registration order."""
