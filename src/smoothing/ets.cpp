#include "smoothing/ets.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>
#include <vector>

#include "smoothing/ets_lockstep.hpp"
#include "smoothing/ets_recursion.hpp"

namespace lumetra::smoothing {

namespace {

// The likelihood's private copy of the seasonal vector. Optimisers evaluate
// the likelihood thousands of times over short seasonal vectors, so those are kept on
// the stack and such a call allocates nothing; longer ones go to the heap.
class SeasonalCopy {
public:
    explicit SeasonalCopy(View<double> seasonal0) : size_(seasonal0.size()) {
        if (size_ > inline_size) heap_ = work_array<double>(size_);
        double* out = data();
        for (std::size_t i = 0; i < size_; ++i) out[i] = seasonal0[i];
    }
    SeasonalCopy(const SeasonalCopy&) = delete;
    SeasonalCopy& operator=(const SeasonalCopy&) = delete;

    std::span<double> span() noexcept { return {data(), size_}; }

private:
    static constexpr std::size_t inline_size = 64;

    double* data() noexcept { return size_ > inline_size ? heap_.data() : inline_; }

    std::size_t size_;
    std::vector<double> heap_;
    double inline_[inline_size];
};

EtsModel model_of(const EtsParameters& params) {
    const auto& [level0, trend0, seasonal0, alpha, beta, gamma, phi, period, error_type, trend_type,
                 seasonal_type] = params;
    return {alpha, beta, gamma, phi, period, error_type, trend_type, seasonal_type};
}

}  // namespace

EtsFit ets_filter(View<double> y, double level0, double trend0, View<double> seasonal0,
                  double alpha, double beta, double gamma, double phi, std::uint64_t period,
                  std::int32_t error_type, std::int32_t trend_type, std::int32_t seasonal_type) {
    const std::size_t n = y.size();
    // The recursion writes every step's forecast and error, and fails (if at
    // all) before the first step, so the buffers need no zeroing.
    Series fitted = Series::for_overwrite(n);
    Series errors = Series::for_overwrite(n);
    Series seasonal = Series::copy_of(seasonal0);
    EtsState state{level0, trend0, {seasonal.data(), seasonal.size()}};
    const EtsModel model{alpha, beta, gamma, phi, period, error_type, trend_type, seasonal_type};
    ets_recursion(y, model, state, [&](std::size_t t, double forecast, double e) {
        fitted[t] = forecast;
        errors[t] = e;
    });
    return {std::move(fitted), std::move(errors), state.level, state.trend, std::move(seasonal)};
}

double ets_loglik(View<double> y, double level0, double trend0, View<double> seasonal0,
                  double alpha, double beta, double gamma, double phi, std::uint64_t period,
                  std::int32_t error_type, std::int32_t trend_type, std::int32_t seasonal_type) {
    SeasonalCopy seasonal(seasonal0);
    EtsState state{level0, trend0, seasonal.span()};
    const EtsModel model{alpha, beta, gamma, phi, period, error_type, trend_type, seasonal_type};
    // Both sums run in step order from zero.
    double squares = 0.0;
    double logs = 0.0;
    const bool additive_error = error_type == 0;
    if (additive_error) {
        ets_recursion(y, model, state,
                      [&](std::size_t, double, double e) { squares = squares + e * e; });
    } else {
        // Relative errors divide by |f| + eps, while the recursion's own
        // multiplicative updates divide by f + eps with f's sign. The log term
        // uses fmax, so a NaN forecast contributes ln(eps).
        ets_recursion(y, model, state, [&](std::size_t, double forecast, double e) {
            const double magnitude = std::fabs(forecast);
            const double relative = e / (magnitude + ets::epsilon);
            squares = squares + relative * relative;
            logs = logs + std::log(std::fmax(magnitude, ets::epsilon));
        });
    }
    // With n = 0 this is 0 * ln(0 / 0), NaN.
    const double count = static_cast<double>(y.size());
    const double two_pi = 6.283185307179586;
    const double deviance = count * (std::log((squares * two_pi) / count) + 1.0);
    return additive_error ? deviance : (logs + logs) + deviance;
}

std::vector<EtsFit> batch_ets_filter(const std::vector<View<double>>& y_list,
                                     const std::vector<EtsParameters>& params_list) {
    const std::size_t count = std::min(y_list.size(), params_list.size());
    // Part 3k and 3k + 1 are series k's fitted values and errors, part 3k + 2
    // its seasonal vector.
    const auto size_of = [&](std::size_t part) {
        return part % 3 == 2 ? std::get<2>(params_list[part / 3]).size() : y_list[part / 3].size();
    };
    // Every series' failures are checked, in series order, before any buffer
    // is made or any series runs: the first failing series decides the
    // message, as in a loop of ets_filter calls. (The sizes are those of
    // arrays and sequences that exist, so no buffer size overflows; group()
    // checks them all the same.)
    for (std::size_t k = 0; k < count; ++k)
        ets::check(y_list[k].size(), model_of(params_list[k]), size_of(3 * k + 2));
    // The fitted values, errors and seasonal vector of every series share one
    // allocation. Every step's forecast and error is written, as in
    // ets_filter.
    std::vector<Series> buffers = Series::group(3 * count, size_of);
    std::vector<EtsLane> lanes;
    lanes.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        const EtsParameters& params = params_list[k];
        const std::span<const double> seasonal0 = std::get<2>(params);
        Series& seasonal = buffers[3 * k + 2];
        std::copy(seasonal0.begin(), seasonal0.end(), seasonal.data());
        lanes.push_back({y_list[k],
                         model_of(params),
                         buffers[3 * k].data(),
                         buffers[3 * k + 1].data(),
                         {seasonal.data(), seasonal.size()},
                         std::get<0>(params),
                         std::get<1>(params)});
    }
    ets_lockstep(lanes);
    std::vector<EtsFit> fits;
    fits.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        buffers[3 * k].set_may_hold_nan(lanes[k].nan);
        buffers[3 * k + 1].set_may_hold_nan(lanes[k].nan);
        fits.emplace_back(std::move(buffers[3 * k]), std::move(buffers[3 * k + 1]), lanes[k].level,
                          lanes[k].trend, std::move(buffers[3 * k + 2]));
    }
    return fits;
}

}  // namespace lumetra::smoothing
