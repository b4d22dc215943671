#include "binding/sequences.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace lumetra::binding {

namespace {

// Whether an array's type iterates as ndarray does: a subclass that defines
// __iter__ or __getitem__ (a masked array, a memory map) yields whatever
// those return.
bool iterates_as_ndarray(PyObject* object) noexcept {
    PyTypeObject* type = Py_TYPE(object);
    return type == &PyArray_Type ||
           // (NumPy's subclasses all inherit a sequence table.)
           (type->tp_iter == PyArray_Type.tp_iter &&
            type->tp_as_sequence != nullptr &&  // GCOVR_EXCL_BR_LINE
            type->tp_as_sequence->sq_item == PyArray_Type.tp_as_sequence->sq_item);
}

// The items of an exact list or tuple, when every one is an exact float.
bool copy_exact_floats(PyObject* object, NumberStore& store, std::span<const double>& out) {
    if (!PyList_CheckExact(object) && !PyTuple_CheckExact(object)) return false;
    PyObject* const* items = PySequence_Fast_ITEMS(object);
    const std::size_t size = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(object));
    for (std::size_t i = 0; i < size; ++i)
        if (!PyFloat_CheckExact(items[i])) return false;
    double* stored = store.take(size);
    for (std::size_t i = 0; i < size; ++i) stored[i] = PyFloat_AS_DOUBLE(items[i]);
    out = std::span<const double>(stored, size);
    return true;
}

bool copy_float64_array(PyObject* object, NumberStore& store, std::span<const double>& out) {
    // Before the first array argument NumPy's table may not be loaded yet;
    // such a call reads its sequences through the protocol.
    if (!numpy_api::loaded || !PyArray_Check(object)) return false;
    if (!iterates_as_ndarray(object)) return false;
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_NDIM(array) != 1) return false;
    // Byte-swapped float64 iterates as the same numbers but is stored
    // otherwise; the items must be float64 scalars.
    PyArray_Descr* descr = PyArray_DESCR(array);
    if (descr != numpy_api::float64 && (descr->typeobj != numpy_api::float64->typeobj ||
                                        !PyArray_EquivTypes(descr, numpy_api::float64)))
        return false;
    // (A broadcast array may be longer than any buffer: a failing
    // allocation, as for the protocol's copy, not a size error.)
    const std::size_t size = static_cast<std::size_t>(PyArray_DIM(array, 0));
    double* stored = store.take(size);
    // Elements may lie at any address (a field of a packed record).
    const char* data = PyArray_BYTES(array);
    const npy_intp stride = PyArray_STRIDE(array, 0);
    if (stride == static_cast<npy_intp>(sizeof(double))) {
        if (size > 0) std::memcpy(stored, data, size * sizeof(double));
    } else {
        for (std::size_t i = 0; i < size; ++i)
            std::memcpy(stored + i, data + static_cast<npy_intp>(i) * stride, sizeof(double));
    }
    out = std::span<const double>(stored, size);
    return true;
}

}  // namespace

double* NumberStore::take(std::size_t n) {
    if (n > left_) {
        // A new chunk (the rest of the last one stays unused), or a block of
        // its own for more numbers than a chunk holds. Chunks double from
        // the size of the inline one up to the largest. Counts past what
        // memory can hold fail as allocations.
        // GCOVR_EXCL_BR_START: no array or list holds that many numbers
        if (n > PTRDIFF_MAX / sizeof(double)) throw std::bad_alloc();
        // GCOVR_EXCL_BR_STOP
        const std::size_t doublings = std::min<std::size_t>(chunks_.size() + 1, 6);
        const std::size_t size = std::max(n, inline_chunk << doublings);
        chunks_.push_back(std::make_unique_for_overwrite<double[]>(size));
        next_ = chunks_.back().get();
        left_ = size;
    }
    double* taken = next_;
    next_ += n;
    left_ -= n;
    return taken;
}

bool copy_floats(PyObject* object, NumberStore& store, std::span<const double>& out) {
    return copy_exact_floats(object, store, out) || copy_float64_array(object, store, out);
}

