// The objectives that the native optimiser minimises. Each one is a function
// of a parameter vector and of one problem's data (the arrays and constants
// that the caller passes), and it scores the parameters by calling one model's
// kernel of src/<family>/, exactly as the Python layer calls that kernel
// through lumetra._core: the same mapping of the parameters, the same
// operations, so the same bits.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "common/view.hpp"

namespace lumetra::fit {

// One minimisation's data: what the caller passed, and scratch storage that an
// objective may fill at its first evaluation and reuse at every later one (a
// copy of a series whose first element the parameters set, say).
struct Problem {
    std::span<const View<double>> arrays;
    std::span<const double> constants;
    std::vector<double> work;
};

using ObjectiveValue = double (*)(Problem& problem, std::span<const double> x);

// What is wrong with a problem and a parameter count, or nullptr when the
// objective can evaluate them. Run once, before the first evaluation.
using ObjectiveCheck = const char* (*)(const Problem& problem, std::size_t dims);

// One registration entry (objectives.cpp holds the table).
struct Objective {
    std::string_view name;
    std::size_t arrays;     // how many arrays a problem holds
    std::size_t constants;  // how many constants
    ObjectiveValue value;
    ObjectiveCheck check;
};

// The registered objectives, in registration order.
std::span<const Objective> objectives() noexcept;

// The objective of that name, or nullptr.
const Objective* find_objective(std::string_view name) noexcept;

}  // namespace lumetra::fit
