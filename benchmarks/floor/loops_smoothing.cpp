// Plain contiguous loops of the smoothing family.
//
// The ETS floors run one fixed model each, written out as a plain loop: the
// additive damped model with additive seasonality (error, trend, season codes
// 0, 1, 1) and the multiplicative damped model with multiplicative
// seasonality (1, 1, 2); any other codes are refused.
#include <algorithm>
#include <cmath>
#include <vector>

#include "floor.hpp"

namespace floor_loops {

namespace {

bool integer(PyObject* object, long& out) {
    out = PyLong_AsLong(object);
    return !(out == -1 && PyErr_Occurred());
}

bool refuse(const char* message) {
    PyErr_SetString(PyExc_TypeError, message);
    return false;
}

PyObject* refused(const char* message) {
    refuse(message);
    return nullptr;
}

constexpr double eps = 1e-10;

// One ETS series: inputs, the model's weights and codes, and its states.
struct Ets {
    const double* y;
    std::size_t n;
    double level, trend;
    double* seasonal;  // a private copy, updated in place
    std::size_t m;
    double alpha, beta, gamma, phi;
    std::size_t period;
    bool multiplicative;  // codes (1, 1, 2), else (0, 1, 1)
};

bool ets_model(long error, long trend, long season, bool& multiplicative) {
    if (error == 0 && trend == 1 && season == 1) {
        multiplicative = false;
        return true;
    }
    if (error == 1 && trend == 1 && season == 2) {
        multiplicative = true;
        return true;
    }
    return refuse("floor: only the models (0, 1, 1) and (1, 1, 2)");
}

bool ets_checks(const Ets& s) {
    if (s.n > 0 && s.period == 0) return refuse("floor: zero period");
    if (s.n > s.m && s.period > s.m) return refuse("floor: short seasonal vector");
    return true;
}

// The additive model (0, 1, 1). fitted/errors may be null; q accumulates e^2.
void ets_additive(Ets& s, double* fitted, double* errors, double& q) {
    double l = s.level, b = s.trend;
    std::size_t j = 0;
    for (std::size_t t = 0; t < s.n; ++t) {
        const double st = s.seasonal[j];
        const double f = (l + s.phi * b) + st;
        const double e = s.y[t] - f;
        if (fitted != nullptr) {
            fitted[t] = f;
            errors[t] = e;
        } else {
            q = q + e * e;
        }
        const double base = l + s.phi * b;
        double u = base + s.alpha * e;
        if (u < -1e15) u = -1e15;
        if (u > 1e15) u = 1e15;
        b = s.phi * b + s.beta * (u - l);
        s.seasonal[j] = st + s.gamma * e;
        l = u;
        if (++j == s.period) j = 0;
    }
    s.level = l;
    s.trend = b;
}

// The multiplicative model (1, 1, 2). q accumulates relative errors squared,
// logs the logarithms of the forecast magnitudes.
void ets_multiplicative(Ets& s, double* fitted, double* errors, double& q, double& logs) {
    double l = s.level, b = s.trend;
    std::size_t j = 0;
    for (std::size_t t = 0; t < s.n; ++t) {
        double st = s.seasonal[j];
        if (st < 1e-6) st = 1e-6;
        const double f = (l + s.phi * b) * st;
        const double e = s.y[t] - f;
        if (fitted != nullptr) {
            fitted[t] = f;
            errors[t] = e;
        } else {
            const double a = std::fabs(f);
            const double r = e / (a + eps);
            q = q + r * r;
            logs = logs + std::log(std::fmax(a, eps));
        }
        const double base = l + s.phi * b;
        double u = base * (s.alpha * (e / (f + eps)) + 1.0);
        if (u < -1e15) u = -1e15;
        if (u > 1e15) u = 1e15;
        b = s.phi * b + s.beta * (u - l);
        double c = st * ((s.gamma * e) / (f + eps) + 1.0);
        if (c < 1e-6) c = 1e-6;
        s.seasonal[j] = c;
        l = u;
        if (++j == s.period) j = 0;
    }
    s.level = l;
    s.trend = b;
}

// Reads the 11 arguments after y: level0 trend0 seasonal0 alpha beta gamma
// phi period error_type trend_type seasonal_type. The seasonal vector is
// copied into `seasonal` from a contiguous array or a list of floats.
bool ets_arguments(PyObject* const* args, Ets& s, std::vector<double>& seasonal) {
    long codes[3];
    if (!number(args[0], s.level) || !number(args[1], s.trend)) return false;
    if (PyList_Check(args[2])) {
        const Py_ssize_t m = PyList_GET_SIZE(args[2]);
        seasonal.resize(static_cast<std::size_t>(m));
        for (Py_ssize_t i = 0; i < m; ++i)
            if (!number(PyList_GET_ITEM(args[2], i), seasonal[static_cast<std::size_t>(i)]))
                return false;
    } else {
        Doubles s0;
        if (!doubles(args[2], s0)) return false;
        seasonal.assign(s0.data, s0.data + s0.size);
    }
    if (!number(args[3], s.alpha) || !number(args[4], s.beta) || !number(args[5], s.gamma) ||
        !number(args[6], s.phi) || !count(args[7], s.period) || !integer(args[8], codes[0]) ||
        !integer(args[9], codes[1]) || !integer(args[10], codes[2]))
        return false;
    s.seasonal = seasonal.data();
    s.m = seasonal.size();
    return ets_model(codes[0], codes[1], codes[2], s.multiplicative) && ets_checks(s);
}

// (fitted, errors, level, trend, seasonal) of one series, as ets_filter.
PyObject* ets_fit(PyObject* y_object, PyObject* const* params) {
    Doubles y;
    Ets s{};
    std::vector<double> seasonal;
    if (!doubles(y_object, y)) return nullptr;
    s.y = y.data;
    s.n = y.size;
    if (!ets_arguments(params, s, seasonal)) return nullptr;
    double *fitted, *errors, *final_seasonal, q = 0.0, logs = 0.0;
    PyObject* fitted_array = new_array(s.n, fitted);
    PyObject* errors_array = new_array(s.n, errors);
    PyObject* seasonal_array = new_array(s.m, final_seasonal);
    if (fitted_array == nullptr || errors_array == nullptr || seasonal_array == nullptr) {
        Py_XDECREF(fitted_array);
        Py_XDECREF(errors_array);
        Py_XDECREF(seasonal_array);
        return nullptr;
    }
    if (s.multiplicative) {
        ets_multiplicative(s, fitted, errors, q, logs);
    } else {
        ets_additive(s, fitted, errors, q);
    }
    for (std::size_t i = 0; i < s.m; ++i) final_seasonal[i] = seasonal[i];
    return Py_BuildValue("(NNddN)", fitted_array, errors_array, s.level, s.trend, seasonal_array);
}

PyObject* ets_filter(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 12) return refused("floor: 12 arguments");
    return ets_fit(args[0], args + 1);
}

PyObject* ets_loglik(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    Ets s{};
    std::vector<double> seasonal;
    if (nargs != 12) return refused("floor: 12 arguments");
    if (!doubles(args[0], y)) return nullptr;
    s.y = y.data;
    s.n = y.size;
    if (!ets_arguments(args + 1, s, seasonal)) return nullptr;
    double q = 0.0, logs = 0.0;
    if (s.multiplicative) {
        ets_multiplicative(s, nullptr, nullptr, q, logs);
    } else {
        ets_additive(s, nullptr, nullptr, q);
    }
    const double n = static_cast<double>(s.n);
    const double v = n * (std::log((q * 6.283185307179586) / n) + 1.0);
    return PyFloat_FromDouble(s.multiplicative ? (logs + logs) + v : v);
}

// The ETS floor run series by series over a list of arrays and a list of
// 11-tuples.
PyObject* batch_ets_filter(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || !PyList_Check(args[0]) || !PyList_Check(args[1]))
        return refused("floor: two lists");
    const Py_ssize_t count = std::min(PyList_GET_SIZE(args[0]), PyList_GET_SIZE(args[1]));
    PyObject* fits = PyList_New(count);
    if (fits == nullptr) return nullptr;
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* params = PyList_GET_ITEM(args[1], k);
        PyObject* fit = nullptr;
        if (PyTuple_Check(params) && PyTuple_GET_SIZE(params) == 11) {
            fit = ets_fit(PyList_GET_ITEM(args[0], k), &PyTuple_GET_ITEM(params, 0));
        } else {
            refuse("floor: 11-tuples");
        }
        if (fit == nullptr) {
            Py_DECREF(fits);
            return nullptr;
        }
        PyList_SET_ITEM(fits, k, fit);
    }
    return fits;
}

