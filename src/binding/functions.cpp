// The module's functions, in registration order. The method table, __all__
// and every doc string derive from this one table; adding a function is one
// entry here.
#include "binding/functions.hpp"

#include "arima/css.hpp"
#include "binding/binder.hpp"
#include "decomposition/mstl.hpp"
#include "diagnostics/entropy.hpp"
#include "diagnostics/hurst.hpp"
#include "pattern/dtsf.hpp"
#include "pattern/esn.hpp"
#include "smoothing/ces.hpp"
#include "smoothing/croston.hpp"
#include "smoothing/ets.hpp"
#include "smoothing/ses.hpp"
#include "smoothing/tbats.hpp"
#include "theta/theta.hpp"
#include "volatility/garch.hpp"

namespace lumetra::binding {

namespace ar = lumetra::arima;
namespace dc = lumetra::decomposition;
namespace dg = lumetra::diagnostics;
namespace pt = lumetra::pattern;
namespace sm = lumetra::smoothing;
namespace th = lumetra::theta;
namespace vo = lumetra::volatility;

PyMethodDef functions[] = {
    entry<"ets_filter", &sm::ets_filter, "y", "level0", "trend0", "seasonal0", "alpha", "beta",
          "gamma", "phi", "period", "error_type", "trend_type", "seasonal_type">(),
    entry<"ets_loglik", &sm::ets_loglik, "y", "level0", "trend0", "seasonal0", "alpha", "beta",
          "gamma", "phi", "period", "error_type", "trend_type", "seasonal_type">(),
    entry<"theta_decompose", &th::theta_decompose, "y", "theta">(),
    entry<"arima_css", &ar::arima_css, "y", "ar", "ma", "d">(),
    entry<"css_objective", &ar::css_objective, "y", "ar_coefs", "ma_coefs">(),
    entry<"seasonal_css_objective", &ar::seasonal_css_objective, "y", "ar_coefs", "ma_coefs",
          "sar_coefs", "sma_coefs", "m">(),
    entry<"ses_sse", &sm::ses_sse, "y", "alpha">(),
    entry<"ses_filter", &sm::ses_filter, "y", "alpha">(),
    entry<"batch_ets_filter", &sm::batch_ets_filter, "y_list", "params_list">(),
    entry<"dot_objective", &th::dot_objective, "y", "intercept", "slope", "theta", "alpha",
          "drift">(),
    entry<"dot_residuals", &th::dot_residuals, "y", "intercept", "slope", "theta", "alpha",
          "drift">(),
    entry<"ces_nonseasonal_sse", &sm::ces_nonseasonal_sse, "y", "a0_real", "a0_imag">(),
    entry<"ces_seasonal_sse", &sm::ces_seasonal_sse, "y", "a0_real", "a0_imag", "gamma",
          "seasonal_init", "m">(),
    entry<"garch_filter", &vo::garch_filter, "y", "mu", "omega", "alpha_g", "beta_g", "init_sigma2",
          "use_ar1", "ar1">(),
    entry<"egarch_filter", &vo::egarch_filter, "y", "mu", "omega", "alpha_e", "beta_e", "gamma",
          "init_log_sigma2">(),
    entry<"gjr_garch_filter", &vo::gjr_garch_filter, "y", "mu", "omega", "alpha_gjr", "beta_gjr",
          "gamma_gjr", "init_sigma2">(),
    entry<"tbats_filter", &sm::tbats_filter, "y", "alpha", "beta", "phi", "use_trend",
          "use_damping", "frequencies", "total_harmonics">(),
    entry<"dtsf_distances", &pt::dtsf_distances, "y", "query_norm", "w", "max_start", "normalize",
          "time_decay", "n_total">(),
    entry<"dtsf_fit_residuals", &pt::dtsf_fit_residuals, "y", "w", "n_neighbors", "normalize">(),
    entry<"mstl_extract_seasonal", &dc::mstl_extract_seasonal, "y", "period">(),
    entry<"mstl_moving_average", &dc::mstl_moving_average, "y", "window">(),
    entry<"croston_tsb_filter", &sm::croston_tsb_filter, "y", "alpha", "beta", "init_z",
          "init_d">(),
    entry<"esn_reservoir_update", &pt::esn_reservoir_update, "y_norm", "w_in_flat", "w_flat",
          "reservoir_size", "leak_rate", "washout">(),
    entry<"four_theta_fitted", &th::four_theta_fitted, "n", "thetas", "intercepts", "slopes",
          "weights", "filtered_flat", "filtered_lengths", "last_levels">(),
    entry<"four_theta_deseasonalize", &th::four_theta_deseasonalize, "y", "period">(),
    entry<"dot_hybrid_objective", &th::dot_hybrid_objective, "y", "theta_line0", "theta",
          "is_additive">(),
    entry<"sample_entropy", &dg::sample_entropy, "y", "m", "r">(),
    entry<"approximate_entropy", &dg::approximate_entropy, "y", "m", "r">(),
    entry<"hurst_exponent", &dg::hurst_exponent, "y", "max_lag">(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace lumetra::binding
