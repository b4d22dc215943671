#include "binding/results.hpp"

#include <cstddef>

#include "binding/buffers.hpp"
#include "binding/numpy_api.hpp"
#include "common/dispatch.hpp"
#include "common/lanes.hpp"

namespace lumetra::binding {

namespace {

// The object that owns a result array's buffer, kept by NumPy as the array's
// base. It is built in the room that buffers.cpp keeps before a series'
// elements, so it costs no allocation of its own, and it gives the room back
// (freeing the block, or its share of a block) when the array lets it go. It
// refers to no object but its type: the cycle collector has no business with
// it.
struct Holder {
    PyObject_HEAD
};
static_assert(sizeof(Holder) <= buffers::owner_bytes && alignof(Holder) <= alignof(double));

void free_holder(PyObject* holder) {
    PyTypeObject* type = Py_TYPE(holder);
    buffers::free_room(reinterpret_cast<std::byte*>(holder));
    Py_DECREF(type);  // each holder holds its (heap) type
}

// The holders' type, made at the first result array and kept for the life of
// the process.
PyTypeObject* holder_type = nullptr;

bool make_holder_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(&free_holder)},
        {Py_tp_doc, const_cast<char*>("The owner of a result array's buffer.")},
        {0, nullptr},
    };
    static PyType_Spec description = {
        "lumetra._core.buffer", sizeof(Holder), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE, slots};
    holder_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&description));
    return holder_type != nullptr;
}

// Whether any of the n values (at least a vector's worth) is NaN. Results
// rarely hold one, so they are only read (four vectors a step, then one at a
// time, the last one ending at the last value), and written only when one is
// found.
struct AnyNan {
    template <class V>
    [[gnu::always_inline]] static bool run(const double* values, std::size_t n) noexcept {
        constexpr std::size_t w = lanes::width<V>;
        lanes::Mask<w> seen[4] = {};
        const auto check = [&](std::size_t k, std::size_t at) {
            V x;
            lanes::load(x, values + at);
            seen[k] |= x != x;
        };
        std::size_t i = 0;
        for (; i + 4 * w <= n; i += 4 * w)
            for (std::size_t k = 0; k < 4; ++k) check(k, i + w * k);
        for (; i + w <= n; i += w) check(0, i);
        if (i < n) check(1, n - w);  // (values already read are read again)
        const lanes::Mask<w> all = (seen[0] | seen[1]) | (seen[2] | seen[3]);
        bool any = false;
        for (std::size_t l = 0; l < w; ++l) any |= all[l] != 0;
        return any;
    }
};

// Short results (a seasonal vector, a batch's many small arrays) are read
// here, without the call through the dispatch point.
bool any_nan(const double* values, std::size_t n) noexcept {
    if (n < 16) {
        bool any = false;
        for (std::size_t i = 0; i < n; ++i) any |= values[i] != values[i];
        return any;
    }
    return lanes::dispatch<AnyNan>(values, n);
}

}  // namespace

PyObject* to_python(Series&& series) noexcept {
    // Result arrays are only made after arguments were converted, so the
    // NumPy table is loaded; ready() keeps this true for any future caller.
    if (!numpy_api::ready()) return nullptr;  // GCOVR_EXCL_BR_LINE: loaded by the arguments
    // GCOVR_EXCL_BR_START: out of memory
    if (holder_type == nullptr && !make_holder_type()) return nullptr;
    // GCOVR_EXCL_BR_STOP
    npy_intp length = static_cast<npy_intp>(series.size());
    double* values = series.data();
    if (series.may_hold_nan() && any_nan(values, series.size()))
        for (npy_intp i = 0; i < length; ++i) values[i] = canonical(values[i]);
    // From here on the holder owns the block: every exit below frees it.
    PyObject* holder =
        PyObject_Init(reinterpret_cast<PyObject*>(buffers::room_of(series.release())), holder_type);
    Py_INCREF(numpy_api::float64);  // PyArray_NewFromDescr steals a reference
    PyObject* array = PyArray_NewFromDescr(&PyArray_Type, numpy_api::float64, 1, &length, nullptr,
                                           values, NPY_ARRAY_CARRAY, nullptr);
    if (array == nullptr) {  // GCOVR_EXCL_BR_LINE: out of memory
        Py_DECREF(holder);
        return nullptr;
    }
    // SetBaseObject takes the holder's reference whether or not it succeeds.
    // GCOVR_EXCL_BR_START: out of memory
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array), holder) < 0) {
        // GCOVR_EXCL_BR_STOP
        Py_DECREF(array);
        return nullptr;
    }
    return array;
}

}  // namespace lumetra::binding
