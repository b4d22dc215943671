#pragma once

#include "binding/python.hpp"

namespace lumetra::binding {

// The registration table, ended by an entry whose name is null.
extern PyMethodDef functions[];

}  // namespace lumetra::binding
