// The module's functions, in registration order. The method table, __all__
// and every doc string derive from this one table; adding a function is one
// entry here.
#include "binding/functions.hpp"

#include "binding/binder.hpp"
#include "decomposition/mstl.hpp"
#include "pattern/dtsf.hpp"
#include "pattern/esn.hpp"
#include "smoothing/ses.hpp"

namespace lumetra::binding {

namespace dc = lumetra::decomposition;
namespace pt = lumetra::pattern;
namespace sm = lumetra::smoothing;

PyMethodDef functions[] = {
    entry<"ses_sse", &sm::ses_sse, "y", "alpha">(),
    entry<"ses_filter", &sm::ses_filter, "y", "alpha">(),
    entry<"dtsf_distances", &pt::dtsf_distances, "y", "query_norm", "w", "max_start", "normalize",
          "time_decay", "n_total">(),
    entry<"dtsf_fit_residuals", &pt::dtsf_fit_residuals, "y", "w", "n_neighbors", "normalize">(),
    entry<"mstl_extract_seasonal", &dc::mstl_extract_seasonal, "y", "period">(),
    entry<"mstl_moving_average", &dc::mstl_moving_average, "y", "window">(),
    entry<"esn_reservoir_update", &pt::esn_reservoir_update, "y_norm", "w_in_flat", "w_flat",
          "reservoir_size", "leak_rate", "washout">(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace lumetra::binding
