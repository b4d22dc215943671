// Plain contiguous loops of the arima family.
#include "floor.hpp"

namespace floor_loops {

PyMethodDef arima[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
