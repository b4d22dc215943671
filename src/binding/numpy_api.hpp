// NumPy's C API table and the two dtypes the module converts, looked up at
// the first call that needs them and kept for the life of the process.
#pragma once

#include "binding/python.hpp"

namespace lumetra::binding::numpy_api {

extern bool loaded;
extern PyArray_Descr* float64;
extern PyArray_Descr* int64;

// Looks the table up; on failure raises PanicException with a message that
// begins "Failed to access NumPy array API capsule" and returns false.
bool load();

inline bool ready() { return loaded || load(); }

}  // namespace lumetra::binding::numpy_api
