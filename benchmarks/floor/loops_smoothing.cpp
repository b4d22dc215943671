// Plain contiguous loops of the smoothing family.
#include "floor.hpp"

namespace floor_loops {

namespace {

PyObject* ses_sse(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double alpha;
    if (nargs != 2 || !doubles(args[0], y) || !number(args[1], alpha) || y.size == 0)
        return nullptr;
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
    if (nargs != 2 || !doubles(args[0], y) || !number(args[1], alpha) || y.size == 0)
        return nullptr;
    double* out;
    PyObject* result = new_array(y.size, out);
    if (result == nullptr) return nullptr;
    const double keep = 1.0 - alpha;
    out[0] = y.data[0];
    for (std::size_t t = 1; t < y.size; ++t) out[t] = alpha * y.data[t] + keep * out[t - 1];
    return result;
}

}  // namespace

PyMethodDef smoothing[] = {
    FLOOR_LOOP(ses_sse),
    FLOOR_LOOP(ses_filter),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
