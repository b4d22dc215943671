// Plain contiguous loops of the decomposition family.
#include "floor.hpp"

namespace floor_loops {

PyMethodDef decomposition[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
