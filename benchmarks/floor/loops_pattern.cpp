// Plain contiguous loops of the pattern family.
#include "floor.hpp"

namespace floor_loops {

PyMethodDef pattern[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
