// The extension module lumetra._fit: the native Nelder-Mead minimiser over the
// registered objectives, and the evaluation of one objective at one point.
//
// Arrays arrive through the buffer protocol (one-dimensional, contiguous
// float64) and stay exported, so not resizable, until the call returns; the
// interpreter lock is held throughout, and no Python code runs once the
// arguments are converted. Every C++ exception is caught at the entry:
// a kernel's failure becomes RuntimeError, an allocation failure MemoryError.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/failure.hpp"
#include "common/view.hpp"
#include "fit/ces_states.hpp"
#include "fit/nelder_mead.hpp"
#include "fit/objective.hpp"

namespace lumetra::fit {

namespace {

// An owned reference, released at the end of its scope.
class Ref {
public:
    explicit Ref(PyObject* owned = nullptr) noexcept : ptr_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(ptr_); }
    PyObject* get() const noexcept { return ptr_; }
    PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

private:
    PyObject* ptr_;
};

// The exported buffers of a call's arrays, released together.
class Buffers {
public:
    Buffers() = default;
    Buffers(const Buffers&) = delete;
    Buffers& operator=(const Buffers&) = delete;
    ~Buffers() {
        for (Py_buffer& buffer : buffers_) PyBuffer_Release(&buffer);
    }

    // Exports the buffer of `array` (the index-th array); false with an
    // exception set when it is not a one-dimensional contiguous float64 array.
    bool add(PyObject* array, Py_ssize_t index) {
        const std::string name = "arrays[" + std::to_string(index) + "]";
        return add(array, name.c_str(), false);
    }

    // The same for the array argument `name`, writable if asked for.
    bool add(PyObject* array, const char* name, bool writable) {
        Py_buffer buffer;
        const int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
        if (PyObject_GetBuffer(array, &buffer, flags) < 0) {
            PyErr_Clear();
            return refuse(name, writable);
        }
        // (Asked for with PyBUF_FORMAT, an exporter names its format.)
        const char* format = buffer.format == nullptr ? "B" : buffer.format;  // GCOVR_EXCL_BR_LINE
        const bool is_double = std::strcmp(format, "d") == 0 || std::strcmp(format, "=d") == 0 ||
                               std::strcmp(format, "@d") == 0 ||
                               (std::strcmp(format, "<d") == 0 && little_endian());
        if (buffer.ndim != 1 || buffer.itemsize != sizeof(double) || !is_double) {
            PyBuffer_Release(&buffer);
            return refuse(name, writable);
        }
        buffers_.push_back(buffer);
        const std::size_t size = static_cast<std::size_t>(buffer.shape[0]);
        views_.emplace_back(static_cast<const double*>(buffer.buf), size, 1);
        return true;
    }

    // The elements of the index-th buffer, which was exported writable.
    std::span<double> writable(std::size_t index) const noexcept {
        return {static_cast<double*>(buffers_[index].buf), views_[index].size()};
    }

    const std::vector<View<double>>& views() const noexcept { return views_; }

private:
    static bool little_endian() noexcept {
        const std::uint16_t one = 1;
        unsigned char first;
        std::memcpy(&first, &one, 1);
        return first == 1;
    }
    static bool refuse(const char* name, bool writable) {
        PyErr_Format(PyExc_TypeError, "%s must be a %sone-dimensional contiguous float64 array",
                     name, writable ? "writable " : "");
        return false;
    }

    std::vector<Py_buffer> buffers_;
    std::vector<View<double>> views_;
};

// The floats of a sequence; false with an exception set otherwise.
bool floats(PyObject* sequence, const char* name, std::vector<double>& out) {
    Ref fast(PySequence_Fast(sequence, ""));
    if (!fast) {
        PyErr_Format(PyExc_TypeError, "%s must be a sequence of floats", name);
        return false;
    }
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(fast.get());
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        // The sequence holds its items while `fast` lives; converting one can
        // run Python code, which cannot take them away from the copy.
        const double value = PyFloat_AsDouble(PySequence_Fast_GET_ITEM(fast.get(), i));
        if (value == -1.0 && PyErr_Occurred()) return false;
        out.push_back(value);
    }
    return true;
}

