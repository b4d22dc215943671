// The interpreter's and NumPy's C APIs, as the binding layer uses them.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// NumPy's API table is looked up by the module itself on first need (see
// numpy_api.cpp), never through import_array(); one translation unit defines
// the table's symbol and every other one refers to it.
#define PY_ARRAY_UNIQUE_SYMBOL lumetra_ARRAY_API
#ifndef LUMETRA_DEFINE_NUMPY_API
#define NO_IMPORT_ARRAY
#endif
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

#include <utility>

namespace lumetra::binding {

// An owned (strong) reference, released when it goes out of scope. It is
// handed over with release() only to a call that steals the reference.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) noexcept : ptr_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {  // GCOVR_EXCL_BR_LINE: never moved into itself
            Py_XDECREF(ptr_);
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(ptr_); }

    static Ref borrow(PyObject* borrowed) noexcept {
        Py_XINCREF(borrowed);
        return Ref(borrowed);
    }

    PyObject* get() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }

private:
    PyObject* ptr_ = nullptr;
};

}  // namespace lumetra::binding
