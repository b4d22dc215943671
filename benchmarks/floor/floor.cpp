// The no-op floor of the benchmarks, built only for them.
//
// noop(kinds, template) makes a fast-call function that takes the arguments
// of a function of lumetra._core (positionally), reads each as cheaply as
// CPython and NumPy allow by its kind, does no work, and returns objects of
// the template's shape: a new float for a float, the same bool for a bool, a
// new uninitialised float64 array of the same length for an array, and new
// tuples and lists of such objects. The kinds are those that the module's
// conversions accept (learnt by benchmarks/harness.py), the template is the
// function's own result for the same arguments: nothing here is written per
// function. The time of a short call of ours divided by a call of its floor
// is the overhead of our call frame.
//
// Kinds: A float64 array, I int64 array, F float, U unsigned (or 32-bit)
// integer, B bool, Y sequence of float64 arrays, P sequence of tuples whose
// items are read by their type.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#define PY_ARRAY_UNIQUE_SYMBOL lumetra_bench_floor_ARRAY_API
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

#include <cstddef>
#include <cstdint>

namespace {

volatile double sink_double;
volatile std::uintptr_t sink_pointer;

bool fail_type() {
    PyErr_SetString(PyExc_TypeError, "bad argument");
    return false;
}

bool read_array(PyObject* o, int type) {
    if (!PyArray_Check(o)) return fail_type();
    auto* a = reinterpret_cast<PyArrayObject*>(o);
    if (PyArray_NDIM(a) != 1 || PyArray_TYPE(a) != type) return fail_type();
    sink_pointer = reinterpret_cast<std::uintptr_t>(PyArray_DATA(a)) +
                   static_cast<std::uintptr_t>(PyArray_STRIDE(a, 0)) +
                   static_cast<std::uintptr_t>(PyArray_DIM(a, 0));
    return true;
}

bool read_float(PyObject* o) {
    const double v = PyFloat_CheckExact(o) ? PyFloat_AS_DOUBLE(o) : PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) return false;
    sink_double = v;
    return true;
}

bool read_unsigned(PyObject* o) {
    const unsigned long long v = PyLong_AsUnsignedLongLong(o);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    sink_double = static_cast<double>(v);
    return true;
}

// An item of a sequence of tuples, read by its type: a float, an integer, a
// float64 array or a list of floats.
bool read_item(PyObject* o) {
    if (PyFloat_Check(o)) return read_float(o);
    if (PyLong_Check(o)) return read_unsigned(o);
    if (PyArray_Check(o)) return read_array(o, NPY_DOUBLE);
    if (!PyList_Check(o)) return fail_type();
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(o); ++i)
        if (!read_float(PyList_GET_ITEM(o, i))) return false;
    return true;
}

bool read_kind(char kind, PyObject* o) {
    switch (kind) {
        case 'A':
            return read_array(o, NPY_DOUBLE);
        case 'I':
            return read_array(o, NPY_INT64);
        case 'F':
            return read_float(o);
        case 'U':
            return read_unsigned(o);
        case 'B':
            return o == Py_True || o == Py_False || fail_type();
        case 'Y':
        case 'P':
            if (!PyList_Check(o)) return fail_type();
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(o); ++i) {
                PyObject* item = PyList_GET_ITEM(o, i);
                if (kind == 'Y') {
                    if (!read_array(item, NPY_DOUBLE)) return false;
                    continue;
                }
                if (!PyTuple_Check(item)) return fail_type();
                for (Py_ssize_t j = 0; j < PyTuple_GET_SIZE(item); ++j)
                    if (!read_item(PyTuple_GET_ITEM(item, j))) return false;
            }
            return true;
        default:
            return fail_type();
    }
}

// New objects of the template's shape.
PyObject* make(PyObject* shape) {
    if (PyFloat_Check(shape)) return PyFloat_FromDouble(0.0);
    if (PyBool_Check(shape)) return Py_NewRef(shape);
    if (PyArray_Check(shape)) {
        npy_intp n = PyArray_DIM(reinterpret_cast<PyArrayObject*>(shape), 0);
        return PyArray_SimpleNew(1, &n, NPY_DOUBLE);
    }
    const bool tuple = PyTuple_Check(shape);
    if (!tuple && !PyList_Check(shape)) {
        fail_type();
        return nullptr;
    }
    const Py_ssize_t count = Py_SIZE(shape);
    PyObject* out = tuple ? PyTuple_New(count) : PyList_New(count);
    if (out == nullptr) return nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* item = make(tuple ? PyTuple_GET_ITEM(shape, i) : PyList_GET_ITEM(shape, i));
        if (item == nullptr) {
            Py_DECREF(out);
            return nullptr;
        }
        if (tuple) {
            PyTuple_SET_ITEM(out, i, item);
        } else {
            PyList_SET_ITEM(out, i, item);
        }
    }
    return out;
}

// A floor: self is the tuple (kinds as bytes, template).
PyObject* call_floor(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    PyObject* kinds = PyTuple_GET_ITEM(self, 0);
    if (nargs != PyBytes_GET_SIZE(kinds)) {
        PyErr_SetString(PyExc_TypeError, "wrong number of arguments");
        return nullptr;
    }
    const char* kind = PyBytes_AS_STRING(kinds);
    for (Py_ssize_t i = 0; i < nargs; ++i)
        if (!read_kind(kind[i], args[i])) return nullptr;
    return make(PyTuple_GET_ITEM(self, 1));
}

PyMethodDef floor_method = {
    "floor", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call_floor)),
    METH_FASTCALL, nullptr};

PyObject* noop(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || !PyBytes_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "noop(kinds: bytes, template)");
        return nullptr;
    }
    PyObject* self = PyTuple_Pack(2, args[0], args[1]);
    if (self == nullptr) return nullptr;
    PyObject* floor = PyCFunction_NewEx(&floor_method, self, module);
    Py_DECREF(self);
    return floor;
}

PyMethodDef methods[] = {
    {"noop", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&noop)), METH_FASTCALL,
     "noop(kinds, template): the no-op floor of a function with these argument kinds and "
     "results of the template's shape."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {PyModuleDef_HEAD_INIT,
                      "lumetra_bench_floor",
                      nullptr,
                      -1,
                      methods,
                      nullptr,
                      nullptr,
                      nullptr,
                      nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_lumetra_bench_floor() {
    import_array();
    return PyModule_Create(&module);
}
