// Sample and approximate entropy: regularity statistics that compare every
// pair of templates (runs of consecutive values) under the Chebyshev distance
// with an absolute tolerance r.
#pragma once

#include <cstdint>

#include "common/view.hpp"

namespace lumetra::diagnostics {

// -ln(A / B), where B counts the pairs i < j of templates of length m with
// starts below n - m that match, and A the pairs of templates of length m + 1
// with starts below n - m - 1. 0.0 for r < 1e-10, n < 10, or A or B zero.
double sample_entropy(View<double> y, std::uint64_t m, double r);

// max(Phi(m) - Phi(m + 1), 0), where Phi(L) is the mean of ln(C_i / N + 1e-20)
// over the N = n - L + 1 templates of length L and C_i counts the templates
// that match template i, itself included. 0.0 for r < 1e-10 or n <= 9.
double approximate_entropy(View<double> y, std::uint64_t m, double r);

}  // namespace lumetra::diagnostics
