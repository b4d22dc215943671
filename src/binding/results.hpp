// Result kinds: how a kernel's value becomes a new Python object.
#pragma once

#include <cstddef>
#include <limits>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/python.hpp"
#include "common/series.hpp"

namespace lumetra::binding {

// Every NaN that a result holds is handed out as the quiet NaN that Python
// and NumPy write (np.nan, bits 0x7ff8000000000000); no other value changes.
// IEEE arithmetic gives an operation on two NaNs the NaN of one of them, and
// which one depends on the operand order that the compiler picked (free to
// pick, as the operations commute for every other value), and the processor
// chooses the sign of a NaN made from numbers: the same operations could
// otherwise return NaNs of either sign or payload from a scalar loop, from
// vector lanes, from a strided or a contiguous read, or from another build.
inline double canonical(double value) noexcept {
    return value == value ? value : std::numeric_limits<double>::quiet_NaN();
}

// A float64 array over the series' buffer, without a copy. The buffer is
// owned by a holder object that NumPy keeps as the array's base.
PyObject* to_python(Series&& series) noexcept;

inline PyObject* to_python(double value) noexcept { return PyFloat_FromDouble(canonical(value)); }

inline PyObject* to_python(bool value) noexcept { return Py_NewRef(value ? Py_True : Py_False); }

// Kernel values whose Python objects are no containers to the cycle
// collector (it does not track floats, bools or arrays).
template <class T>
inline constexpr bool atomic_result =
    std::is_same_v<T, double> || std::is_same_v<T, bool> || std::is_same_v<T, Series>;

template <class... T>
PyObject* to_python(std::tuple<T...>&& values) noexcept;

template <class T>
PyObject* to_python(std::vector<T>&& values) noexcept;

template <class... T>
PyObject* to_python(std::tuple<T...>&& values) noexcept {
    PyObject* tuple = PyTuple_New(sizeof...(T));
    // Members are converted in order even after a failure, so that every
    // buffer is handed to a holder (and freed with it).
    bool ok = tuple != nullptr;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (
            (void)[&] {
                PyObject* item = to_python(std::move(std::get<I>(values)));
                if (item == nullptr || !ok) {  // GCOVR_EXCL_BR_LINE: out of memory
                    ok = false;
                    Py_XDECREF(item);
                    return;
                }
                PyTuple_SET_ITEM(tuple, I, item);
            }(),
            ...);
    }(std::index_sequence_for<T...>{});
    if (!ok) {  // GCOVR_EXCL_BR_LINE: out of memory
        Py_XDECREF(tuple);
        return nullptr;
    }
    // The collector cannot follow a reference out of a float, a bool or an
    // array, so a tuple of them can be part of no cycle that it would find:
    // it stops tracking such a tuple at its next pass, and is spared visiting
    // it until then.
    if constexpr ((atomic_result<T> && ...)) PyObject_GC_UnTrack(tuple);
    return tuple;
}

template <class T>
PyObject* to_python(std::vector<T>&& values) noexcept {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
    bool ok = list != nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = to_python(std::move(values[i]));
        if (item == nullptr || !ok) {  // GCOVR_EXCL_BR_LINE: out of memory
            ok = false;
            Py_XDECREF(item);
            continue;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
    }
    if (!ok) {  // GCOVR_EXCL_BR_LINE: out of memory
        Py_XDECREF(list);
        return nullptr;
    }
    return list;
}

}  // namespace lumetra::binding
