#include "binding/errors.hpp"

#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace lumetra::binding {

namespace {

const char panic_doc[] =
    "Raised when the native core meets a condition it does not handle (an index past "
    "the end of an array, a remainder by zero, a size that overflows).\n\n"
    "Like SystemExit it derives from BaseException rather than Exception, so it is not "
    "caught by `except Exception:` and usually propagates all the way up the stack, "
    "ending the interpreter. Catch it explicitly, or with `except BaseException:`, to "
    "recover; the module stays usable.";

// Created at the first internal failure and kept for the life of the process.
PyObject* panic_type = nullptr;

PyObject* panic_exception_type() {
    if (panic_type == nullptr) {
        panic_type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", panic_doc,
                                               PyExc_BaseException, nullptr);
    }
    return panic_type;
}

void report(std::string_view message, const SourceLocation& where) {
    std::fprintf(stderr,
                 "\nthread %lu: lumetra._core internal failure at %s:%u:%u:\n%.*s\n"
                 "note: run the program under gdb with `catch throw` to obtain a backtrace\n",
                 PyThread_get_thread_ident(), where.file_name(), where.line(), where.column(),
                 static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
}

}  // namespace

void raise_panic(std::string_view text, const SourceLocation& where) noexcept {
    report(text, where);
    PyObject* type = panic_exception_type();
    if (type == nullptr) return;  // GCOVR_EXCL_BR_LINE: out of memory (its error stands)
    Ref message(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (!message) return;  // GCOVR_EXCL_BR_LINE: out of memory
    PyErr_SetObject(type, message.get());
}

void raise_panic(const Failure& failure) noexcept {
    raise_panic(failure.message(), failure.where());
}

void raise_current_exception() noexcept {
    try {
        throw;
    } catch (const Failure& failure) {  // GCOVR_EXCL_BR_LINE: the later handlers' type tests
        raise_panic(failure);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        // GCOVR_EXCL_START: kernels throw Failure and std::bad_alloc alone; the rest is a net
    } catch (const std::length_error&) {
        raise_panic("capacity overflow", SourceLocation::current());
    } catch (const std::exception& other) {
        raise_panic(other.what(), SourceLocation::current());
    } catch (...) {
        raise_panic("unknown internal failure", SourceLocation::current());
    }
    // GCOVR_EXCL_STOP
}

void prefix_argument_error(const char* name) {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised == nullptr ||  // GCOVR_EXCL_BR_LINE: called with an error set
        !Py_IS_TYPE(raised, reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
        PyErr_SetRaisedException(raised);
        return;
    }
    Ref original(raised);
    Ref message(PyUnicode_FromFormat("argument '%s': %S", name, original.get()));
    if (!message) return;
    Ref replacement(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!replacement) return;  // GCOVR_EXCL_BR_LINE: out of memory
    // GetCause gives a new reference (or NULL) and SetCause steals it.
    PyException_SetCause(replacement.get(), PyException_GetCause(original.get()));
    PyErr_SetRaisedException(replacement.release());
}

Ref type_qualname(PyObject* object) {
    Ref name(PyType_GetQualName(Py_TYPE(object)));
    if (!name) {  // GCOVR_EXCL_START: out of memory
        PyErr_Clear();
        name = Ref(PyUnicode_FromString("<failed to extract type name>"));
    }  // GCOVR_EXCL_STOP
    return name;
}

}  // namespace lumetra::binding
