// Plain contiguous loops of the theta family. Inputs outside the benchmarks'
// needs (too short, mismatched lengths) are refused, not handled.
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "floor.hpp"

namespace floor_loops {

namespace {

bool fail_arguments() {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "bad arguments");
    return false;
}

// A contiguous int64 array argument.
bool int64s(PyObject* object, const std::int64_t*& data, std::size_t& size) {
    if (!PyArray_Check(object)) return false;
    auto* a = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_NDIM(a) != 1 || PyArray_TYPE(a) != NPY_INT64 || !PyArray_IS_C_CONTIGUOUS(a))
        return false;
    data = static_cast<const std::int64_t*>(PyArray_DATA(a));
    size = static_cast<std::size_t>(PyArray_DIM(a, 0));
    return true;
}

PyObject* theta_decompose(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double theta;
    if (nargs != 2 || !doubles(args[0], y) || !number(args[1], theta) || y.size == 0)
        return fail_arguments(), nullptr;
    double* r;
    PyObject* result = new_array(y.size, r);
    if (result == nullptr) return nullptr;
    const std::size_t n = y.size;
    const double first = y.data[0], span = y.data[n - 1] - y.data[0], keep = 1.0 - theta;
    for (std::size_t i = 0; i < n; ++i) {
        const double frac = (static_cast<double>(i) + 1.0) / static_cast<double>(n);
        r[i] = theta * y.data[i] + keep * (first + frac * span);
    }
    return result;
}

// y and five floats, n >= 2.
bool dot_arguments(PyObject* const* args, Py_ssize_t nargs, Doubles& y, double (&p)[5]) {
    if (nargs != 6 || !doubles(args[0], y) || y.size < 2) return fail_arguments();
    for (int i = 0; i < 5; ++i)
        if (!number(args[i + 1], p[i])) return fail_arguments();
    return true;
}

// The theta line z, then the recursion; each error goes to e (if given) and
// into the returned sum; the final level into level.
double dot_pass(Doubles y, const double (&p)[5], double* e, double& level) {
    const auto [intercept, slope, theta, alpha, drift] = p;
    const std::size_t n = y.size;
    std::vector<double> z(n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        z[i] = (1.0 - theta) * (intercept + slope * static_cast<double>(i)) + theta * y.data[i];
    level = z[0];
    double sse = 0.0;
    for (std::size_t i = 1; i < n; ++i) {
        const double at = static_cast<double>(i);
        const double err = y.data[i] + -0.5 * (drift * at + (level + (intercept + slope * at)));
        if (e != nullptr) e[i - 1] = err;
        sse = sse + err * err;
        level = (1.0 - alpha) * level + alpha * z[i];
    }
    return sse;
}

PyObject* dot_objective(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double p[5], level;
    if (!dot_arguments(args, nargs, y, p)) return nullptr;
    return PyFloat_FromDouble(dot_pass(y, p, nullptr, level));
}

PyObject* dot_residuals(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    double p[5], level;
    if (!dot_arguments(args, nargs, y, p)) return nullptr;
    double* e;
    PyObject* errors = new_array(y.size - 1, e);
    if (errors == nullptr) return nullptr;
    dot_pass(y, p, e, level);
    return Py_BuildValue("(Nd)", errors, level);
}

double ses_sse(const std::vector<double>& c, double a) {
    double level = c[0], sum = 0.0;
    for (std::size_t i = 1; i < c.size(); ++i) {
        const double e = c[i] - level;
        sum = sum + e * e;
        level = (1.0 - a) * level + a * c[i];
    }
    return sum;
}

PyObject* dot_hybrid_objective(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y, line;
    double theta;
    if (nargs != 4 || !doubles(args[0], y) || !doubles(args[1], line) || !number(args[2], theta) ||
        y.size < 3 || line.size < y.size)
        return fail_arguments(), nullptr;
    const int additive = PyObject_IsTrue(args[3]);
    if (additive < 0) return nullptr;
    const std::size_t n = y.size;
    std::vector<double> c(n, 0.0), s(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        c[i] = additive ? theta * y.data[i] + (1.0 - theta) * line.data[i]
                        : std::pow(std::fmax(y.data[i], 1e-10), theta) *
                              std::pow(std::fmax(line.data[i], 1e-10), 1.0 - theta);
    }
    double lo = 0.001, hi = 0.999;
    for (int iteration = 0; iteration < 50; ++iteration) {
        const double d = (hi - lo) * 0.6180339887498949;
        const double x1 = hi - d, s1 = ses_sse(c, x1);
        const double x2 = lo + d, s2 = ses_sse(c, x2);
        if (s1 < s2) {
            hi = x2;
        } else {
            lo = x1;
        }
    }
    const double alpha = (hi + lo) * 0.5;
    s[0] = c[0];
    for (std::size_t i = 1; i < n; ++i) s[i] = alpha * c[i] + (1.0 - alpha) * s[i - 1];
    const double w = 1.0 / std::fmax(theta, 1.0);
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double f = additive ? w * s[i] + (1.0 - w) * line.data[i]
                                  : std::pow(std::fmax(s[i], 1e-10), w) *
                                        std::pow(std::fmax(line.data[i], 1e-10), 1.0 - w);
        total = total + std::fabs(y.data[i] - f);
    }
    return PyFloat_FromDouble(total / static_cast<double>(n));
}

