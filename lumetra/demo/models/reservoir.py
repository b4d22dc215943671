"""An echo-state network on the monthly growth, with a ridge readout."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

import lumetra._core as core

from . import HORIZON, PERIOD, Array, Series, mape


@dataclass(frozen=True)
class Reservoir:
    size: int
    leak: float
    washout: int
    fitted: Array
    forecast: Array
    spectral_radius: float

    def describe(self, series: Series) -> list[str]:
        return [
            f"esn_reservoir_update on the monthly log growth: {self.size} units, spectral "
            f"radius {self.spectral_radius:g},",
            f"  leak {self.leak:g}, washout {self.washout}, ridge readout: one-step "
            f"MAPE {mape(series.y, self.fitted):.2f}%",
        ]


def fit(
    y: Array,
    size: int = 50,
    leak: float = 1.0,
    washout: int = PERIOD,
    ridge: float = 0.1,
    radius: float = 0.9,
) -> Reservoir:
    """An echo-state network on the standardised monthly log growth, with a ridge readout."""
    r = np.diff(np.log(y))
    mean, sd = float(np.mean(r)), float(np.std(r))
    u = (r - mean) / sd
    rng = np.random.default_rng(1949)
    w_in = rng.uniform(-0.5, 0.5, size)
    w = rng.uniform(-0.5, 0.5, (size, size))
    w *= radius / float(np.max(np.abs(np.linalg.eigvals(w))))  # the spectral radius
    w_flat = w.ravel()

    states, _ = core.esn_reservoir_update(u, w_in, w_flat, size, leak, washout)
    states = states.reshape(-1, size)  # row k: the state after input u[washout + k]
    design = np.hstack((np.ones((states.shape[0], 1)), states))
    # State after u[t] predicts u[t + 1]; the last state has no target.
    x, target = design[:-1], u[washout + 1 :]
    readout = np.linalg.solve(x.T @ x + ridge * np.eye(size + 1), x.T @ target)
    predicted = design @ readout  # predicted[k] forecasts u[washout + k + 1]
    fitted = np.full(y.size, np.nan)
    # u[t] is r[t], which becomes y[t + 1]: predicted[k] forecasts y[washout + k + 2].
    fitted[washout + 2 :] = y[washout + 1 : -1] * np.exp(mean + sd * predicted[:-1])

    path = list(u)
    for _ in range(HORIZON):
        _, state = core.esn_reservoir_update(np.array(path), w_in, w_flat, size, leak, washout)
        path.append(float(readout[0] + state @ readout[1:]))
    forecast = y[-1] * np.exp(np.cumsum(mean + sd * np.array(path[u.size :])))
    return Reservoir(size, leak, washout, fitted, forecast, radius)
