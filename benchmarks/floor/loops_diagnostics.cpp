// Plain contiguous loops of the diagnostics family. The entropies are the
// all-pairs definitions, each pair compared up to its first difference.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "floor.hpp"

namespace floor_loops {

namespace {

// Rescaled range of every segment of every lag, one segment at a time, and the
// least-squares slope of log mean R/S on log lag.
PyObject* hurst_exponent(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    std::size_t max_lag;
    if (nargs != 2 || !doubles(args[0], y) || !count(args[1], max_lag)) return nullptr;
    const std::size_t n = y.size;
    const std::size_t max_k = std::min(n / 4, max_lag);
    if (n < 20 || max_k < 2) return PyFloat_FromDouble(0.5);
    double sx = 0.0, sy = 0.0, sxy = 0.0, sxx = 0.0;
    std::size_t points = 0;
    for (std::size_t lag = 2; lag <= max_k; ++lag) {
        double rs_sum = 0.0;
        std::size_t used = 0;
        for (std::size_t k = 0; k < n / lag; ++k) {
            const double* x = y.data + k * lag;
            double sum = 0.0;
            for (std::size_t t = 0; t < lag; ++t) sum = sum + x[t];
            const double mean = sum / static_cast<double>(lag);
            double c = 0.0, sq = 0.0, lo = DBL_MAX, hi = -DBL_MAX;
            for (std::size_t t = 0; t < lag; ++t) {
                const double d = x[t] - mean;
                c = c + d;
                lo = c < lo ? c : lo;
                hi = c > hi ? c : hi;
                sq = sq + d * d;
            }
            const double sd = std::sqrt(sq / static_cast<double>(lag - 1));
            if (sd > 1e-10) {
                rs_sum = rs_sum + (hi - lo) / sd;
                ++used;
            }
        }
        if (used == 0) continue;
        const double px = std::log(static_cast<double>(lag));
        const double py = std::log(rs_sum / static_cast<double>(used));
        sx = sx + px;
        sy = sy + py;
        sxy = sxy + px * py;
        sxx = sxx + px * px;
        ++points;
    }
    if (points < 2) return PyFloat_FromDouble(0.5);
    const double m = static_cast<double>(points);
    const double den = sxx * m - sx * sx;
    if (std::fabs(den) < 1e-15) return PyFloat_FromDouble(0.5);
    const double slope = (sxy * m - sx * sy) / den;
    return PyFloat_FromDouble(std::fmin(std::fmax(slope, 0.0), 1.0));
}

bool match(const double* y, std::size_t i, std::size_t j, std::size_t length, double r) {
    for (std::size_t k = 0; k < length; ++k)
        if (std::fabs(y[i + k] - y[j + k]) > r) return false;
    return true;
}

bool entropy_arguments(PyObject* const* args, Py_ssize_t nargs, Doubles& y, std::size_t& m,
                       double& r) {
    return nargs == 3 && doubles(args[0], y) && count(args[1], m) && number(args[2], r);
}

PyObject* sample_entropy(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    std::size_t m;
    double r;
    if (!entropy_arguments(args, nargs, y, m, r)) return nullptr;
    const std::size_t n = y.size;
    if (r < 1e-10 || n < 10 || m >= n - 1) return PyFloat_FromDouble(0.0);
    std::uint64_t a = 0, b = 0;
    for (std::size_t i = 0; i < n - m - 1; ++i)
        for (std::size_t j = i + 1; j < n - m - 1; ++j) a += match(y.data, i, j, m + 1, r);
    for (std::size_t i = 0; i < n - m; ++i)
        for (std::size_t j = i + 1; j < n - m; ++j) b += match(y.data, i, j, m, r);
    if (a == 0 || b == 0) return PyFloat_FromDouble(0.0);
    return PyFloat_FromDouble(-std::log(static_cast<double>(a) / static_cast<double>(b)));
}

// Mean over the templates of length `length` of ln(C_i / N + 1e-20), C_i
// counting every template that matches template i, itself included.
double phi(const Doubles& y, std::size_t length, double r) {
    if (y.size < length) return 0.0;
    const std::size_t templates = y.size - length + 1;
    const double total = static_cast<double>(templates);
    double sum = 0.0;
    for (std::size_t i = 0; i < templates; ++i) {
        std::uint64_t c = 0;
        for (std::size_t j = 0; j < templates; ++j) c += match(y.data, i, j, length, r);
        sum = sum + std::log(static_cast<double>(c) / total + 1e-20);
    }
    return sum / total;
}

PyObject* approximate_entropy(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    std::size_t m;
    double r;
    if (!entropy_arguments(args, nargs, y, m, r)) return nullptr;
    if (r < 1e-10 || y.size <= 9) return PyFloat_FromDouble(0.0);
    return PyFloat_FromDouble(std::fmax(phi(y, m, r) - phi(y, m + 1, r), 0.0));
}

}  // namespace

PyMethodDef diagnostics[] = {
    FLOOR_LOOP(hurst_exponent),
    FLOOR_LOOP(sample_entropy),
    FLOOR_LOOP(approximate_entropy),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