PyObject* four_theta_deseasonalize(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    std::size_t p;
    if (nargs != 2 || !doubles(args[0], y) || !count(args[1], p) || p == 0 || p > y.size)
        return fail_arguments(), nullptr;
    const std::size_t n = y.size;
    double smallest = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < n; ++i)
        if (y.data[i] < smallest) smallest = y.data[i];
    const bool multiplicative = smallest > 0.0;
    const double r = 1.0 / static_cast<double>(p);
    const std::size_t windows = n - p + 1, h = (p - 1) / 2;
    std::vector<double> average(windows, 0.0), sums(p, 0.0);
    std::vector<std::uint64_t> counts(p, 0);
    for (std::size_t j = 0; j < windows; ++j) {
        double a = 0.0;
        for (std::size_t k = 0; k < p; ++k) a = a + y.data[j + k] * r;
        average[j] = a;
    }
    for (std::size_t j = 0; j < windows; ++j) {
        const std::size_t t = j + h, s = t % p;
        if (!multiplicative) {
            sums[s] = sums[s] + (y.data[t] - average[j]);
            ++counts[s];
        } else if (average[j] > 0.0) {
            sums[s] = sums[s] + y.data[t] / average[j];
            ++counts[s];
        }
    }
    double* indices;
    double* adjusted;
    PyObject* first = new_array(p, indices);
    PyObject* third = new_array(n, adjusted);
    if (first == nullptr || third == nullptr) {
        Py_XDECREF(first);
        Py_XDECREF(third);
        return nullptr;
    }
    // A phase without contributions takes the neutral index of its mode.
    for (std::size_t s = 0; s < p; ++s) {
        indices[s] = counts[s] == 0 ? (multiplicative ? 1.0 : 0.0)
                                    : sums[s] / static_cast<double>(counts[s]);
    }
    double total = -0.0;
    for (std::size_t s = 0; s < p; ++s) total = total + indices[s];
    const double mean = total / static_cast<double>(p);
    for (std::size_t s = 0; s < p; ++s) {
        if (!multiplicative) {
            indices[s] = indices[s] - mean;
        } else {
            if (mean > 0.0) indices[s] = indices[s] / mean;
            if (indices[s] < 0.01) indices[s] = 0.01;
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        adjusted[i] = multiplicative ? y.data[i] / indices[i % p] : y.data[i] - indices[i % p];
    }
    return Py_BuildValue("(NON)", first, multiplicative ? Py_True : Py_False, third);
}

PyObject* four_theta_fitted(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    std::size_t n, k, lengths_size;
    Doubles thetas, intercepts, slopes, weights, flat, last;
    const std::int64_t* lengths;
    if (nargs != 8 || !count(args[0], n) || !doubles(args[1], thetas) ||
        !doubles(args[2], intercepts) || !doubles(args[3], slopes) || !doubles(args[4], weights) ||
        !doubles(args[5], flat) || !int64s(args[6], lengths, lengths_size) ||
        !doubles(args[7], last))
        return fail_arguments(), nullptr;
    k = thetas.size;
    // Only well-formed calls: every line's levels inside the flat array.
    std::vector<std::size_t> offsets(k, 0);
    std::size_t end = 0;
    for (std::size_t i = 0; i < k; ++i) {
        if (lengths_size < k || intercepts.size < k || slopes.size < k || weights.size < k ||
            last.size < k || lengths[i] < 0)
            return fail_arguments(), nullptr;
        offsets[i] = end;
        end += static_cast<std::size_t>(lengths[i]);
    }
    if (end > flat.size) return fail_arguments(), nullptr;
    double* f;
    PyObject* result = new_array(n, f);
    if (result == nullptr) return nullptr;
    for (std::size_t i = 0; i < k; ++i) {
        const std::size_t length = static_cast<std::size_t>(lengths[i]);
        for (std::size_t t = 0; t < n; ++t) {
            const double trend = intercepts.data[i] + slopes.data[i] * static_cast<double>(t);
            const double level = t < length ? flat.data[offsets[i] + t] : last.data[i];
            f[t] = thetas.data[i] == 0.0 ? f[t] + weights.data[i] * trend
                                         : f[t] + (weights.data[i] * (trend + level)) * 0.5;
        }
    }
    return result;
}

}  // namespace

PyMethodDef theta[] = {
    FLOOR_LOOP(theta_decompose),
    FLOOR_LOOP(dot_objective),
    FLOOR_LOOP(dot_residuals),
    FLOOR_LOOP(dot_hybrid_objective),
    FLOOR_LOOP(four_theta_deseasonalize),
    FLOOR_LOOP(four_theta_fitted),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
