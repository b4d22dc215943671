"""The theta family: the theta method and the optimised theta model, fitted by the
modelling layer (`lumetra.models.theta`, `lumetra.models.dotm`), and the hybrid theta
score of the seasonally adjusted series."""

from __future__ import annotations

from dataclasses import dataclass

import lumetra._core as core
from lumetra.models import Forecast, dotm, theta
from lumetra.models.dotm import DotmFit
from lumetra.models.theta import ThetaFit

from . import HORIZON, PERIOD, Array, Series, bounds_line, mape
from .decomposition import Seasonal

HYBRID_THETAS = (1.0, 1.5, 2.0, 3.0)


@dataclass(frozen=True)
class Theta:
    theta: ThetaFit  # the theta method as run in M3
    theta_forecast: Forecast
    dotm: DotmFit  # the optimised theta model
    dotm_forecast: Forecast
    hybrid: list[tuple[float, float]]  # theta and mean absolute error of the hybrid model

    def describe(self, series: Series) -> list[str]:
        t, d = self.theta.params, self.dotm.params
        season = "seasonally adjusted" if self.theta.seasonal else "not adjusted (no season found)"
        return [
            f"lumetra.models.theta, series {season}: theta-0 line {t['intercept']:.1f} "
            f"{t['slope']:+.3f} t,",
            f"  theta-2 line smoothed by ses_sse with alpha = {t['alpha']:.3f} from level "
            f"{t['level0']:.1f}; MAPE {mape(series.y, self.theta.fitted):.2f}%",
            f"  {bounds_line(t, self.theta.bounds)}",
            "lumetra.models.dotm by Nelder-Mead on dot_objective "
            f"({self.dotm.search.evaluations} evaluations):",
            f"  theta = {d['theta']:.3f}, alpha = {d['alpha']:.3f}, level0 {d['level0']:.1f}; "
            f"dot_residuals: MAPE {mape(series.y, self.dotm.fitted):.2f}%",
            f"  {bounds_line(d, self.dotm.bounds)}",
            "dot_hybrid_objective, geometric mixing: mean absolute error of the smoothed fit",
            f"  for theta {', '.join(f'{th:g}' for th, _ in self.hybrid)}: "
            f"{', '.join(f'{mae:.2f}' for _, mae in self.hybrid)} thousand adjusted passengers;",
            "  not comparable with the one-step MAPEs: an absolute error of the adjusted series,",
            "  with the smoothing weight chosen by the kernel's own search for each theta",
        ]


def fit(y: Array, seasonal: Seasonal) -> Theta:
    """The two models of the series, and the hybrid score of its seasonally adjusted form."""
    theta_fit = theta.fit(y, PERIOD)
    dotm_fit = dotm.fit(y, PERIOD)
    adjusted = seasonal.adjusted
    line0 = core.theta_decompose(adjusted, 0.0)
    hybrid = [(th, core.dot_hybrid_objective(adjusted, line0, th, False)) for th in HYBRID_THETAS]
    return Theta(
        theta_fit,
        theta_fit.forecast(HORIZON, level=(80, 95)),
        dotm_fit,
        dotm_fit.forecast(HORIZON, level=(80, 95)),
        hybrid,
    )
