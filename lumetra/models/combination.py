"""The combination of forecasts: the mean of several models' point forecasts.

By default the members are automatic ETS, the optimised theta model and complex
exponential smoothing (`lumetra.models.ets`, `lumetra.models.dotm`,
`lumetra.models.ces`), each fitted to the whole series on its own. The combination's
forecast at every step is the mean of the members' forecasts, and so are its fitted
values; it gives no prediction intervals of its own.
"""

from __future__ import annotations

import importlib
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Protocol

import numpy as np
from numpy.typing import NDArray

from . import _checks
from ._forecast import Forecast, point

__all__ = ["CombinationFit", "MEMBERS", "fit"]

Array = NDArray[np.float64]

MEMBERS = ("ets", "dotm", "ces")


class MemberFit(Protocol):
    """What the combination needs of a member's fit."""

    @property
    def fitted(self) -> Array: ...

    @property
    def notes(self) -> tuple[str, ...]: ...

    @property
    def method(self) -> str: ...

    def forecast(self, h: int, level: float | Sequence[float] = ...) -> Forecast: ...


@dataclass(frozen=True)
class CombinationFit:
    """The members' fits and their mean.

    Attributes
    ----------
    params : dict of str to float
        Empty: the combination estimates nothing itself (each member has its own).
    at_bound : tuple of str
        The members' parameters at a bound, as ``"<member>.<name>"``.
    bounds : dict of str to (float, float)
        Empty.
    fitted : ndarray
        The mean of the members' one-step fitted values (NaN where one is undefined).
    residuals : ndarray
        ``y - fitted``.
    aicc : None
        Not defined for a combination.
    notes : tuple of str
        The members' notes, each prefixed with its member's name.
    method : str
        ``"Combination(ETS(...), DOTM, CES(...))"``, naming the members' chosen models.
    members : tuple
        The members' fits, in the order of `names`.
    names : tuple of str
        The members' module names.
    """

    params: dict[str, float]
    at_bound: tuple[str, ...]
    bounds: dict[str, tuple[float, float]]
    fitted: Array
    residuals: Array
    aicc: float | None
    notes: tuple[str, ...]
    method: str
    members: tuple[MemberFit, ...]
    names: tuple[str, ...]

    def forecast(self, h: int, level: float | Sequence[float] = (80, 95)) -> Forecast:
        """The mean of the members' point forecasts; no intervals.

        Parameters
        ----------
        h : int
            The number of steps, at least 1.
        level : float or sequence of float
            Checked as for every model, but no interval is made.

        Returns
        -------
        Forecast

        Raises
        ------
        ValueError
            For an h or a level that is not allowed.
        """
        h = _checks.horizon(h)
        _checks.levels(level)
        return point(mean_of([member.forecast(h, ()).mean for member in self.members]))


def mean_of(paths: Sequence[Array]) -> Array:
    """The mean of equally long paths, added in member order and divided by their number."""
    total = np.zeros_like(paths[0])
    for path in paths:
        total = total + path
    result: Array = total / len(paths)
    return result


def fit(y: object, period: int = 1, *, members: Sequence[str] = MEMBERS) -> CombinationFit:
    """Fit every member model and combine them.

    Parameters
    ----------
    y : array_like
        The series: a list, a pandas Series or any array of real numbers, without NaN or
        infinite values.
    period : int
        The season length; 1 for none. Passed to every member.
    members : sequence of str
        The names of the member modules of `lumetra.models` (each with a
        ``fit(y, period)``), at least one.

    Returns
    -------
    CombinationFit

    Raises
    ------
    ValueError
        For a `y` or a `period` that is not allowed, or an empty or unknown member list.
    """
    y = _checks.series(y)
    period = _checks.period(period)
    names = tuple(members)
    if not names:
        raise ValueError("members must name at least one model")
    fits = []
    for name in names:
        try:
            module = importlib.import_module(f"lumetra.models.{name}")
        except ModuleNotFoundError:
            raise ValueError(f"members: no model named {name!r}") from None
        fits.append(module.fit(y, period))
    fitted = mean_of([member.fitted for member in fits])
    at_bound = tuple(f"{name}.{p}" for name, member in zip(names, fits) for p in member.at_bound)
    notes = tuple(f"{name}: {note}" for name, member in zip(names, fits) for note in member.notes)
    return CombinationFit(
        params={},
        at_bound=at_bound,
        bounds={},
        fitted=fitted,
        residuals=y - fitted,
        aicc=None,
        notes=notes,
        method="Combination(" + ", ".join(member.method for member in fits) + ")",
        members=tuple(fits),
        names=names,
    )
