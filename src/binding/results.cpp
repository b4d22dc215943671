#include "binding/results.hpp"

#include <cstddef>

#include "binding/numpy_api.hpp"
#include "common/lanes.hpp"

namespace lumetra::binding {

namespace {

const char holder_name[] = "lumetra._core.buffer";

void free_holder(PyObject* holder) {
    Series::free(static_cast<double*>(PyCapsule_GetPointer(holder, holder_name)));
}

// Whether any of the n values is NaN. Results rarely hold one, so they are
// only read (eight values a step, in four two-lane comparisons), and written
// only when one is found.
bool any_nan(const double* values, std::size_t n) noexcept {
    using V = lanes::Vector<2>;
    lanes::Mask<2> seen[4] = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        for (std::size_t k = 0; k < 4; ++k) {
            V x;
            lanes::load(x, values + i + 2 * k);
            seen[k] |= x != x;
        }
    }
    const lanes::Mask<2> all = (seen[0] | seen[1]) | (seen[2] | seen[3]);
    bool any = (all[0] | all[1]) != 0;
    for (; i < n; ++i) any |= values[i] != values[i];
    return any;
}

}  // namespace

PyObject* to_python(Series&& series) noexcept {
    // Result arrays are only made after arguments were converted, so the
    // NumPy table is loaded; ready() keeps this true for any future caller.
    if (!numpy_api::ready()) return nullptr;
    npy_intp length = static_cast<npy_intp>(series.size());
    double* values = series.data();
    if (any_nan(values, series.size()))
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
