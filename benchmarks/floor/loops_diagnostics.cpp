// Plain contiguous loops of the diagnostics family.
#include "floor.hpp"

namespace floor_loops {

PyMethodDef diagnostics[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
