#include "binding/results.hpp"

#include "binding/numpy_api.hpp"

namespace lumetra::binding {

namespace {

const char holder_name[] = "lumetra._core.buffer";

void free_holder(PyObject* holder) {
    Series::free(static_cast<double*>(PyCapsule_GetPointer(holder, holder_name)));
}

}  // namespace

PyObject* to_python(Series&& series) noexcept {
    // Result arrays are only made after arguments were converted, so the
    // NumPy table is loaded; ready() keeps this true for any future caller.
    if (!numpy_api::ready()) return nullptr;
    npy_intp length = static_cast<npy_intp>(series.size());
    double* values = series.data();
    for (npy_intp i = 0; i < length; ++i) values[i] = canonical(values[i]);
    // From here on the holder owns the buffer: every exit below frees it.
    Ref holder(PyCapsule_New(series.data(), holder_name, free_holder));
    if (!holder) return nullptr;  // the series still owns and frees its buffer
    double* data = series.release();
    Py_INCREF(numpy_api::float64);  // PyArray_NewFromDescr steals a reference
    PyObject* array = PyArray_NewFromDescr(&PyArray_Type, numpy_api::float64, 1, &length, nullptr,
                                           data, NPY_ARRAY_CARRAY, nullptr);
    if (array == nullptr) return nullptr;
    // SetBaseObject takes the holder's reference whether or not it succeeds.
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array), holder.release()) < 0) {
        Py_DECREF(array);
        return nullptr;
    }
    return array;
}

}  // namespace lumetra::binding
