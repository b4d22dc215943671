#define LUMETRA_DEFINE_NUMPY_API
#include "binding/numpy_api.hpp"

#include <string>

#include "binding/errors.hpp"

namespace lumetra::binding::numpy_api {

bool loaded = false;
PyArray_Descr* float64 = nullptr;
PyArray_Descr* int64 = nullptr;

namespace {

// The capsule stays referenced for the life of the process: the table it
// points to belongs to it.
PyObject* capsule = nullptr;

// NumPy 2 moved its core package from numpy.core to numpy._core; the
// installed major version decides where the capsule lives.
Ref array_api_capsule() {
    Ref numpy(PyImport_ImportModule("numpy"));
    if (!numpy) return Ref();
    Ref version(PyObject_GetAttrString(numpy.get(), "__version__"));
    if (!version) return Ref();
    Ref numpy_lib(PyImport_ImportModule("numpy.lib"));
    if (!numpy_lib) return Ref();
    Ref version_class(PyObject_GetAttrString(numpy_lib.get(), "NumpyVersion"));
    if (!version_class) return Ref();
    Ref parsed(PyObject_CallOneArg(version_class.get(), version.get()));
    if (!parsed) return Ref();
    Ref major_object(PyObject_GetAttrString(parsed.get(), "major"));
    if (!major_object) return Ref();
    const long major = PyLong_AsLong(major_object.get());
    if (major == -1 && PyErr_Occurred()) return Ref();
    Ref multiarray(
        PyImport_ImportModule(major >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray"));
    if (!multiarray) return Ref();
    Ref api(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
    if (!api) return Ref();
    if (!PyCapsule_CheckExact(api.get())) {
        PyErr_SetString(PyExc_TypeError, "_ARRAY_API is not a capsule");
        return Ref();
    }
    return api;
}

bool fail_lookup() {
    // Whatever went wrong is folded into the message of the internal failure.
    std::string message = "Failed to access NumPy array API capsule";
    if (PyObject* cause = PyErr_GetRaisedException()) {  // GCOVR_EXCL_BR_LINE: always set
        if (Ref text{PyObject_Str(cause)}) {
            if (const char* utf8 = PyUnicode_AsUTF8(text.get())) {
                message += ": ";
                message += utf8;
            }
        }
        PyErr_Clear();
        Py_DECREF(cause);
    }
    raise_panic(Failure(std::move(message)));
    return false;
}

}  // namespace

bool load() {
    Ref api = array_api_capsule();
    if (!api) return fail_lookup();
    void* table = PyCapsule_GetPointer(api.get(), nullptr);
    if (table == nullptr) return fail_lookup();
    PyArray_API = static_cast<void**>(table);
    // The header's compatibility helpers consult the running NumPy's feature
    // level, which import_array() would have recorded.
    PyArray_RUNTIME_VERSION = static_cast<int>(PyArray_GetNDArrayCFeatureVersion());
    float64 = PyArray_DescrFromType(NPY_FLOAT64);
    int64 = PyArray_DescrFromType(NPY_INT64);
    if (float64 == nullptr || int64 == nullptr) {  // GCOVR_EXCL_LINE: NumPy's builtin types
        // GCOVR_EXCL_START
        Py_CLEAR(float64);
        Py_CLEAR(int64);
        return fail_lookup();
        // GCOVR_EXCL_STOP
    }
    capsule = api.release();
    loaded = true;
    return true;
}

}  // namespace lumetra::binding::numpy_api
