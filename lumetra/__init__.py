"""lumetra: time-series forecasting. The numeric inner loops live in lumetra._core."""

from importlib import metadata as _metadata

try:
    __version__ = _metadata.version("lumetra")
except _metadata.PackageNotFoundError:  # a source tree that was never installed
    __version__ = "0+unknown"
