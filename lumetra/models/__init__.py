"""Forecasting models fitted with lumetra._core's kernels.

One module per model family, each with a ``fit(y, period, ...)`` that checks its input,
estimates the model and returns a frozen result with the estimated parameters, fitted
values, residuals, the information criterion where one is defined, and a
``forecast(h, level=(80, 95))`` method returning a `Forecast`. The optimisers that the
models share are in `lumetra.models.optimize`; the native one lives in the extension
module `lumetra._fit`. NumPy is the only dependency.
"""

from ._forecast import Forecast

__all__ = ["Forecast"]
