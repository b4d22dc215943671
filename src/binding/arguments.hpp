// Argument kinds: how each Python argument becomes the native value that a
// kernel parameter of type T receives.
//
// Arg<T>::load(object) converts a borrowed object, or raises and returns false.
// Loading runs every piece of Python code a conversion may call (__float__,
// __index__, __bool__, a sequence's iteration), and such code may change an
// array that an earlier argument already accepted: its dtype, its shape, its
// strides. So once every argument is loaded, finish() checks each array again
// exactly as its conversion did and takes its data pointer, length and stride
// (or its aligned copy) from that final state, raising and returning false
// when it no longer qualifies. finish() runs no Python code: nothing can
// change an array between it and the kernel. get() then hands over what
// load() and finish() captured. The sequence kinds, which only
// batch_ets_filter takes, are in sequences.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>

#include "binding/errors.hpp"
#include "binding/numpy_api.hpp"
#include "binding/python.hpp"
#include "common/view.hpp"

namespace lumetra::binding {

template <class T>
struct Arg;  // one specialisation per argument kind

// Raises the conversion's TypeError, "'<type>' object cannot be converted to
// '<target>'", and returns false. The targets ('PyArray<T, D>', 'PyBool',
// 'PyTuple', 'Sequence') name no type of this code: they are fixed words of
// the module's interface, which callers match on, as the failure messages of
// failure.hpp are.
bool refuse(PyObject* object, const char* target);

// One-dimensional arrays: FloatArray1 (View<double>) and IntArray1
// (View<std::int64_t>). Whether the object is an ndarray of one dimension
// whose dtype is equivalent to `dtype`; raises the conversion's TypeError and
// returns false when it is not.
bool check_array(PyObject* object, PyArray_Descr* dtype);

// The kernel's view of an accepted array. Arrays are read in place, through
// their strides, whenever every element lies at an address aligned for its
// 8-byte type. Arrays whose elements do not (data rebuilt inside a byte
// buffer, as message transports do; a field of a packed record) cannot be
// read through a typed pointer, so their elements are copied, in index
// order, into an aligned private buffer that lives as long as the argument.
template <class T>
class ArrayArg {
public:
    // (Not defaulted: the members that are only set by finish() are then not
    // zeroed first for every call.)
    ArrayArg() noexcept {}

    bool load(PyObject* object) {
        // The dtype objects exist once the NumPy table is loaded.
        if (!numpy_api::ready() || !accepts(object)) return false;
        array_ = reinterpret_cast<PyArrayObject*>(object);
        return true;
    }

    // The same checks on the array as it is now, then its layout.
    bool finish() {
        if (!accepts(reinterpret_cast<PyObject*>(array_))) return false;
        size_ = static_cast<std::size_t>(PyArray_DIM(array_, 0));
        const char* data = PyArray_BYTES(array_);
        const npy_intp stride = PyArray_STRIDE(array_, 0);
        constexpr npy_intp width = static_cast<npy_intp>(sizeof(T));
        const bool aligned = reinterpret_cast<std::uintptr_t>(data) % alignof(T) == 0 &&
                             (size_ < 2 || stride % width == 0);
        if (aligned || size_ == 0) {
            data_ = reinterpret_cast<const T*>(data);
            step_ = size_ > 1 ? stride / width : 1;
            return true;
        }
        copy_ = std::make_unique_for_overwrite<T[]>(size_);
        for (std::size_t i = 0; i < size_; ++i)
            std::memcpy(&copy_[i], data + static_cast<npy_intp>(i) * stride, sizeof(T));
        data_ = copy_.get();
        step_ = 1;
        return true;
    }

    View<T> get() const noexcept { return View<T>(data_, size_, step_); }

private:
    static PyArray_Descr* dtype() noexcept {
        return std::is_same_v<T, double> ? numpy_api::float64 : numpy_api::int64;
    }

    // The common case (an ndarray itself, of one dimension, with the builtin
    // descriptor) is decided here; check_array decides the rest.
    static bool accepts(PyObject* object) {
        if (Py_IS_TYPE(object, &PyArray_Type)) {
            auto* array = reinterpret_cast<PyArrayObject*>(object);
            if (PyArray_NDIM(array) == 1 && PyArray_DESCR(array) == dtype()) return true;
        }
        return check_array(object, dtype());
    }

    PyArrayObject* array_ = nullptr;  // borrowed: the caller's argument keeps it alive
    std::unique_ptr<T[]> copy_;
    // The view that get() hands over, set by finish().
    const T* data_;
    std::size_t size_;
    std::ptrdiff_t step_;
};

// Arg<T>::finish(), for the kinds that have one; scalars are final once loaded.
template <class A>
bool finish_arg(A& arg) {
    if constexpr (requires { arg.finish(); }) {
        return arg.finish();
    } else {
        return true;
    }
}

template <>
struct Arg<View<double>> : ArrayArg<double> {};

template <>
struct Arg<View<std::int64_t>> : ArrayArg<std::int64_t> {};

// float: an exact float is read directly, anything else through the
// interpreter's float conversion.
template <>
struct Arg<double> {
    double value = 0.0;
    bool load(PyObject* object) {
        if (PyFloat_CheckExact(object)) {
            value = PyFloat_AS_DOUBLE(object);
            return true;
        }
        value = PyFloat_AsDouble(object);
        return !(value == -1.0 && PyErr_Occurred());
    }
    double get() const noexcept { return value; }
};

// The value of an exact int that fits in one of the interpreter's digits
// (below 2^30 in magnitude), read in place: the value that its conversions
// give, without a call. Returns false for anything else.
inline bool small_int(PyObject* object, long& value) noexcept {
    if (!PyLong_CheckExact(object)) return false;
    auto* number = reinterpret_cast<PyLongObject*>(object);
    if (!PyUnstable_Long_IsCompact(number)) return false;
    value = static_cast<long>(PyUnstable_Long_CompactValue(number));
    return true;
}

// unsigned integer: 0 to 2^64 - 1, through the interpreter's index conversion.
bool load_unsigned(PyObject* object, std::uint64_t& out);

template <>
struct Arg<std::uint64_t> {
    std::uint64_t value = 0;
    bool load(PyObject* object) {
        long small;
        if (small_int(object, small) && small >= 0) {
            value = static_cast<std::uint64_t>(small);
            return true;
        }
        return load_unsigned(object, value);
    }
    std::uint64_t get() const noexcept { return value; }
};

// 32-bit integer: the interpreter's conversion to a C long, then a range check.
template <>
struct Arg<std::int32_t> {
    std::int32_t value = 0;
    bool load(PyObject* object) {
        long small;
        if (small_int(object, small)) {  // within 32 bits
            value = static_cast<std::int32_t>(small);
            return true;
        }
        const long wide = PyLong_AsLong(object);
        if (wide == -1 && PyErr_Occurred()) return false;
        if (wide < std::numeric_limits<std::int32_t>::min() ||
            wide > std::numeric_limits<std::int32_t>::max()) {
            PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
            return false;
        }
        value = static_cast<std::int32_t>(wide);
        return true;
    }
    std::int32_t get() const noexcept { return value; }
};

// bool: exactly True or False, or a NumPy boolean scalar.
bool load_bool(PyObject* object, bool& out);

template <>
struct Arg<bool> {
    bool value = false;
    bool load(PyObject* object) {
        if (object == Py_True || object == Py_False) {
            value = object == Py_True;
            return true;
        }
        return load_bool(object, value);
    }
    bool get() const noexcept { return value; }
};

}  // namespace lumetra::binding
