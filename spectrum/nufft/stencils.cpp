// Term 1 from differences of term 0's neighbouring lines: the stencils, and the lines they read.
#include "spectrum/nufft/stencils.hpp"

#include <cmath>

#include "spectrum/nufft/heuristics.hpp"
#include "spectrum/phase_reduction.hpp"

namespace trapft::nufft {

bool differences_suffice(const nufft_plan& plan, std::int32_t lines, double increment, double largest) {
    if (lines < 5 || !(increment != 0.0)) return false;
    const double x = two_pi * largest * plan.radius;
    const double u = two_pi * std::fabs(increment) * plan.radius;
    const double error = x * x / 2 + stencil_miss * x * ((u * u) * (u * u)) +
                         stencil_gain * (largest / std::fabs(increment)) * (plan.tolerance + 64 * unit_roundoff);
    return error <= plan.truncation && std::isfinite(1.0 / (12.0 * u));  // κ below is finite
}

bool wide_differences_suffice(const nufft_plan& plan, double increment, double largest) {
    if (!(increment != 0.0)) return false;
    const double x = two_pi * largest * plan.radius;
    const double u = two_pi * std::fabs(increment) * plan.radius;
    const double error = x * x / 2 + wide_miss * x +
                         wide_gain * (largest / std::fabs(increment)) * (plan.tolerance + 64 * unit_roundoff);
    return u <= wide_span && error <= plan.truncation && std::isfinite(1.0 / u);
}

difference_stencil make_stencil(const nufft_plan& plan, double increment, bool wide) {
    difference_stencil st{};
    const unit_pair phase = fraction_of_product(increment, plan.centre);
    auto turn = [&](int j) { return sin_cos_cycles(reduce_unit(j * phase.hi + j * phase.lo)); };
    const double u = two_pi * increment * plan.radius;
    if (wide) {
        for (int j = 1; j <= wide_reach; ++j) {
            const sine_cosine sc = turn(j);
            st.wide_sine[j - 1] = wide_weights[j - 1] * sc.sine;
            st.wide_cosine[j - 1] = wide_weights[j - 1] * sc.cosine;
        }
        st.kappa = 1.0 / u;
        st.margin = wide_reach;
        return st;
    }
    for (int j = -4; j <= 4; ++j) {
        const sine_cosine sc = turn(j);
        st.sine[j + 4] = sc.sine;
        st.cosine[j + 4] = sc.cosine;
    }
    st.kappa = 1.0 / (12.0 * u);
    return st;
}

}  // namespace trapft::nufft