PyObject* croston_tsb_filter(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double alpha, beta, z, d;
    if (nargs != 5 || !doubles(args[0], y) || !number(args[1], alpha) || !number(args[2], beta) ||
        !number(args[3], z) || !number(args[4], d))
        return nullptr;
    const double keep_z = 1.0 - alpha, keep_d = 1.0 - beta;
    double sse = 0.0;
    for (std::size_t t = 0; t < y.size; ++t) {
        const double v = y.data[t];
        const double e = v - z * d;
        sse = sse + e * e;
        if (v > 0.0) {
            d = beta + keep_d * d;
            z = keep_z * z + alpha * v;
        } else {
            d = keep_d * d;
        }
    }
    return Py_BuildValue("(ddd)", z, d, sse);
}

PyObject* tbats_filter(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y, frequencies;
    double alpha, beta, phi;
    std::size_t h;
    if (nargs != 8 || !doubles(args[0], y) || !number(args[1], alpha) || !number(args[2], beta) ||
        !number(args[3], phi) || !doubles(args[6], frequencies) || !count(args[7], h))
        return nullptr;
    const bool use_trend = args[4] == Py_True, use_damping = args[5] == Py_True;
    if (y.size == 0 || h > frequencies.size) return refused("floor: bad sizes");
    std::vector<double> sines(h), cosines(h), a(h), b(h);
    for (std::size_t i = 0; i < h; ++i) {
        sines[i] = std::sin(frequencies.data[i]);
        cosines[i] = std::cos(frequencies.data[i]);
    }
    double level = y.data[0], slope = 0.0, sse = 0.0;
    for (std::size_t t = 1; t < y.size; ++t) {
        double f = use_trend ? level + slope : level;
        for (std::size_t i = 0; i < h; ++i) f = f + a[i];
        const double e = y.data[t] - f;
        if (use_trend) slope = use_damping ? phi * slope + beta * e : slope + beta * e;
        const double g = (alpha * 0.5) * e;
        for (std::size_t i = 0; i < h; ++i) {
            const double ai = a[i], bi = b[i];
            a[i] = g + (cosines[i] * ai + sines[i] * bi);
            b[i] = cosines[i] * bi - sines[i] * ai;
        }
        sse = sse + e * e;
        level = level + alpha * e;
    }
    return PyFloat_FromDouble(sse);
}

