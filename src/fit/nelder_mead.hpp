// Nelder-Mead simplex minimisation of an objective of several variables.
//
// This is the algorithm of lumetra.models.optimize.nelder_mead, operation for
// operation: the same initial simplex, the same stable ordering of vertices by
// value, the centroid summed in increasing vertex order from 0.0, the same
// trial points a + t * (b - a), the same comparisons and stopping rule, and
// the same restarts. Given an objective that returns the same bits for the
// same point, both find the same minimum, bit for bit, after the same number
// of evaluations.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <span>
#include <utility>
#include <vector>

namespace lumetra::fit {

struct Minimum {
    std::vector<double> x;  // the best point found
    double value;           // the objective there
    long evaluations;       // how many times the objective was called
};

namespace detail {

// The point a + t * (b - a), element by element.
inline void towards(std::span<const double> a, std::span<const double> b, double t,
                    std::span<double> out) noexcept {
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = a[i] + t * (b[i] - a[i]);
}

// One run from `start`: the simplex is the start and one vertex per
// coordinate moved by its step.
template <class Objective>
Minimum nelder_mead_run(Objective& objective, std::span<const double> start,
                        std::span<const double> steps, long max_evaluations, double tolerance) {
    const std::size_t dims = start.size();
    const std::size_t vertices = dims + 1;
    long evaluations = 0;
    // A NaN value counts as +inf: a region where the recursion breaks down is
    // simply avoided.
    const auto f = [&](std::span<const double> x) {
        ++evaluations;
        const double value = objective(x);
        return std::isnan(value) ? std::numeric_limits<double>::infinity() : value;
    };

    std::vector<std::vector<double>> simplex(vertices,
                                             std::vector<double>(start.begin(), start.end()));
    for (std::size_t i = 0; i < dims; ++i) simplex[i + 1][i] += steps[i];
    std::vector<double> values(vertices);
    for (std::size_t i = 0; i < vertices; ++i) values[i] = f(simplex[i]);

    std::vector<std::size_t> order(vertices);
    std::vector<std::vector<double>> sorted(vertices);
    std::vector<double> sorted_values(vertices);
    std::vector<double> centroid(dims), reflected(dims), expanded(dims), contracted(dims);
    while (evaluations < max_evaluations) {
        // Vertices by increasing value; ties keep their order.
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::stable_sort(order.begin(), order.end(),
                         [&values](std::size_t a, std::size_t b) { return values[a] < values[b]; });
        for (std::size_t i = 0; i < vertices; ++i) {
            sorted[i].swap(simplex[order[i]]);
            sorted_values[i] = values[order[i]];
        }
        simplex.swap(sorted);
        values.swap(sorted_values);

        const double spread = values[dims] - values[0];
        if (spread <= tolerance * (std::fabs(values[0]) + tolerance)) break;
        for (std::size_t i = 0; i < dims; ++i) {
            double total = 0.0;
            for (std::size_t v = 0; v < dims; ++v) total = total + simplex[v][i];
            centroid[i] = total / static_cast<double>(dims);
        }
        const std::vector<double>& worst = simplex[dims];
        towards(centroid, worst, -1.0, reflected);
        const double f_reflected = f(reflected);
        if (f_reflected < values[0]) {
            towards(centroid, worst, -2.0, expanded);
            const double f_expanded = f(expanded);
            if (f_expanded < f_reflected) {
                simplex[dims] = expanded;
                values[dims] = f_expanded;
            } else {
                simplex[dims] = reflected;
                values[dims] = f_reflected;
            }
        } else if (f_reflected < values[dims - 1]) {
            simplex[dims] = reflected;
            values[dims] = f_reflected;
        } else {
            // Contract towards the better of the worst point and its reflection.
            const bool outside = f_reflected < values[dims];
            towards(centroid, worst, outside ? -0.5 : 0.5, contracted);
            const double f_contracted = f(contracted);
            if (f_contracted < std::min(f_reflected, values[dims])) {
                simplex[dims] = contracted;
                values[dims] = f_contracted;
            } else {  // shrink every vertex halfway towards the best one
                for (std::size_t i = 1; i < vertices; ++i) {
                    towards(simplex[0], simplex[i], 0.5, contracted);
                    simplex[i] = contracted;
                    values[i] = f(simplex[i]);
                }
            }
        }
    }
    std::size_t best = 0;
    for (std::size_t i = 1; i < vertices; ++i) {
        if (values[i] < values[best]) best = i;
    }
    return Minimum{simplex[best], values[best], evaluations};
}

}  // namespace detail

// Minimises `objective` (callable with a std::span<const double>, returning a
// double) from `start`, with one initial step per coordinate. A run stops
// when the values at the vertices agree within `tolerance` relative to the
// best one, or after max_evaluations calls; it then starts again from the
// best point `restarts` times, and a restart's point is kept when its value
// is no worse. dims >= 1 and steps.size() == start.size().
template <class Objective>
Minimum nelder_mead(Objective&& objective, std::span<const double> start,
                    std::span<const double> steps, long max_evaluations, double tolerance,
                    long restarts) {
    Minimum best = detail::nelder_mead_run(objective, start, steps, max_evaluations, tolerance);
    long evaluations = best.evaluations;
    for (long r = 0; r < restarts; ++r) {
        Minimum again =
            detail::nelder_mead_run(objective, best.x, steps, max_evaluations, tolerance);
        evaluations += again.evaluations;
        // (A restart begins at the best point, so it never ends above it.)
        if (again.value <= best.value) best = std::move(again);  // GCOVR_EXCL_BR_LINE
    }
    best.evaluations = evaluations;
    return best;
}

}  // namespace lumetra::fit
