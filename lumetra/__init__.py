"""lumetra: time-series forecasting. The numeric inner loops live in lumetra._core."""
