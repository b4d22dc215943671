#include "fit/theta_objectives.hpp"

#include "fit/maps.hpp"
#include "smoothing/ses.hpp"
#include "theta/theta.hpp"

namespace lumetra::fit {

namespace {

// The problem's first array, copied once into the work storage, with its
// first element set to `first`: the series that the kernel scores.
View<double> with_first(Problem& problem, double first) {
    if (problem.work.empty()) {
        const View<double> y = problem.arrays[0];
        problem.work.resize(y.size());
        for (std::size_t i = 0; i < y.size(); ++i) problem.work[i] = y[i];
    }
    problem.work[0] = first;
    return View<double>(problem.work.data(), problem.work.size(), 1);
}

}  // namespace

double ses_value(Problem& problem, std::span<const double> x) {
    const double alpha = bounded(x[0], problem.constants[0], problem.constants[1]);
    return smoothing::ses_sse(with_first(problem, x[1]), alpha);
}

const char* ses_check(const Problem& problem, std::size_t dims) {
    if (dims != 2) return "the ses objective takes 2 parameters";
    if (problem.arrays[0].size() < 2)
        return "the ses objective needs an array of at least 2 values";
    return nullptr;
}

double dotm_value(Problem& problem, std::span<const double> x) {
    const double intercept = problem.constants[0];
    const double slope = problem.constants[1];
    const double theta = bounded(x[0], problem.constants[2], problem.constants[3]);
    const double alpha = bounded(x[1], problem.constants[4], problem.constants[5]);
    const double w = 2.0 - 2.0 / theta;
    return theta::dot_objective(with_first(problem, x[2]), w * intercept, w * slope, 2.0, alpha,
                                0.0);
}

const char* dotm_check(const Problem& problem, std::size_t dims) {
    if (dims != 3) return "the dotm objective takes 3 parameters";
    if (problem.arrays[0].size() < 2)
        return "the dotm objective needs an array of at least 2 values";
    return nullptr;
}

}  // namespace lumetra::fit
