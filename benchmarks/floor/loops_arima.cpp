// Plain contiguous loops of the arima family: the residual recursion over a
// residual array with zero pre-sample values, the lags read back from memory.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "floor.hpp"

namespace floor_loops {

namespace {

bool fail_arguments() {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "bad arguments");
    return false;
}

// The sum of squared residuals for t = start .. n - 1 (start < n).
double residual_ss(const double* w, std::size_t n, Doubles ar, Doubles ma, Doubles sar, Doubles sma,
                   std::size_t lag, std::size_t start) {
    std::vector<double> e(n, 0.0);
    double ss = 0.0;
    for (std::size_t t = start; t < n; ++t) {
        double s = 0.0;
        for (std::size_t k = 0; k < ar.size; ++k) s = s + ar.data[k] * w[t - 1 - k];
        for (std::size_t j = 0; j < sar.size; ++j) s = s + sar.data[j] * w[t - (j + 1) * lag];
        for (std::size_t k = 0; k < ma.size; ++k) s = s + ma.data[k] * e[t - 1 - k];
        for (std::size_t j = 0; j < sma.size; ++j) s = s + sma.data[j] * e[t - (j + 1) * lag];
        e[t] = w[t] - s;
        ss = ss + e[t] * e[t];
    }
    return ss;
}

PyObject* arima_css(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y, ar, ma;
    std::size_t d;
    if (nargs != 4 || !doubles(args[0], y) || !doubles(args[1], ar) || !doubles(args[2], ma) ||
        !count(args[3], d))
        return fail_arguments(), nullptr;
    std::vector<double> w(y.data, y.data + y.size);
    for (std::size_t pass = 0; pass < d && !w.empty(); ++pass) {
        for (std::size_t i = 0; i + 1 < w.size(); ++i) w[i] = w[i + 1] - w[i];
        w.pop_back();
    }
    const std::size_t n = w.size(), m = std::max(ar.size, ma.size);
    if (n <= m) return PyFloat_FromDouble(std::numeric_limits<double>::max());
    const double ss = residual_ss(w.data(), n, ar, ma, {}, {}, 0, m);
    const double r = static_cast<double>(n - m);
    return PyFloat_FromDouble(r * std::log(ss / r));
}

PyObject* css_objective(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y, ar, ma;
    if (nargs != 3 || !doubles(args[0], y) || !doubles(args[1], ar) || !doubles(args[2], ma))
        return fail_arguments(), nullptr;
    const std::size_t m = std::max({ar.size, ma.size, std::size_t{1}});
    if (y.size <= m) return PyFloat_FromDouble(0.0);
    return PyFloat_FromDouble(residual_ss(y.data, y.size, ar, ma, {}, {}, 0, m));
}

PyObject* seasonal_css_objective(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y, ar, ma, sar, sma;
    std::size_t lag;
    if (nargs != 6 || !doubles(args[0], y) || !doubles(args[1], ar) || !doubles(args[2], ma) ||
        !doubles(args[3], sar) || !doubles(args[4], sma) || !count(args[5], lag))
        return fail_arguments(), nullptr;
    // Season lengths are small here: the products do not overflow.
    std::size_t start = std::max({ar.size, ma.size, sar.size * lag, sma.size * lag});
    if (start == 0) start = 1;
    if (start >= y.size) return PyFloat_FromDouble(0.0);
    return PyFloat_FromDouble(residual_ss(y.data, y.size, ar, ma, sar, sma, lag, start));
}

}  // namespace

PyMethodDef arima[] = {
    FLOOR_LOOP(arima_css),
    FLOOR_LOOP(css_objective),
    FLOOR_LOOP(seasonal_css_objective),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
