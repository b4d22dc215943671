// Plain contiguous loops of the decomposition family.
#include <cmath>
#include <cstdint>
#include <vector>

#include "floor.hpp"

namespace floor_loops {

namespace {

// Centred moving average from prefix sums over the finite values. When y
// holds a non-finite value, a window holding one takes NaN (a NaN, or both
// infinities) or that infinity, from counts of each kind kept as the window
// slides.
PyObject* mstl_moving_average(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    std::size_t window;
    if (nargs != 2 || !doubles(args[0], y) || !count(args[1], window)) return nullptr;
    const std::size_t n = y.size, h = window / 2;
    double* out;
    PyObject* result = new_array(n, out);
    if (result == nullptr) return nullptr;
    std::vector<double> c(n + 1);
    double sum = 0.0;
    bool finite = true;
    for (std::size_t k = 0; k < n; ++k) {
        const double v = y.data[k];
        finite = finite && std::isfinite(v);
        sum = sum + (std::isfinite(v) ? v : 0.0);
        c[k + 1] = sum;
    }
    std::size_t nan = 0, positive = 0, negative = 0, entered = 0, left = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t lo = i > h ? i - h : 0;
        const std::size_t hi = h < n - i ? i + h + 1 : n;
        if (!finite) {
            for (; entered < hi; ++entered) {
                const double v = y.data[entered];
                nan += std::isnan(v);
                positive += v == INFINITY;
                negative += v == -INFINITY;
            }
            for (; left < lo; ++left) {
                const double v = y.data[left];
                nan -= std::isnan(v);
                positive -= v == INFINITY;
                negative -= v == -INFINITY;
            }
        }
        if (nan != 0 || (positive != 0 && negative != 0)) {
            out[i] = NAN;
        } else if (positive != 0) {
            out[i] = INFINITY;
        } else if (negative != 0) {
            out[i] = -INFINITY;
        } else {
            out[i] = (c[hi] - c[lo]) / static_cast<double>(hi - lo);
        }
    }
    return result;
}

// Phase means of y, centred on their mean; the phase runs as i mod period.
PyObject* mstl_extract_seasonal(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Doubles y;
    std::size_t period;
    if (nargs != 2 || !doubles(args[0], y) || !count(args[1], period) || period == 0)
        return nullptr;
    double* out;
    PyObject* result = new_array(y.size, out);
    if (result == nullptr) return nullptr;
    std::vector<double> sums(period), means(period);
    std::vector<std::uint64_t> counts(period);
    for (std::size_t i = 0, j = 0; i < y.size; ++i) {
        sums[j] = sums[j] + y.data[i];
        counts[j] = counts[j] + 1;
        if (++j == period) j = 0;
    }
    double total = 0.0;
    for (std::size_t j = 0; j < period; ++j) {
        means[j] = sums[j] / static_cast<double>(counts[j] > 0 ? counts[j] : 1);
        total = total + means[j];
    }
    const double centre = total / static_cast<double>(period);
    for (std::size_t j = 0; j < period; ++j) means[j] = means[j] - centre;
    for (std::size_t i = 0, j = 0; i < y.size; ++i) {
        out[i] = means[j];
        if (++j == period) j = 0;
    }
    return result;
}

}  // namespace

PyMethodDef decomposition[] = {
    FLOOR_LOOP(mstl_moving_average),
    FLOOR_LOOP(mstl_extract_seasonal),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace floor_loops
