"""Automatic ETS, fitted by the modelling layer (`lumetra.models.ets`).

Every usual model class is fitted by maximum likelihood on ets_loglik (smoothing weights,
damping and initial states together, within the usual bounds) and the one with the
smallest AICc is chosen; its recursion is run on for the forecasts, with 80% and 95%
prediction intervals.
"""

from __future__ import annotations

from dataclasses import dataclass

from lumetra.models import Forecast
from lumetra.models import ets as automatic
from lumetra.models.ets import EtsFit

from . import HORIZON, PERIOD, Series, bounds_line, mape

SHOWN = 5  # candidate models listed, by AICc


@dataclass(frozen=True)
class Ets:
    chosen: EtsFit  # the model with the smallest AICc
    forecast: Forecast  # its forecasts and 80% and 95% intervals

    def describe(self, series: Series) -> list[str]:
        fit = self.chosen
        ranked = sorted(fit.candidates.items(), key=lambda item: item[1])
        lines = [
            f"lumetra.models.ets: {len(ranked)} model classes by maximum likelihood on "
            "ets_loglik (weights, damping",
            f"  and the initial level, trend and {PERIOD} seasonal states), ranked by AICc:",
        ]
        for name, aicc in ranked[:SHOWN]:
            mark = "  <- chosen" if name == fit.method else ""
            lines.append(f"    {name:12} AICc {aicc:8.1f}{mark}")
        p = fit.params
        weights = ", ".join(f"{name} = {p[name]:.4f}" for name in ("alpha", "beta", "gamma"))
        lines += [
            f"{fit.method}: {weights}, damping {p['damping']:.3f};",
            f"  initial level {p['level0']:.1f}, trend {p['trend0']:+.2f}",
            f"  {bounds_line(p, fit.bounds)}",
            "  (beta's bounds are shares of alpha, gamma's of 1 - alpha)",
            *(f"  note: {note}" for note in fit.notes),
            f"one-step MAPE {mape(series.y, fit.fitted):.2f}%; 95% interval for "
            f"{series.ahead[0]}: {self.band(0)}, for {series.ahead[-1]}: {self.band(-1)}",
        ]
        return lines

    def band(self, step: int) -> str:
        lower, upper = self.forecast.interval(95.0)
        return f"{lower[step]:.0f} to {upper[step]:.0f}"


def fit(y: object) -> Ets:
    chosen = automatic.fit(y, PERIOD)
    return Ets(chosen, chosen.forecast(HORIZON, level=(80, 95)))