Ref iterate_sequence(PyObject* object) {
    // A str passes the sequence test, but its characters are never the
    // items meant.
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError,
                        "a str cannot be taken as a sequence; pass a list, a tuple or an array");
        return Ref();
    }
    if (!PySequence_Check(object)) {
        refuse(object, "Sequence");
        return Ref();
    }
    return Ref(PyObject_GetIter(object));
}

bool MatrixRows::is_matrix(PyObject* object) noexcept {
    // (A subclass that iterates otherwise is iterated.)
    if (!PyArray_Check(object) || !iterates_as_ndarray(object)) return false;
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_NDIM(array) != 2) return false;
    PyArray_Descr* descr = PyArray_DESCR(array);
    return descr == numpy_api::float64 || PyArray_EquivTypes(descr, numpy_api::float64);
}

bool MatrixRows::load(PyObject* object) noexcept {
    if (!is_matrix(object)) return false;
    array_ = reinterpret_cast<PyArrayObject*>(object);
    rows_ = static_cast<std::size_t>(PyArray_DIM(array_, 0));
    return true;
}

bool MatrixRows::finish() {
    auto* object = reinterpret_cast<PyObject*>(array_);
    if (!is_matrix(object) || static_cast<std::size_t>(PyArray_DIM(array_, 0)) < rows_)
        return refuse(object, "PyArray<T, D>");
    columns_ = static_cast<std::size_t>(PyArray_DIM(array_, 1));
    const char* data = PyArray_BYTES(array_);
    const npy_intp row_stride = PyArray_STRIDE(array_, 0);
    const npy_intp stride = PyArray_STRIDE(array_, 1);
    constexpr npy_intp width = static_cast<npy_intp>(sizeof(double));
    const bool aligned = reinterpret_cast<std::uintptr_t>(data) % alignof(double) == 0 &&
                         (rows_ < 2 || row_stride % width == 0) &&
                         (columns_ < 2 || stride % width == 0);
    if (aligned || rows_ == 0 || columns_ == 0) {
        data_ = data;
        row_step_ = row_stride;
        step_ = columns_ > 1 ? stride / width : 1;
        return true;
    }
    // (NumPy keeps an array's size in bytes within the largest signed size,
    // broadcast or not: a net.)
    const std::size_t most = static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(double);
    if (columns_ > most / rows_) throw std::bad_alloc();  // GCOVR_EXCL_LINE
    copy_ = std::make_unique_for_overwrite<double[]>(rows_ * columns_);
    double* out = copy_.get();
    for (std::size_t i = 0; i < rows_; ++i) {
        const char* row = data + static_cast<npy_intp>(i) * row_stride;
        for (std::size_t j = 0; j < columns_; ++j)
            std::memcpy(out++, row + static_cast<npy_intp>(j) * stride, sizeof(double));
    }
    data_ = reinterpret_cast<const char*>(copy_.get());
    row_step_ = static_cast<std::ptrdiff_t>(columns_ * sizeof(double));
    step_ = 1;
    return true;
}

std::vector<View<double>> MatrixRows::views() const {
    if (rows_ > static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(View<double>))
        throw std::bad_alloc();
    std::vector<View<double>> rows;
    rows.reserve(rows_);
    for (std::size_t i = 0; i < rows_; ++i) {
        const char* row = data_ + static_cast<std::ptrdiff_t>(i) * row_step_;
        rows.emplace_back(reinterpret_cast<const double*>(row), columns_, step_);
    }
    return rows;
}

bool check_tuple(PyObject* object, std::size_t length) {
    if (!PyTuple_Check(object)) return refuse(object, "PyTuple");
    const Py_ssize_t given = PyTuple_GET_SIZE(object);
    if (static_cast<std::size_t>(given) != length) {
        PyErr_Format(PyExc_TypeError, "expected tuple of length %zu, but got tuple of length %zd",
                     length, given);
        return false;
    }
    return true;
}

}  // namespace lumetra::binding
