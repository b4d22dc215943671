// Plain contiguous loops of the volatility family.
#include "floor.hpp"

namespace floor_loops {

PyMethodDef volatility[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