// A problem for the named objective: the objective is known, the counts of
// arrays and constants are its own and its check accepts them with `dims`
// parameters. Floats are converted before any buffer is exported.
struct Call {
    const Objective* objective = nullptr;
    std::vector<double> constants;
    Buffers buffers;

    bool prepare(const char* name, PyObject* arrays, PyObject* constant_values) {
        objective = find_objective(name);
        if (objective == nullptr) {
            PyErr_Format(PyExc_ValueError, "unknown objective '%s'", name);
            return false;
        }
        if (!floats(constant_values, "constants", constants)) return false;
        Ref fast(PySequence_Fast(arrays, ""));
        if (!fast) {
            PyErr_SetString(PyExc_TypeError, "arrays must be a sequence of arrays");
            return false;
        }
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(fast.get());
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (!buffers.add(PySequence_Fast_GET_ITEM(fast.get(), i), i)) return false;
        }
        if (static_cast<std::size_t>(n) != objective->arrays ||
            constants.size() != objective->constants) {
            PyErr_Format(PyExc_ValueError,
                         "objective '%s' takes %zu arrays and %zu constants, got %zd and %zu", name,
                         objective->arrays, objective->constants, n, constants.size());
            return false;
        }
        return true;
    }

    Problem problem() const { return Problem{buffers.views(), constants, {}}; }

    bool check(const Problem& problem, std::size_t dims) const {
        if (dims == 0) {
            PyErr_SetString(PyExc_ValueError, "the parameter vector is empty");
            return false;
        }
        if (const char* message = objective->check(problem, dims)) {
            PyErr_SetString(PyExc_ValueError, message);
            return false;
        }
        return true;
    }
};

// Raises the Python exception for the C++ exception being handled.
void raise_current() noexcept {
    try {
        throw;
        // GCOVR_EXCL_START: the entries check every argument before a kernel runs; a net
    } catch (const Failure& failure) {
        PyErr_SetString(PyExc_RuntimeError, failure.message().c_str());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "lumetra._fit: internal failure");
    }
    // GCOVR_EXCL_STOP
}

PyObject* tuple_of(const std::vector<double>& values) {
    Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(values.size())));
    if (!tuple) return nullptr;  // GCOVR_EXCL_BR_LINE: out of memory
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = PyFloat_FromDouble(values[i]);
        if (item == nullptr) return nullptr;  // GCOVR_EXCL_BR_LINE: out of memory
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
    }
    return tuple.release();
}

PyObject* evaluate(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    static const char* keywords[] = {"objective", "x", "arrays", "constants", nullptr};
    const char* name;
    PyObject* x_object;
    PyObject* arrays;
    PyObject* constants;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "sOOO:evaluate", const_cast<char**>(keywords),
                                     &name, &x_object, &arrays, &constants)) {
        return nullptr;
    }
    try {
        std::vector<double> x;
        if (!floats(x_object, "x", x)) return nullptr;
        Call call;
        if (!call.prepare(name, arrays, constants)) return nullptr;
        Problem problem = call.problem();
        if (!call.check(problem, x.size())) return nullptr;
        // Every NaN is handed out as the one quiet NaN, as lumetra._core hands out its own.
        const double value = call.objective->value(problem, x);
        return PyFloat_FromDouble(std::isnan(value) ? std::numeric_limits<double>::quiet_NaN()
                                                    : value);
    } catch (...) {
        raise_current();
        return nullptr;
    }
}

