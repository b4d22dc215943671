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
    const View<double> season = problem.arrays[1];
    const View<double> y = with_first(problem, x[3] + season[0]);
    return smoothing::ces_seasonal_sse(y, a.real, a.imag, gamma, season,
                                       static_cast<std::uint64_t>(season.size()));
}

const char* ces_s_check(const Problem& problem, std::size_t dims) {
    if (problem.arrays[0].size() < 2)
        return "the ces_s objective needs an array of at least 2 values";
    const double m = problem.constants[0];
    // The season length is a whole number of phases with one initial state each.
    if (!(m >= 1.0) || m != std::floor(m) || m != static_cast<double>(problem.arrays[1].size())) {
        return "the ces_s objective needs one initial seasonal state per phase of m";
    }
    if (dims != 4) return "the ces_s objective takes 4 parameters";
    return nullptr;
}

}  // namespace lumetra::fit
