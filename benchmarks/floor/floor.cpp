// Floors for the benchmarks, built only for them.
//
// noop.<function>: a hand-written fast-call function that takes the same
// arguments as lumetra._core.<function> (positionally), checks and reads them
// as cheaply as CPython and NumPy allow, does no work, and returns a result of
// the same shape (new arrays of the same lengths, uninitialised). The time of
// a short call of ours divided by this one is the overhead of our call frame.
//
// loop.<function> (loops.cpp): the same arithmetic as ours over contiguous
// float64 arrays, written as the plainest loop, for the long-input floor.
#define FLOOR_DEFINE_NUMPY_API
#include "floor.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

template <std::size_t N>
struct Lit {
    char text[N];
    constexpr Lit(const char (&s)[N]) { std::copy_n(s, N, text); }
    static constexpr std::size_t size = N - 1;
};

volatile double sink_double;
volatile std::uintptr_t sink_pointer;

bool fail_type() {
    PyErr_SetString(PyExc_TypeError, "bad argument");
    return false;
}

// Argument kinds: A float64 array, I int64 array, F float, U unsigned, S int32, B bool.
template <char Kind>
bool read(PyObject* o, Py_ssize_t& length) {
    if constexpr (Kind == 'A' || Kind == 'I') {
        if (!PyArray_Check(o)) return fail_type();
        auto* a = reinterpret_cast<PyArrayObject*>(o);
        if (PyArray_NDIM(a) != 1 || PyArray_TYPE(a) != (Kind == 'A' ? NPY_DOUBLE : NPY_INT64))
            return fail_type();
        sink_pointer = reinterpret_cast<std::uintptr_t>(PyArray_DATA(a)) +
                       static_cast<std::uintptr_t>(PyArray_STRIDE(a, 0));
        length = PyArray_DIM(a, 0);
        return true;
    } else if constexpr (Kind == 'F') {
        const double v = PyFloat_CheckExact(o) ? PyFloat_AS_DOUBLE(o) : PyFloat_AsDouble(o);
        if (v == -1.0 && PyErr_Occurred()) return false;
        sink_double = v;
        return true;
    } else if constexpr (Kind == 'U') {
        const unsigned long long v = PyLong_AsUnsignedLongLong(o);
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
        length = static_cast<Py_ssize_t>(std::min<unsigned long long>(v, 1u << 20));
        return true;
    } else if constexpr (Kind == 'S') {
        const long v = PyLong_AsLong(o);
        if (v == -1 && PyErr_Occurred()) return false;
        sink_double = static_cast<double>(v);
        return true;
    } else {
        static_assert(Kind == 'B');
        if (o != Py_True && o != Py_False) return fail_type();
        return true;
    }
}

// Result codes: f float, b bool, a digit k a new float64 array whose length is
// that of argument k (or its value, for an unsigned argument).
PyObject* make(char code, const Py_ssize_t* lengths) {
    if (code == 'f') return PyFloat_FromDouble(0.0);
    if (code == 'b') return Py_NewRef(Py_False);
    npy_intp n = lengths[code - '0'];
    return PyArray_SimpleNew(1, &n, NPY_DOUBLE);
}

template <Lit Args, Lit Result>
PyObject* noop(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    constexpr std::size_t count = Args.size;
    if (nargs != static_cast<Py_ssize_t>(count)) {
        PyErr_SetString(PyExc_TypeError, "wrong number of arguments");
        return nullptr;
    }
    Py_ssize_t lengths[count > 0 ? count : 1] = {};
    const bool ok = [&]<std::size_t... I>(std::index_sequence<I...>) {
        return (read<Args.text[I]>(args[I], lengths[I]) && ...);
    }(std::make_index_sequence<count>{});
    if (!ok) return nullptr;
    if constexpr (Result.size == 1) {
        return make(Result.text[0], lengths);
    } else {
        PyObject* tuple = PyTuple_New(Result.size);
        if (tuple == nullptr) return nullptr;
        for (std::size_t i = 0; i < Result.size; ++i) {
            PyObject* item = make(Result.text[i], lengths);
            if (item == nullptr) {
                Py_DECREF(tuple);
                return nullptr;
            }
            PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), item);
        }
        return tuple;
    }
}

PyObject* refused() {
    fail_type();
    return nullptr;
}

// The result objects of one series of batch_ets_filter: the tuple of an
// ets_filter call (fitted and errors as long as y, two floats, the seasonal
// vector), from y and an 11-tuple whose seasonal item is a float64 array or
// a list of floats, each item read as noop() reads an argument of its kind.
PyObject* batch_item(PyObject* y, PyObject* params) {
    if (!PyTuple_Check(params) || PyTuple_GET_SIZE(params) != 11) return refused();
    PyObject* const* p = &PyTuple_GET_ITEM(params, 0);
    Py_ssize_t lengths[3] = {};  // y, (unused), seasonal
    Py_ssize_t& none = lengths[1];
    bool ok = read<'A'>(y, lengths[0]) && read<'F'>(p[0], none) && read<'F'>(p[1], none);
    if (ok && PyList_Check(p[2])) {
        lengths[2] = PyList_GET_SIZE(p[2]);
        for (Py_ssize_t i = 0; ok && i < lengths[2]; ++i)
            ok = read<'F'>(PyList_GET_ITEM(p[2], i), none);
    } else if (ok) {
        ok = read<'A'>(p[2], lengths[2]);
    }
    ok = ok && read<'F'>(p[3], none) && read<'F'>(p[4], none) && read<'F'>(p[5], none) &&
         read<'F'>(p[6], none) && read<'U'>(p[7], none) && read<'S'>(p[8], none) &&
         read<'S'>(p[9], none) && read<'S'>(p[10], none);
    if (!ok) return nullptr;
    none = 0;
    PyObject* tuple = PyTuple_New(5);
    if (tuple == nullptr) return nullptr;
    const char codes[] = "00ff2";
    for (Py_ssize_t i = 0; i < 5; ++i) {
        PyObject* item = make(codes[i], lengths);
        if (item == nullptr) {
            Py_DECREF(tuple);
            return nullptr;
        }
        PyTuple_SET_ITEM(tuple, i, item);
    }
    return tuple;
}