PyObject* nelder_mead_entry(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    static const char* keywords[] = {"objective", "start",     "step",
                                     "arrays",    "constants", "max_evaluations",
                                     "tolerance", "restarts",  nullptr};
    const char* name;
    PyObject* start_object;
    PyObject* step_object;
    PyObject* arrays;
    PyObject* constants;
    long max_evaluations = 4000;
    double tolerance = 1e-10;
    long restarts = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "sOOOO|$ldl:nelder_mead",
                                     const_cast<char**>(keywords), &name, &start_object,
                                     &step_object, &arrays, &constants, &max_evaluations,
                                     &tolerance, &restarts)) {
        return nullptr;
    }
    if (restarts < 0) {
        PyErr_SetString(PyExc_ValueError, "restarts must not be negative");
        return nullptr;
    }
    try {
        std::vector<double> start;
        std::vector<double> steps;
        if (!floats(start_object, "start", start) || !floats(step_object, "step", steps)) {
            return nullptr;
        }
        if (steps.size() != start.size()) {
            PyErr_Format(PyExc_ValueError, "step has %zu values for %zu parameters", steps.size(),
                         start.size());
            return nullptr;
        }
        Call call;
        if (!call.prepare(name, arrays, constants)) return nullptr;
        Problem problem = call.problem();
        if (!call.check(problem, start.size())) return nullptr;
        const ObjectiveValue value = call.objective->value;
        const Minimum minimum =
            nelder_mead([&problem, value](std::span<const double> x) { return value(problem, x); },
                        start, steps, max_evaluations, tolerance, restarts);
        Ref x(tuple_of(minimum.x));
        if (!x) return nullptr;  // GCOVR_EXCL_BR_LINE: out of memory
        return Py_BuildValue("(Odl)", x.get(), minimum.value, minimum.evaluations);
    } catch (...) {
        raise_current();
        return nullptr;
    }
}

PyObject* ces_filter_entry(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    static const char* keywords[] = {"y",     "forecasts", "season", "a0_real", "a0_imag", "gamma",
                                     "level", "imaginary", "phase",  "predict", nullptr};
    PyObject* y_object;
    PyObject* forecasts_object;
    PyObject* season_object;
    double a0_real, a0_imag, gamma, level, imaginary;
    Py_ssize_t phase;
    int predict;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOdddddnp:ces_filter",
                                     const_cast<char**>(keywords), &y_object, &forecasts_object,
                                     &season_object, &a0_real, &a0_imag, &gamma, &level, &imaginary,
                                     &phase, &predict)) {
        return nullptr;
    }
    try {
        Buffers buffers;
        if (!buffers.add(y_object, "y", false) ||
            !buffers.add(forecasts_object, "forecasts", true) ||
            !buffers.add(season_object, "season", true)) {
            return nullptr;
        }
        const View<double> y = buffers.views()[0];
        const std::span<double> forecasts = buffers.writable(1);
        const std::span<double> season = buffers.writable(2);
        if (forecasts.size() != y.size()) {
            PyErr_Format(PyExc_ValueError, "forecasts has %zu values for the %zu of y",
                         forecasts.size(), y.size());
            return nullptr;
        }
        if (phase < 0 ||
            static_cast<std::size_t>(phase) >= std::max<std::size_t>(season.size(), 1)) {
            PyErr_Format(PyExc_ValueError, "phase %zd is not a phase of the %zu seasonal states",
                         phase, season.size());
            return nullptr;
        }
        CesRun run{level, imaginary, static_cast<std::size_t>(phase), season};
        ces_filter(y, forecasts, predict != 0, a0_real, a0_imag, gamma, run);
        return Py_BuildValue("(ddn)", run.level, run.imaginary, static_cast<Py_ssize_t>(run.phase));
    } catch (...) {
        raise_current();
        return nullptr;
    }
}

