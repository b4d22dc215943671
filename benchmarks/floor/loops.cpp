// The long-input floors: the arithmetic of each function of lumetra._core as
// the plainest loop over contiguous float64 arrays, with the same operations
// in the same order (so the results agree bit for bit). Arguments are taken
// positionally and only contiguous arrays are accepted.
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
    if (array != nullptr) out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)));
    return array;
}

namespace {

PyObject* ses_sse(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double alpha;
    if (nargs != 2 || !doubles(args[0], y) || !number(args[1], alpha) || y.size == 0) return nullptr;
    const double keep = 1.0 - alpha;
    double level = y.data[0], sse = 0.0;
    for (std::size_t t = 1; t < y.size; ++t) {
        const double e = y.data[t] - level;
        sse = sse + e * e;
        level = keep * level + alpha * y.data[t];
    }
    return PyFloat_FromDouble(sse);
}

PyObject* ses_filter(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double alpha;
    if (nargs != 2 || !doubles(args[0], y) || !number(args[1], alpha) || y.size == 0) return nullptr;
    double* out;
    PyObject* result = new_array(y.size, out);
    if (result == nullptr) return nullptr;
    const double keep = 1.0 - alpha;
    out[0] = y.data[0];
    for (std::size_t t = 1; t < y.size; ++t) out[t] = alpha * y.data[t] + keep * out[t - 1];
    return result;
}

}  // namespace

#define LOOP(name) {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&name)), METH_FASTCALL, nullptr}

PyMethodDef methods[] = {
    LOOP(ses_sse),
    LOOP(ses_filter),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
