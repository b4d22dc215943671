"""The native minimiser of lumetra's modelling layer (see lumetra.models.optimize).

Each registered objective scores a parameter vector by calling one `lumetra._core`
kernel, with the same operations as the model's Python objective; `nelder_mead` runs
`lumetra.models.optimize.nelder_mead`'s algorithm, operation for operation, on it.
Arrays are read through the buffer protocol: one-dimensional, contiguous float64.
`ces_filter` and `ces_initial_states` run the complex exponential smoothing recursion of
the kernels for lumetra.models.ces.
"""

from collections.abc import Sequence

import numpy as np
from numpy.typing import NDArray

__all__ = ["evaluate", "nelder_mead", "objectives", "ces_filter", "ces_initial_states"]

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

def ces_filter(
    y: NDArray[np.float64],
    forecasts: NDArray[np.float64],
    season: NDArray[np.float64],
    a0_real: float,
    a0_imag: float,
    gamma: float,
    level: float,
    imaginary: float,
    phase: int,
    predict: bool,
) -> tuple[float, float, int]:
    """Run the recursion from (level, imaginary, season, phase) over y, or with `predict`
    over len(forecasts) steps with every error zero.

    Each step's forecast goes into `forecasts` (as long as y), the seasonal states after
    the run into `season` (empty for the non-seasonal recursion; `phase` is the phase of
    the step before the first, 0 without a season).

    Returns
    -------
    tuple
        (level, imaginary, phase) after the run.

    Raises
    ------
    ValueError
        For forecasts of another length than y, or a phase that is not one of season's.
    TypeError
        For an array that is not one-dimensional contiguous float64 (forecasts and season
        writable).
    """

def ces_initial_states(
    y: NDArray[np.float64],
    season: NDArray[np.float64],
    a0_real: float,
    a0_imag: float,
    gamma: float,
    level: float,
) -> tuple[float, tuple[float, ...]] | None:
    """The initial level and seasonal states (phase 0 first, the phase of the step before
    y[0]) that minimise the seasonal recursion's sum of squared errors over y for these
    parameters, moved from (level, season) so that the seasonal states keep their sum.

    Returns
    -------
    tuple or None
        (level, the seasonal states), or None when the errors cannot tell the moves apart
        (or a moved state is not finite).

    Raises
    ------
    ValueError
        For an empty season.
    """
