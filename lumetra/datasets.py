"""Small real series shipped with the package, for examples and demonstrations."""

from __future__ import annotations

from importlib import resources

import numpy as np
from numpy.typing import NDArray


def airline_passengers() -> tuple[list[str], NDArray[np.float64]]:
    """Monthly international airline passengers (thousands), 1949-01 to 1960-12.

    Returns the month labels ("1949-01", ...) and the 144 values as float64.
    The file's header records the source.
    """
    text = resources.files("lumetra").joinpath("data/airline_passengers.csv").read_text()
    rows = [line.split(",") for line in text.splitlines() if line and not line.startswith("#")]
    months = [month for month, _ in rows[1:]]
    values = np.array([float(value) for _, value in rows[1:]])
    return months, values