// batch_ets_filter over two lists: a list of batch_item tuples.
PyObject* noop_batch(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || !PyList_Check(args[0]) || !PyList_Check(args[1])) return refused();
    const Py_ssize_t count = std::min(PyList_GET_SIZE(args[0]), PyList_GET_SIZE(args[1]));
    PyObject* list = PyList_New(count);
    if (list == nullptr) return nullptr;
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* item = batch_item(PyList_GET_ITEM(args[0], k), PyList_GET_ITEM(args[1], k));
        if (item == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, k, item);
    }
    return list;
}

template <Lit Name, Lit Args, Lit Result>
constexpr PyMethodDef noop_entry() {
    return {Name.text,
            reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&noop<Args, Result>)),
            METH_FASTCALL, nullptr};
}

// One entry per function of lumetra._core.
PyMethodDef noop_methods[] = {
    noop_entry<"ets_filter", "AFFAFFFFUSSS", "00ff3">(),
    noop_entry<"ets_loglik", "AFFAFFFFUSSS", "f">(),
    noop_entry<"theta_decompose", "AF", "0">(),
    noop_entry<"arima_css", "AAAU", "f">(),
    noop_entry<"css_objective", "AAA", "f">(),
    noop_entry<"seasonal_css_objective", "AAAAAU", "f">(),
    noop_entry<"ses_sse", "AF", "f">(),
    noop_entry<"ses_filter", "AF", "0">(),
    {"batch_ets_filter", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&noop_batch)),
     METH_FASTCALL, nullptr},
    noop_entry<"dot_objective", "AFFFFF", "f">(),
    noop_entry<"dot_residuals", "AFFFFF", "0f">(),
    noop_entry<"ces_nonseasonal_sse", "AFF", "f">(),
    noop_entry<"ces_seasonal_sse", "AFFFAU", "f">(),
    noop_entry<"garch_filter", "AFFFFFBF", "f">(),
    noop_entry<"egarch_filter", "AFFFFFF", "f">(),
    noop_entry<"gjr_garch_filter", "AFFFFFF", "f">(),
    noop_entry<"tbats_filter", "AFFFBBAU", "f">(),
    noop_entry<"dtsf_distances", "AAUUBFU", "3">(),
    noop_entry<"dtsf_fit_residuals", "AUUB", "0">(),
    noop_entry<"mstl_extract_seasonal", "AU", "0">(),
    noop_entry<"mstl_moving_average", "AU", "0">(),
    noop_entry<"croston_tsb_filter", "AFFFF", "fff">(),
    noop_entry<"esn_reservoir_update", "AAAUFU", "03">(),
    noop_entry<"four_theta_fitted", "UAAAAAIA", "0">(),
    noop_entry<"four_theta_deseasonalize", "AU", "1b0">(),
    noop_entry<"dot_hybrid_objective", "AAFB", "f">(),
    noop_entry<"sample_entropy", "AUF", "f">(),
    noop_entry<"approximate_entropy", "AUF", "f">(),
    noop_entry<"hurst_exponent", "AU", "f">(),
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef noop_module = {
    PyModuleDef_HEAD_INIT, "noop", nullptr, -1, noop_methods, nullptr, nullptr, nullptr, nullptr};
// All families' loops in one table, assembled at import.
PyMethodDef* all_loops() {
    static PyMethodDef* tables[] = {floor_loops::smoothing,     floor_loops::arima,
                                    floor_loops::volatility,    floor_loops::theta,
                                    floor_loops::decomposition, floor_loops::pattern,
                                    floor_loops::diagnostics};
    static std::vector<PyMethodDef> joined;
    for (PyMethodDef* table : tables)
        for (PyMethodDef* def = table; def->ml_name != nullptr; ++def) joined.push_back(*def);
    joined.push_back({nullptr, nullptr, 0, nullptr});
    return joined.data();
}

PyModuleDef loop_module = {
    PyModuleDef_HEAD_INIT, "loop", nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr};
PyModuleDef top_module = {PyModuleDef_HEAD_INIT,
                          "lumetra_bench_floor",
                          nullptr,
                          -1,
                          nullptr,
                          nullptr,
                          nullptr,
                          nullptr,
                          nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_lumetra_bench_floor() {
    import_array();
    PyObject* top = PyModule_Create(&top_module);
    if (top == nullptr) return nullptr;
    PyObject* noop_mod = PyModule_Create(&noop_module);
    if (noop_mod == nullptr || PyModule_Add(top, "noop", noop_mod) < 0) {
        Py_DECREF(top);
        return nullptr;
    }
    loop_module.m_methods = all_loops();
    PyObject* loop_mod = PyModule_Create(&loop_module);
    if (loop_mod == nullptr || PyModule_Add(top, "loop", loop_mod) < 0) {
        Py_DECREF(top);
        return nullptr;
    }
    return top;
}
