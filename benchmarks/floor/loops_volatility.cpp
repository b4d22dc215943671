// Plain contiguous loops of the volatility family, with the floors spelled as
// the library's fmax.
#include <cmath>

#include "floor.hpp"

namespace floor_loops {

namespace {

bool fail_arguments() {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "bad arguments");
    return false;
}

// y and six floats.
bool series_and_six(PyObject* const* args, Py_ssize_t nargs, Doubles& y, double (&p)[6]) {
    if (nargs != 7 || !doubles(args[0], y)) return fail_arguments();
    for (int i = 0; i < 6; ++i)
        if (!number(args[i + 1], p[i])) return fail_arguments();
    return true;
}

PyObject* garch_filter(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double mu, omega, alpha, beta, s2, ar1;
    if (nargs != 8 || !doubles(args[0], y) || !number(args[1], mu) || !number(args[2], omega) ||
        !number(args[3], alpha) || !number(args[4], beta) || !number(args[5], s2) ||
        !number(args[7], ar1))
        return fail_arguments(), nullptr;
    const int use_ar1 = PyObject_IsTrue(args[6]);
    if (use_ar1 < 0) return nullptr;
    double ll = 0.0;
    for (std::size_t t = 0; t < y.size; ++t) {
        const double m = use_ar1 && t > 0 ? mu + ar1 * (y.data[t - 1] - mu) : mu;
        const double e = y.data[t] - m;
        const double h = std::fmax(s2, 1e-20);
        ll = ll + (std::log(h) + (e * e) / h) * 0.5;
        s2 = beta * s2 + (omega + e * (alpha * e));
    }
    return PyFloat_FromDouble(ll);
}

PyObject* egarch_filter(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double p[6];
    if (!series_and_six(args, nargs, y, p)) return nullptr;
    const auto [mu, omega, alpha, beta, gamma, init] = p;
    double ll = 0.0, x = init;
    for (std::size_t t = 0; t < y.size; ++t) {
        const double s2 = std::fmax(std::exp(x), 1e-20);
        const double e = y.data[t] - mu;
        const double z = e / std::fmax(std::sqrt(s2), 1e-10);
        ll = ll + (x + (e * e) / s2) * 0.5;
        double v = beta * x + (omega + (alpha * z + gamma * (std::fabs(z) - 0.7978845608028654)));
        if (v < -20.0) v = -20.0;
        if (v > 20.0) v = 20.0;
        x = v;
    }
    return PyFloat_FromDouble(ll);
}

PyObject* gjr_garch_filter(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double p[6];
    if (!series_and_six(args, nargs, y, p)) return nullptr;
    const auto [mu, omega, alpha, beta, gamma, init] = p;
    double ll = 0.0, s2 = init;
    for (std::size_t t = 0; t < y.size; ++t) {
        const double e = y.data[t] - mu;
        const double h = std::fmax(s2, 1e-20);
        ll = ll + (std::log(h) + (e * e) / h) * 0.5;
        s2 = beta * s2 + (omega + e * (e * (alpha + gamma * (e < 0.0 ? 1.0 : 0.0))));
    }
    return PyFloat_FromDouble(ll);
}

}  // namespace

PyMethodDef volatility[] = {
    FLOOR_LOOP(garch_filter),
    FLOOR_LOOP(egarch_filter),
    FLOOR_LOOP(gjr_garch_filter),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
