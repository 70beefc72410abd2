// Direct sums: each line term by term over the samples, for blocks too short for a pass, and rows whose weights are all zero.
#include "spectrum/nufft/direct.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "spectrum/nufft/weights.hpp"
#include "spectrum/phase_reduction.hpp"

namespace trapft::nufft {
namespace {

// Adds b to the compensated sum (sum, error) (Neumaier's two-sum).
[[gnu::always_inline]] inline void accumulate(double& sum, double& error, double b) {
    const double s = sum + b;
    error += std::fabs(sum) >= std::fabs(b) ? (sum - s) + b : (b - s) + sum;
    sum = s;
}

}  // namespace

bool zero_rows(const nufft_plan& plan, row_group rows, std::int32_t count, const group_results& out) {
    bool all = true;
    for (std::int32_t r = 0; r < rows.count; ++r) {
        if (plan.total[static_cast<std::size_t>(rows.first + r)] != 0.0) {
            all = false;
            continue;
        }
        std::fill(out.real_of(r), out.real_of(r) + count, 0.0);
        std::fill(out.imaginary_of(r), out.imaginary_of(r) + count, -0.0);
    }
    return all;
}

void direct_sums(const nufft_plan& plan, row_group rows, const double* frequencies, std::int32_t count,
                 nufft_work& work, const group_results& out) {
    double* const errors = work.compensation.get();
    auto real_error = [&](std::int32_t r) {
        return errors + 2 * static_cast<std::size_t>(r) * static_cast<std::size_t>(count);
    };
    auto imaginary_error = [&](std::int32_t r) { return real_error(r) + count; };
    for (std::int32_t r = 0; r < rows.count; ++r) {
        std::fill(out.real_of(r), out.real_of(r) + count, 0.0);
        std::fill(out.imaginary_of(r), out.imaginary_of(r) + count, 0.0);
        std::fill(real_error(r), real_error(r) + 2 * static_cast<std::size_t>(count), 0.0);
    }
    double weights[nufft_row_group];
    for (std::int32_t k = 0; k < plan.count; ++k) {
        bool any = false;
        for (std::int32_t r = 0; r < rows.count; ++r) {
            row_weights(plan, rows.first + r, k, k + 1, &weights[r]);
            any = any || weights[r] != 0.0;
        }
        if (!any) continue;
        const double t = plan.times[k];
        for (std::int32_t m = 0; m < count; ++m) {
            if (!std::isfinite(frequencies[m])) continue;
            const unit_pair phase = fraction_of_product(frequencies[m], t);
            const sine_cosine sc = sin_cos_cycles(reduce_unit(phase.hi + phase.lo));
            for (std::int32_t r = 0; r < rows.count; ++r) {
                const double c = weights[r];
                if (c == 0.0) continue;
                accumulate(out.real_of(r)[m], real_error(r)[m], c * sc.cosine);
                accumulate(out.imaginary_of(r)[m], imaginary_error(r)[m], -(c * sc.sine));
            }
        }
    }
    for (std::int32_t r = 0; r < rows.count; ++r) {
        const double scale = plan.scale[static_cast<std::size_t>(rows.first + r)];
        for (std::int32_t m = 0; m < count; ++m) {
            out.real_of(r)[m] = unscale(out.real_of(r)[m] + real_error(r)[m], scale);
            out.imaginary_of(r)[m] = unscale(out.imaginary_of(r)[m] + imaginary_error(r)[m], scale);
        }
    }
}

}  // namespace trapft::nufft
