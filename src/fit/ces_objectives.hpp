// Objectives of complex exponential smoothing (lumetra.models.ces).
//
// The complex smoothing parameter a0_real + i * a0_imag is searched inside the
// region where the recursion forgets its past (its discount matrix has the
// eigenvalues (1 - a0_real) +- i * a0_imag, so the region is the unit disk
// around 1 + 0i), in polar coordinates about its centre:
//   a0_real = 1 - r * cos(phi),  a0_imag = r * sin(phi),
//   r = bounded(u, 0, 1),        phi = bounded(v, 0, pi).
// (A negative a0_imag only flips the sign of the imaginary state, so the upper
// half of the disk is enough.)
#pragma once

#include <cstddef>
#include <span>

#include "fit/objective.hpp"

namespace lumetra::fit {

// "ces_n": ces_nonseasonal_sse with a free initial level.
//   arrays:    y, whose first element is a placeholder for the initial level.
//   constants: none.
//   x:         (u, v, level0).
double ces_n_value(Problem& problem, std::span<const double> x);
const char* ces_n_check(const Problem& problem, std::size_t dims);

// "ces_s": ces_seasonal_sse with a free initial level and given initial
// seasonal states.
//   arrays:    y as for "ces_n", and the initial seasonal states (one per
//              phase of y's kernel index, the placeholder's phase 0 first).
//   constants: m, the season length.
//   x:         (u, v, w, level0), gamma = bounded(w, 0, 1); the placeholder
//              is set to level0 + season[0], so that the kernel's initial
//              level is level0 (up to the rounding of that sum and
//              difference).
double ces_s_value(Problem& problem, std::span<const double> x);
const char* ces_s_check(const Problem& problem, std::size_t dims);

}  // namespace lumetra::fit
