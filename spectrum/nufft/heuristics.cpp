// The fast evaluation's plan: the kernel, the blocks and the costs, as pure functions of the tolerance, the samples and the lines.
#include "spectrum/nufft/heuristics.hpp"

namespace trapft::nufft {

// What is left after the kernel's error and the allowance goes to the
// accumulation's share, then the truncation. The allowance for the
// transform's and the evaluation's rounding grows with the kernel's gain over
// upsampling 2's, through which those errors reach the results.
kernel_choice choose_kernel(double tolerance, int upsampling) {
    auto accumulation = [&](int width) {
        return unit_roundoff * kernel_gain(width, upsampling) * width * plain_samples_wanted;
    };
    auto allowance = [&](int width) {
        return rounding_allowance * (kernel_gain(width, upsampling) / kernel_gain(width, 0));
    };
    auto wanted = [&](int width) {
        return kernel_growth * kernel_error(width, upsampling) + allowance(width) + accumulation(width) +
               truncation_share * tolerance;
    };
    kernel_choice k;
    k.upsampling = upsampling;
    while (k.width < kernel_max_width && wanted(k.width) > tolerance) ++k.width;
    k.meets = wanted(k.width) <= tolerance;
    k.gain = kernel_gain(k.width, upsampling);
    const double rest =
        std::max(tolerance - kernel_growth * kernel_error(k.width, upsampling) - allowance(k.width), 0.0);
    k.rounding = std::min(accumulation(k.width), rest / 2);
    k.truncation = rest - k.rounding;
    return k;
}

block_choice choose_blocks(double tolerance, std::int64_t samples, std::int64_t lines, int upsampling,
                           std::size_t grids) {
    lines = std::max<std::int64_t>(lines, 1);
    const std::int64_t low =
        2 * std::max<std::int64_t>(next_power_of_two(std::min(lines, default_block)), smallest_grid / 2);
    const std::int64_t high = 2 * std::min({next_power_of_two(lines), largest_block,
                                            std::max(default_block, next_power_of_two(samples))});
    const std::size_t memory = std::max(grids, 16 * static_cast<std::size_t>(samples));
    // The kernel asked for where it meets the tolerance, else every one that does.
    const bool asked =
        upsampling >= 0 && upsampling < kernel_upsamplings && choose_kernel(tolerance, upsampling).meets;
    block_choice best{choose_kernel(tolerance, 0), low, 0};
    double best_cost = 0.0;
    bool any = false;
    for (int u = 0; u < kernel_upsamplings; ++u) {
        const kernel_choice k = u == 0 ? best.kernel : choose_kernel(tolerance, u);
        if (asked ? u != upsampling : u > 0 && !k.meets) continue;
        for (std::int64_t points = low; points <= std::max(low, high); points *= 2) {
            const std::int64_t block = lines_on(u, points);
            if (points > low && grids_bytes(points, choose_subgrids(samples, block)) > memory) break;
            const double passes = static_cast<double>((lines + block - 1) / block);
            const double cost =
                passes * (static_cast<double>(samples) * sample_pass_cost(k.width, 2) + 2 * fft_pass_cost(points)) +
                touch_cost * static_cast<double>(points);
            if (!any || cost < best_cost) {
                best = {k, points, 0};
                best_cost = cost;
                any = true;
            }
        }
    }
    best.lines = lines_on(best.kernel.upsampling, best.points);
    return best;
}

std::int32_t plain_limit(const nufft_plan& plan) {
    const double terms = plan.rounding / (unit_roundoff * plan.gain * plan.width);
    return static_cast<std::int32_t>(std::clamp(terms, 1.0, 1e9));
}

bool direct_is_cheaper(const nufft_plan& plan, std::int32_t lines, std::int32_t points, int terms) {
    const double samples = static_cast<double>(plan.count);
    return static_cast<double>(lines) * samples * direct_cost <=
           samples * sample_pass_cost(plan, terms) + terms * fft_pass_cost(points);
}

}  // namespace trapft::nufft
