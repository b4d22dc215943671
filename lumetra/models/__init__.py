"""Forecasting models fitted with lumetra._core's kernels.

One module per model family, each with a ``fit(y, period, ...)`` that checks its input,
estimates the model and returns a frozen result with the estimated parameters, fitted
values, residuals, the information criterion where one is defined, and a
``forecast(h, level=(80, 95))`` method returning a `Forecast`:

- `theta`: the theta method as run in the M3 competition;
- `dotm`: the optimised theta model (Fiorucci et al.);
- `ces`: complex exponential smoothing, seasonal or not by AICc;
- `ets`: automatic exponential smoothing, chosen by AICc;
- `combination`: the mean of the ETS, DOTM and CES forecasts.

The optimisers that the models share are in `lumetra.models.optimize`; the native one
lives in the extension module `lumetra._fit`. NumPy is the only dependency.
"""

from . import ces, combination, dotm, theta
from ._forecast import Forecast

__all__ = ["Forecast", "ces", "combination", "dotm", "ets", "theta"]


def __getattr__(name: str) -> object:
    # ETS is imported on first use, like any submodule not imported above.
    if name == "ets":
        import importlib

        return importlib.import_module(".ets", __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
