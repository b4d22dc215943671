// Plain contiguous loops of the pattern family.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "floor.hpp"

namespace floor_loops {

namespace {

bool flag(PyObject* object, bool& out) {
    const int v = PyObject_IsTrue(object);
    out = v == 1;
    return v >= 0;
}

PyObject* invalid() {
    PyErr_SetString(PyExc_ValueError, "arguments outside what the loop handles");
    return nullptr;
}

// Mean and floored population standard deviation of y[s..s+w).
void scale(const double* y, std::size_t s, std::size_t w, double& mean, double& sd) {
    double sum = 0.0, sumsq = 0.0;
    for (std::size_t i = 0; i < w; ++i) {
        sum = sum + y[s + i];
        sumsq = sumsq + y[s + i] * y[s + i];
    }
    mean = sum / static_cast<double>(w);
    const double var = sumsq / static_cast<double>(w) - mean * mean;
    sd = std::fmax(std::sqrt(std::fmax(var, 0.0)), 1e-8);
}

// One candidate at a time: its window statistics, its squared distance to the
// query in index order, the decay weight.
PyObject* dtsf_distances(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y, q;
    std::size_t w, max_start, n_total;
    bool normalize;
    double time_decay;
    if (nargs != 7 || !doubles(args[0], y) || !doubles(args[1], q) || !count(args[2], w) ||
        !count(args[3], max_start) || !flag(args[4], normalize) || !number(args[5], time_decay) ||
        !count(args[6], n_total))
        return nullptr;
    if (w == 0 || q.size < w || max_start == 0 || max_start - 1 + w > y.size) return invalid();
    double* out;
    PyObject* result = new_array(max_start, out);
    if (result == nullptr) return nullptr;
    for (std::size_t s = 0; s < max_start; ++s) {
        double d = 0.0;
        if (normalize) {
            double mean, sd;
            scale(y.data, s, w, mean, sd);
            for (std::size_t i = 0; i < w; ++i) {
                const double e = q.data[i] - (y.data[s + i] - mean) / sd;
                d = d + e * e;
            }
        } else {
            for (std::size_t i = 0; i < w; ++i) {
                const double e = q.data[i] - y.data[s + i];
                d = d + e * e;
            }
        }
        const double weight =
            std::fmax(std::exp((-time_decay) * static_cast<double>(n_total - s)), 1e-10);
        out[s] = std::sqrt(d / static_cast<double>(w)) / weight;
    }
    return result;
}

// For every position: the distances of all earlier windows to the query
// window (each window's statistics computed once per call, the query's values
// normalised once per position), the k nearest by (distance, start), the
// median of their next values. Inputs must have no NaN.
PyObject* dtsf_fit_residuals(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    std::size_t w, k;
    bool normalize;
    if (nargs != 4 || !doubles(args[0], y) || !count(args[1], w) || !count(args[2], k) ||
        !flag(args[3], normalize))
        return nullptr;
    const std::size_t n = y.size;
    if (w == 0 || k == 0 || w >= n) return invalid();
    double* out;
    PyObject* result = new_array(n, out);
    if (result == nullptr) return nullptr;
    std::vector<double> means(n - w + 1, 0.0), sds(n - w + 1, 1.0), query(w);
    if (normalize) {
        for (std::size_t s = 0; s + w <= n; ++s) scale(y.data, s, w, means[s], sds[s]);
    }
    std::vector<std::pair<double, std::size_t>> candidates(n - w);
    std::vector<double> next(k);
    for (std::size_t t = w + 1; t < n; ++t) {
        const std::size_t count = t - w, qs = t - w, kk = std::min(k, count);
        for (std::size_t i = 0; i < w; ++i)
            query[i] = normalize ? (y.data[qs + i] - means[qs]) / sds[qs] : y.data[qs + i];
        for (std::size_t s = 0; s < count; ++s) {
            double d = 0.0;
            if (normalize) {
                for (std::size_t i = 0; i < w; ++i) {
                    const double e = query[i] - (y.data[s + i] - means[s]) / sds[s];
                    d = d + e * e;
                }
            } else {
                for (std::size_t i = 0; i < w; ++i) {
                    const double e = query[i] - y.data[s + i];
                    d = d + e * e;
                }
            }
            candidates[s] = {std::sqrt(d / static_cast<double>(w)), s};
        }
        if (kk < count)
            std::nth_element(candidates.begin(), candidates.begin() + kk,
                             candidates.begin() + count);
        for (std::size_t r = 0; r < kk; ++r) next[r] = y.data[candidates[r].second + w];
        std::sort(next.begin(), next.begin() + kk);
        const std::size_t m = kk / 2;
        out[t] = y.data[t] - (kk % 2 == 1 ? next[m] : (next[m - 1] + next[m]) * 0.5);
    }
    return result;
}

// One unit at a time: its pre-activation summed over the previous state in
// index order, then the leaky update of the whole state.
PyObject* esn_reservoir_update(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles u, w_in, w;
    std::size_t n, washout;
    double a;
    if (nargs != 6 || !doubles(args[0], u) || !doubles(args[1], w_in) || !doubles(args[2], w) ||
        !count(args[3], n) || !number(args[4], a) || !count(args[5], washout))
        return nullptr;
    if (w_in.size < n || w.size < n * n) return invalid();
    const std::size_t rows = u.size > washout ? u.size - washout : 0;
    double *states, *x;
    PyObject* states_array = new_array(rows * n, states);
    if (states_array == nullptr) return nullptr;
    PyObject* x_array = new_array(n, x);
    if (x_array == nullptr) {
        Py_DECREF(states_array);
        return nullptr;
    }
    std::vector<double> h(n);
    const double b = 1.0 - a;
    for (std::size_t t = 0; t < u.size; ++t) {
        for (std::size_t i = 0; i < n; ++i) {
            double p = u.data[t] * w_in.data[i];
            for (std::size_t j = 0; j < n; ++j) p = p + w.data[i * n + j] * x[j];
            h[i] = std::tanh(p);
        }
        for (std::size_t j = 0; j < n; ++j) x[j] = b * x[j] + a * h[j];
        if (t >= washout) std::copy(x, x + n, states + (t - washout) * n);
    }
    PyObject* tuple = PyTuple_Pack(2, states_array, x_array);
    Py_DECREF(states_array);
    Py_DECREF(x_array);
    return tuple;
}

}  // namespace

PyMethodDef pattern[] = {
    FLOOR_LOOP(dtsf_distances),
    FLOOR_LOOP(dtsf_fit_residuals),
    FLOOR_LOOP(esn_reservoir_update),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
