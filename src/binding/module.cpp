// The module object: created once per process by single-phase initialisation.
#include "binding/functions.hpp"
#include "binding/python.hpp"

namespace lumetra::binding {

namespace {

// A state size of 0 (not -1) makes the interpreter call the initialisation
// function again in every interpreter that imports the module, which is where
// a subinterpreter is refused: the module's process-wide state (the NumPy
// table, the exception type) belongs to the interpreter that loaded it first.
PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_core", "", 0, functions, nullptr, nullptr, nullptr, nullptr,
};

PyObject* module = nullptr;
PyInterpreterState* owner = nullptr;

PyObject* create() {
    Ref created(PyModule_Create(&module_definition));
    if (!created) return nullptr;  // GCOVR_EXCL_BR_LINE: out of memory
    Ref names(PyList_New(0));
    if (!names) return nullptr;  // GCOVR_EXCL_BR_LINE: out of memory
    for (const PyMethodDef* def = functions; def->ml_name != nullptr; ++def) {
        Ref name(PyUnicode_FromString(def->ml_name));
        // GCOVR_EXCL_BR_START: out of memory
        if (!name || PyList_Append(names.get(), name.get()) < 0) return nullptr;
        // GCOVR_EXCL_BR_STOP
    }
    // GCOVR_EXCL_BR_START: out of memory
    if (PyModule_AddObjectRef(created.get(), "__all__", names.get()) < 0) return nullptr;
    // GCOVR_EXCL_BR_STOP
    return created.release();
}

}  // namespace

}  // namespace lumetra::binding

PyMODINIT_FUNC PyInit__core() {
    using namespace lumetra::binding;
    PyInterpreterState* current = PyInterpreterState_Get();
    if (module != nullptr) {
        if (current != owner) {
            PyErr_SetString(PyExc_ImportError,
                            "lumetra._core: subinterpreters are not supported; the module can "
                            "only be used from the interpreter that first imported it");
            return nullptr;
        }
        return Py_NewRef(module);
    }
    module = create();
    if (module == nullptr) return nullptr;  // GCOVR_EXCL_BR_LINE: out of memory
    owner = current;
    return Py_NewRef(module);
}
