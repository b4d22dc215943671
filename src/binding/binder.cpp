#include "binding/binder.hpp"

namespace lumetra::binding {

namespace {

// The parameter names are interned together on the first call that passes a
// keyword; the last one being set means all are.
bool intern_names(const Signature& signature) {
    if (signature.interned[signature.count - 1] != nullptr) return true;
    for (Py_ssize_t i = 0; i < signature.count; ++i) {
        if (signature.interned[i] != nullptr) continue;  // GCOVR_EXCL_BR_LINE: no memory
        signature.interned[i] = PyUnicode_InternFromString(signature.params[i]);
        if (signature.interned[i] == nullptr) return false;  // GCOVR_EXCL_BR_LINE: out of memory
    }
    return true;
}

// Keyword names from a call site are interned constants, so identity finds
// them; a name built at run time (a **kwargs dict) falls back to equality.
// (The caller has already tried the parameter at the keyword's own position:
// keywords usually come in parameter order.)
Py_ssize_t find_parameter(const Signature& signature, PyObject* key) {
    for (Py_ssize_t i = 0; i < signature.count; ++i)
        if (signature.interned[i] == key) return i;
    for (Py_ssize_t i = 0; i < signature.count; ++i)
        if (PyUnicode_Compare(signature.interned[i], key) == 0) return i;
    return -1;
}

void raise_missing(const Signature& signature, PyObject** slots) {
    Py_ssize_t missing = 0;
    for (Py_ssize_t i = 0; i < signature.count; ++i) missing += slots[i] == nullptr;
    // 'a'; 'a' and 'b'; 'a', 'b', and 'c'
    Ref names(PyUnicode_FromString(""));
    if (!names) return;  // GCOVR_EXCL_BR_LINE: out of memory
    Py_ssize_t listed = 0;
    for (Py_ssize_t i = 0; i < signature.count; ++i) {
        if (slots[i] != nullptr) continue;
        const char* separator = "";
        if (listed > 0)
            separator = missing == 2 ? " and " : (listed == missing - 1 ? ", and " : ", ");
        ++listed;
        Ref joined(PyUnicode_FromFormat("%U%s'%s'", names.get(), separator, signature.params[i]));
        if (!joined) return;  // GCOVR_EXCL_BR_LINE: out of memory
        names = std::move(joined);
    }
    PyErr_Format(PyExc_TypeError, "%s() missing %zd required positional argument%s: %U",
                 signature.name, missing, missing == 1 ? "" : "s", names.get());
}

}  // namespace

bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots) {
    const Py_ssize_t count = signature.count;
    if (nargs > count) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments but %zd were given",
                     signature.name, count, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
    for (Py_ssize_t i = nargs; i < count; ++i) slots[i] = nullptr;

    Py_ssize_t nkw = 0;
    if (kwnames != nullptr) {
        if (!intern_names(signature)) return false;  // GCOVR_EXCL_BR_LINE: out of memory
        nkw = PyTuple_GET_SIZE(kwnames);
        PyObject* const* keys = &PyTuple_GET_ITEM(kwnames, 0);
        PyObject* const* values = args + nargs;
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = keys[k];
            Py_ssize_t i = nargs + k;
            if (i >= count || signature.interned[i] != key) {
                i = find_parameter(signature, key);
                if (i < 0) {
                    if (PyErr_Occurred()) return false;  // GCOVR_EXCL_BR_LINE: str keys
                    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                                 signature.name, key);
                    return false;
                }
            }
            if (slots[i] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                             signature.name, signature.params[i]);
                return false;
            }
            slots[i] = values[k];
        }
    }

    // Every keyword filled a distinct empty slot, so with as many arguments as
    // parameters none is missing.
    if (nargs + nkw == count) return true;
    raise_missing(signature, slots);
    return false;
}

}  // namespace lumetra::binding
