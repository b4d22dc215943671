// The module's functions, in registration order. The method table, __all__
// and every doc string derive from this one table; adding a function is one
// entry here.
#include "binding/functions.hpp"

#include "binding/binder.hpp"
#include "smoothing/ces.hpp"
#include "smoothing/croston.hpp"
#include "smoothing/ets.hpp"
#include "smoothing/ses.hpp"
#include "smoothing/tbats.hpp"

namespace lumetra::binding {

namespace sm = lumetra::smoothing;

PyMethodDef functions[] = {
    entry<"ets_filter", &sm::ets_filter, "y", "level0", "trend0", "seasonal0", "alpha", "beta",
          "gamma", "phi", "period", "error_type", "trend_type", "seasonal_type">(),
    entry<"ets_loglik", &sm::ets_loglik, "y", "level0", "trend0", "seasonal0", "alpha", "beta",
          "gamma", "phi", "period", "error_type", "trend_type", "seasonal_type">(),
    entry<"ses_sse", &sm::ses_sse, "y", "alpha">(),
    entry<"ses_filter", &sm::ses_filter, "y", "alpha">(),
    entry<"batch_ets_filter", &sm::batch_ets_filter, "y_list", "params_list">(),
    entry<"ces_nonseasonal_sse", &sm::ces_nonseasonal_sse, "y", "a0_real", "a0_imag">(),
    entry<"ces_seasonal_sse", &sm::ces_seasonal_sse, "y", "a0_real", "a0_imag", "gamma",
          "seasonal_init", "m">(),
    entry<"tbats_filter", &sm::tbats_filter, "y", "alpha", "beta", "phi", "use_trend",
          "use_damping", "frequencies", "total_harmonics">(),
    entry<"croston_tsb_filter", &sm::croston_tsb_filter, "y", "alpha", "beta", "init_z",
          "init_d">(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace lumetra::binding