PyObject* ces_nonseasonal_sse(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double ar, ai;
    if (nargs != 3 || !doubles(args[0], y) || !number(args[1], ar) || !number(args[2], ai))
        return nullptr;
    if (y.size <= 1) return PyFloat_FromDouble(0.0);
    const double c = 1.0 - ar;
    double l = y.data[0], p = 0.0, sse = 0.0;
    for (std::size_t t = 1; t < y.size; ++t) {
        const double e = y.data[t] - l;
        sse = sse + e * e;
        const double next = ai * p + (c * l + ar * y.data[t]);
        p = c * p + ai * e;
        l = next;
    }
    return PyFloat_FromDouble(sse);
}

PyObject* ces_seasonal_sse(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y, init;
    double ar, ai, gamma;
    std::size_t m;
    if (nargs != 6 || !doubles(args[0], y) || !number(args[1], ar) || !number(args[2], ai) ||
        !number(args[3], gamma) || !doubles(args[4], init) || !count(args[5], m))
        return nullptr;
    if (m == 0 || y.size <= 1) return PyFloat_FromDouble(0.0);
    if (init.size < m && init.size < y.size) return refused("floor: short seasonal states");
    std::vector<double> s(init.data, init.data + init.size);
    const double c = 1.0 - ar;
    double l = y.data[0] - s[0], p = 0.0, sse = 0.0;
    std::size_t j = 0;
    for (std::size_t t = 1; t < y.size; ++t) {
        if (++j == m) j = 0;
        const double st = s[j];
        const double e = y.data[t] - (l + st);
        sse = sse + e * e;
        const double next_p = c * p + ai * ((y.data[t] - st) - l);
        l = ai * p + (c * l + ar * (y.data[t] - st));
        p = next_p;
        s[j] = st + gamma * e;
    }
    return PyFloat_FromDouble(sse);
}

PyObject* ses_sse(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double alpha;
    if (nargs != 2 || !doubles(args[0], y) || !number(args[1], alpha) || y.size == 0)
        return nullptr;
    const double keep = 1.0 - alpha;
    double level = y.data[0], sse = 0.0;
    for (std::size_t t = 1; t < y.size; ++t) {
        const double e = y.data[t] - level;
        sse = sse + e * e;
        level = keep * level + alpha * y.data[t];
    }
    return PyFloat_FromDouble(sse);
}

PyObject* ses_filter(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double alpha;
    if (nargs != 2 || !doubles(args[0], y) || !number(args[1], alpha) || y.size == 0)
        return nullptr;
    double* out;
    PyObject* result = new_array(y.size, out);
    if (result == nullptr) return nullptr;
    const double keep = 1.0 - alpha;
    out[0] = y.data[0];
    for (std::size_t t = 1; t < y.size; ++t) out[t] = alpha * y.data[t] + keep * out[t - 1];
    return result;
}

}  // namespace

PyMethodDef smoothing[] = {
    FLOOR_LOOP(ets_filter),         FLOOR_LOOP(ets_loglik),       FLOOR_LOOP(ses_sse),
    FLOOR_LOOP(ses_filter),         FLOOR_LOOP(batch_ets_filter), FLOOR_LOOP(ces_nonseasonal_sse),
    FLOOR_LOOP(ces_seasonal_sse),   FLOOR_LOOP(tbats_filter),     FLOOR_LOOP(croston_tsb_filter),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
