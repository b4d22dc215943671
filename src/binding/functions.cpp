// The module's functions, in registration order. The method table, __all__
// and every doc string derive from this one table; adding a function is one
// entry here.
#include "binding/functions.hpp"

#include "binding/binder.hpp"
#include "smoothing/ses.hpp"
#include "theta/theta.hpp"

namespace lumetra::binding {

namespace sm = lumetra::smoothing;
namespace th = lumetra::theta;

PyMethodDef functions[] = {
    entry<"theta_decompose", &th::theta_decompose, "y", "theta">(),
    entry<"ses_sse", &sm::ses_sse, "y", "alpha">(),
    entry<"ses_filter", &sm::ses_filter, "y", "alpha">(),
    entry<"dot_objective", &th::dot_objective, "y", "intercept", "slope", "theta", "alpha",
          "drift">(),
    entry<"dot_residuals", &th::dot_residuals, "y", "intercept", "slope", "theta", "alpha",
          "drift">(),
    entry<"four_theta_fitted", &th::four_theta_fitted, "n", "thetas", "intercepts", "slopes",
          "weights", "filtered_flat", "filtered_lengths", "last_levels">(),
    entry<"four_theta_deseasonalize", &th::four_theta_deseasonalize, "y", "period">(),
    entry<"dot_hybrid_objective", &th::dot_hybrid_objective, "y", "theta_line0", "theta",
          "is_additive">(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace lumetra::binding
