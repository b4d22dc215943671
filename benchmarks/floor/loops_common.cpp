// The long-input floors: the arithmetic of each function of lumetra._core as
// the plainest loop over contiguous float64 arrays, with the same operations
// in the same order (so the results agree bit for bit). Arguments are taken
// positionally and only contiguous arrays are accepted. This file holds the
// argument helpers; each family's loops are in loops_<family>.cpp.
#include "floor.hpp"

namespace floor_loops {

bool doubles(PyObject* object, Doubles& out) {
    if (!PyArray_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "expected a float64 array");
        return false;
    }
    auto* a = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_NDIM(a) != 1 || PyArray_TYPE(a) != NPY_DOUBLE || !PyArray_IS_C_CONTIGUOUS(a)) {
        PyErr_SetString(PyExc_TypeError, "expected a contiguous 1-d float64 array");
        return false;
    }
    out.data = static_cast<const double*>(PyArray_DATA(a));
    out.size = static_cast<std::size_t>(PyArray_DIM(a, 0));
    return true;
}

bool number(PyObject* object, double& out) {
    out = PyFloat_AsDouble(object);
    return !(out == -1.0 && PyErr_Occurred());
}

bool count(PyObject* object, std::size_t& out) {
    const unsigned long long v = PyLong_AsUnsignedLongLong(object);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = static_cast<std::size_t>(v);
    return true;
}

PyObject* new_array(std::size_t n, double*& out) {
    npy_intp length = static_cast<npy_intp>(n);
    PyObject* array = PyArray_ZEROS(1, &length, NPY_DOUBLE, 0);
    if (array != nullptr)
        out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)));
    return array;
}

}  // namespace floor_loops
