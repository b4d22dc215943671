#include "fit/ces_objectives.hpp"

#include <cmath>
#include <cstdint>
#include <numbers>

#include "fit/maps.hpp"
#include "smoothing/ces.hpp"

namespace lumetra::fit {

namespace {

struct Complex {
    double real;
    double imag;
};

Complex smoothing_parameter(double u, double v) {
    const double r = bounded(u, 0.0, 1.0);
    const double phi = bounded(v, 0.0, std::numbers::pi);
    return {1.0 - r * std::cos(phi), r * std::sin(phi)};
}

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

double ces_n_value(Problem& problem, std::span<const double> x) {
    const Complex a = smoothing_parameter(x[0], x[1]);
    return smoothing::ces_nonseasonal_sse(with_first(problem, x[2]), a.real, a.imag);
}

const char* ces_n_check(const Problem& problem, std::size_t dims) {
    if (dims != 3) return "the ces_n objective takes 3 parameters";
    if (problem.arrays[0].size() < 2)
        return "the ces_n objective needs an array of at least 2 values";
    return nullptr;
}

double ces_s_value(Problem& problem, std::span<const double> x) {
    const Complex a = smoothing_parameter(x[0], x[1]);
    const double gamma = bounded(x[2], 0.0, 1.0);
    const View<double> start = problem.arrays[1];
    const std::size_t m = start.size();
    const std::size_t n = problem.arrays[0].size();
    // The work storage holds the series (copied at the first call), then the season.
    (void)with_first(problem, 0.0);
    problem.work.resize(n + m);
    double* season = problem.work.data() + n;
    double total = 0.0;
    for (std::size_t j = 0; j < m; ++j) {
        season[j] = j + 1 < m ? start[j] + x[4 + j] : start[j];
        total = total + season[j];
    }
    const double mean = total / static_cast<double>(m);
    for (std::size_t j = 0; j < m; ++j) season[j] = season[j] - mean;
    problem.work[0] = x[3] + season[0];
    return smoothing::ces_seasonal_sse(View<double>(problem.work.data(), n, 1), a.real, a.imag,
                                       gamma, View<double>(season, m, 1),
                                       static_cast<std::uint64_t>(m));
}

const char* ces_s_check(const Problem& problem, std::size_t dims) {
    if (problem.arrays[0].size() < 2)
        return "the ces_s objective needs an array of at least 2 values";
    const double m = problem.constants[0];
    // The season length is a whole number of phases with one initial state each.
    if (!(m >= 1.0) || m != std::floor(m) || m != static_cast<double>(problem.arrays[1].size())) {
        return "the ces_s objective needs one initial seasonal state per phase of m";
    }
    if (dims != 3 + problem.arrays[1].size()) return "the ces_s objective takes m + 3 parameters";
    return nullptr;
}

}  // namespace lumetra::fit
