"""Calls that the stubs must reject: mypy --strict reports an error on exactly the lines
marked `# error`, and on no other line."""

import numpy as np
from numpy.typing import NDArray

import lumetra._core as core

y: NDArray[np.float64] = np.zeros(24)
single = np.zeros(24, dtype=np.float32)
lengths = np.zeros(1)  # float64, where an int64 array is needed
core.ses_sse([1.0, 2.0], 0.5)  # error: a list is not an array
core.ses_sse(single, 0.5)  # error: float32
core.ses_sse(y, "0.5")  # error: a str is not a float
core.ses_sse(y)  # error: missing argument
core.ses_sse(y, beta=0.5)  # error: no such parameter
core.mstl_moving_average(y, 3.0)  # error: a float is not an unsigned integer
core.garch_filter(y, 0.0, 0.1, 0.1, 0.8, 1.0, 1, 0.0)  # error: the int 1 is not a bool
core.four_theta_fitted(1, y, y, y, y, y, lengths, y)  # error: lengths must be int64
core.batch_ets_filter([y], [(1.0, 0.0, [], 0.3, 0.1, 0.1, 1.0, 1, 0, 0)])  # error: 10 items
text: str = core.ses_sse(y, 0.5)  # error: the result is a float
fitted, errors, level, trend = core.ets_filter(y, 1, 0, y, 0.3, 0, 0, 1, 1, 0, 0, 0)  # error
indices, flag = core.four_theta_deseasonalize(y, 12)  # error: three members
core.ses_sse(y, 0.5).sum()  # error: a float has no sum
core.ses_filter(y, 0.5).sum()
