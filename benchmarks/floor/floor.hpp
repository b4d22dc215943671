// Shared pieces of the benchmark floors.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#ifndef FLOOR_DEFINE_NUMPY_API
#define NO_IMPORT_ARRAY
#endif
#define PY_ARRAY_UNIQUE_SYMBOL lumetra_bench_floor_ARRAY_API
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

#include <cstddef>

namespace floor_loops {

// Each family's loops, in its own file (loops_<family>.cpp), each table
// ended by an entry whose name is null. floor.cpp lists the tables.
extern PyMethodDef smoothing[];
extern PyMethodDef arima[];
extern PyMethodDef volatility[];
extern PyMethodDef theta[];
extern PyMethodDef decomposition[];
extern PyMethodDef pattern[];
extern PyMethodDef diagnostics[];

#define FLOOR_LOOP(name)                                                                          \
    {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&name)), METH_FASTCALL, \
     nullptr}

// A contiguous float64 array argument (the loops accept nothing else).
struct Doubles {
    const double* data = nullptr;
    std::size_t size = 0;
};
bool doubles(PyObject* object, Doubles& out);
bool number(PyObject* object, double& out);
bool count(PyObject* object, std::size_t& out);
// A new float64 array of n elements; its data pointer is returned in out.
PyObject* new_array(std::size_t n, double*& out);

}  // namespace floor_loops
