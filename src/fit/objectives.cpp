// The registration table of the native optimiser's objectives: one entry per
// objective, each defined in the file of its model family.
#include "fit/objective.hpp"

#include "fit/ces_objectives.hpp"
#include "fit/ets_objective.hpp"
#include "fit/theta_objectives.hpp"

namespace lumetra::fit {

namespace {

// name, arrays, constants, value, check
constexpr Objective table[] = {
    {"ses", 1, 2, &ses_value, &ses_check},       {"dotm", 1, 6, &dotm_value, &dotm_check},
    {"ces_n", 1, 0, &ces_n_value, &ces_n_check}, {"ces_s", 2, 1, &ces_s_value, &ces_s_check},
    {"ets", 1, 11, &ets_value, &ets_check},
};

}  // namespace

std::span<const Objective> objectives() noexcept { return table; }

const Objective* find_objective(std::string_view name) noexcept {
    for (const Objective& objective : table) {
        if (objective.name == name) return &objective;
    }
    return nullptr;
}

}  // namespace lumetra::fit
