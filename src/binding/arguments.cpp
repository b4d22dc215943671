#include "binding/arguments.hpp"

#include <cstdint>

namespace lumetra::binding {

bool refuse(PyObject* object, const char* target) {
    Ref name = type_qualname(object);
    if (name)  // GCOVR_EXCL_BR_LINE: out of memory
        PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(),
                     target);
    return false;
}

bool check_array(PyObject* object, PyArray_Descr* dtype) {
    if (!PyArray_Check(object)) return refuse(object, "PyArray<T, D>");
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_NDIM(array) != 1) return refuse(object, "PyArray<T, D>");
    // The builtin descriptor itself is the common case; anything else (a
    // byte-swapped, aliased or user dtype) goes through NumPy's own test.
    PyArray_Descr* descr = PyArray_DESCR(array);
    if (descr != dtype && !PyArray_EquivTypes(descr, dtype)) return refuse(object, "PyArray<T, D>");
    return true;
}

bool load_unsigned(PyObject* object, std::uint64_t& out) {
    unsigned long long value;
    if (PyLong_Check(object)) {
        value = PyLong_AsUnsignedLongLong(object);
    } else {
        Ref index(PyNumber_Index(object));
        if (!index) return false;
        value = PyLong_AsUnsignedLongLong(index.get());
    }
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = static_cast<std::uint64_t>(value);
    return true;
}

bool load_bool(PyObject* object, bool& out) {
    // A NumPy boolean scalar: a type named bool_ (NumPy 1) or bool (NumPy 2)
    // from the module numpy, read through its truth-value slot.
    PyTypeObject* type = Py_TYPE(object);
    Ref name(PyType_GetName(type));
    if (!name) return false;  // GCOVR_EXCL_BR_LINE: out of memory
    const bool bool_name =
        PyUnicode_EqualToUTF8(name.get(), "bool_") || PyUnicode_EqualToUTF8(name.get(), "bool");
    if (!bool_name) return refuse(object, "PyBool");
    Ref module(PyType_GetModuleName(type));
    if (!module) {
        PyErr_Clear();
        return refuse(object, "PyBool");
    }
    if (!PyUnicode_Check(module.get()) || !PyUnicode_EqualToUTF8(module.get(), "numpy"))
        return refuse(object, "PyBool");
    // (Every type built by NumPy or by a class statement has a number table.)
    PyNumberMethods* number = type->tp_as_number;
    inquiry truth = number != nullptr ? number->nb_bool : nullptr;  // GCOVR_EXCL_BR_LINE
    if (truth == nullptr) {
        PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion",
                     reinterpret_cast<PyObject*>(type));
        return false;
    }
    const int value = truth(object);
    if (value < 0) return false;
    out = value != 0;
    return true;
}

}  // namespace lumetra::binding
