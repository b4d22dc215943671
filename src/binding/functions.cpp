// The module's functions, in registration order. The method table, __all__
// and every doc string derive from this one table; adding a function is one
// entry here.
#include "binding/functions.hpp"

#include "binding/binder.hpp"
#include "diagnostics/entropy.hpp"
#include "diagnostics/hurst.hpp"
#include "smoothing/ses.hpp"

namespace lumetra::binding {

namespace dg = lumetra::diagnostics;
namespace sm = lumetra::smoothing;

PyMethodDef functions[] = {
    entry<"ses_sse", &sm::ses_sse, "y", "alpha">(),
    entry<"ses_filter", &sm::ses_filter, "y", "alpha">(),
    entry<"sample_entropy", &dg::sample_entropy, "y", "m", "r">(),
    entry<"approximate_entropy", &dg::approximate_entropy, "y", "m", "r">(),
    entry<"hurst_exponent", &dg::hurst_exponent, "y", "max_lag">(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace lumetra::binding
