// The module's functions, in registration order. The method table, __all__
// and every doc string derive from this one table; adding a function is one
// entry here.
#include "binding/functions.hpp"

#include "binding/binder.hpp"
#include "smoothing/ses.hpp"

namespace lumetra::binding {

namespace sm = lumetra::smoothing;

PyMethodDef functions[] = {
    entry<"ses_sse", &sm::ses_sse, "y", "alpha">(),
    entry<"ses_filter", &sm::ses_filter, "y", "alpha">(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace lumetra::binding