PyObject* ces_initial_states_entry(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    static const char* keywords[] = {"y",     "season", "a0_real", "a0_imag",
                                     "gamma", "level",  nullptr};
    PyObject* y_object;
    PyObject* season_object;
    double a0_real, a0_imag, gamma, level;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOdddd:ces_initial_states",
                                     const_cast<char**>(keywords), &y_object, &season_object,
                                     &a0_real, &a0_imag, &gamma, &level)) {
        return nullptr;
    }
    try {
        Buffers buffers;
        if (!buffers.add(y_object, "y", false) || !buffers.add(season_object, "season", false)) {
            return nullptr;
        }
        const View<double> given = buffers.views()[1];
        if (given.empty()) {
            PyErr_SetString(PyExc_ValueError, "season must hold one state per phase, at least one");
            return nullptr;
        }
        std::vector<double> season(given.data(), given.data() + given.size());
        if (!ces_least_squares_states(buffers.views()[0], a0_real, a0_imag, gamma, level, season)) {
            Py_RETURN_NONE;
        }
        Ref states(tuple_of(season));
        if (!states) return nullptr;  // GCOVR_EXCL_BR_LINE: out of memory
        return Py_BuildValue("(dO)", level, states.get());
    } catch (...) {
        raise_current();
        return nullptr;
    }
}

PyObject* objective_names(PyObject*, PyObject*) noexcept {
    const std::span<const Objective> all = objectives();
    Ref names(PyTuple_New(static_cast<Py_ssize_t>(all.size())));
    if (!names) return nullptr;  // GCOVR_EXCL_BR_LINE: out of memory
    for (std::size_t i = 0; i < all.size(); ++i) {
        PyObject* name = PyUnicode_FromStringAndSize(all[i].name.data(),
                                                     static_cast<Py_ssize_t>(all[i].name.size()));
        if (name == nullptr) return nullptr;  // GCOVR_EXCL_BR_LINE: out of memory
        PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i), name);
    }
    return names.release();
}

PyMethodDef methods[] = {
    {"evaluate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(evaluate)),
     METH_VARARGS | METH_KEYWORDS,
     "evaluate(objective, x, arrays, constants)\n--\n\n"
     "The value of the named objective at the point x, for the problem given by the "
     "arrays and constants."},
    {"nelder_mead", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(nelder_mead_entry)),
     METH_VARARGS | METH_KEYWORDS,
     "nelder_mead(objective, start, step, arrays, constants, *, max_evaluations=4000, "
     "tolerance=1e-10, restarts=1)\n--\n\n"
     "Minimises the named objective by the Nelder-Mead method: (x, value, evaluations)."},
    {"ces_filter", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ces_filter_entry)),
     METH_VARARGS | METH_KEYWORDS,
     "ces_filter(y, forecasts, season, a0_real, a0_imag, gamma, level, imaginary, phase, "
     "predict)\n--\n\n"
     "Runs the complex exponential smoothing recursion from (level, imaginary, season, phase) "
     "over y, or with predict over as many steps with every error zero: each step's forecast "
     "into forecasts, the seasonal states after the run into season (empty: no season); "
     "returns (level, imaginary, phase) after the run."},
    {"ces_initial_states",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ces_initial_states_entry)),
     METH_VARARGS | METH_KEYWORDS,
     "ces_initial_states(y, season, a0_real, a0_imag, gamma, level)\n--\n\n"
     "The initial level and seasonal states (phase 0 first) that minimise the seasonal "
     "recursion's sum of squared errors over y for these parameters, the seasonal states "
     "keeping their sum: (level, states), or None when the errors cannot tell the moves apart."},
    {"objectives", objective_names, METH_NOARGS,
     "objectives()\n--\n\nThe names of the registered objectives, in registration order."},
    {nullptr, nullptr, 0, nullptr},
};

int execute(PyObject* module) noexcept {
    Ref names(Py_BuildValue("[sssss]", "evaluate", "nelder_mead", "objectives", "ces_filter",
                            "ces_initial_states"));
    if (!names) return -1;  // GCOVR_EXCL_BR_LINE: out of memory
    return PyModule_AddObjectRef(module, "__all__", names.get());
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute)},
    // The module keeps no state: every interpreter may have its own.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "_fit",
    "The native minimiser of lumetra's modelling layer and the objectives it minimises.",
    0,
    methods,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace lumetra::fit

PyMODINIT_FUNC PyInit__fit() { return PyModuleDef_Init(&lumetra::fit::definition); }
