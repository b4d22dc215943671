// Result kinds: how a kernel's value becomes a new Python object.
#pragma once

#include <cstddef>
#include <tuple>
#include <utility>
#include <vector>

#include "binding/python.hpp"
#include "common/series.hpp"

namespace lumetra::binding {

// A float64 array over the series' buffer, without a copy. The buffer is
// owned by a holder object that NumPy keeps as the array's base.
PyObject* to_python(Series&& series) noexcept;

inline PyObject* to_python(double value) noexcept { return PyFloat_FromDouble(value); }

inline PyObject* to_python(bool value) noexcept { return Py_NewRef(value ? Py_True : Py_False); }

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
                if (item == nullptr || !ok) {
                    ok = false;
                    Py_XDECREF(item);
                    return;
                }
                PyTuple_SET_ITEM(tuple, I, item);
            }(),
            ...);
    }(std::index_sequence_for<T...>{});
    if (!ok) {
        Py_XDECREF(tuple);
        return nullptr;
    }
    return tuple;
}

template <class T>
PyObject* to_python(std::vector<T>&& values) noexcept {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
    bool ok = list != nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = to_python(std::move(values[i]));
        if (item == nullptr || !ok) {
            ok = false;
            Py_XDECREF(item);
            continue;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
    }
    if (!ok) {
        Py_XDECREF(list);
        return nullptr;
    }
    return list;
}

}  // namespace lumetra::binding
