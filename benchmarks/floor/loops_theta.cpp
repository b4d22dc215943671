// Plain contiguous loops of the theta family.
#include "floor.hpp"

namespace floor_loops {

PyMethodDef theta[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
