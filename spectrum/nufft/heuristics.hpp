// The fast evaluation's plan: the kernel, the blocks and the costs, as pure functions of the tolerance, the samples and the lines.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "spectrum/nufft/kernel.hpp"
#include "spectrum/nufft/plan.hpp"

namespace trapft::nufft {

inline constexpr double unit_roundoff = 0x1p-53;

// Shares of the tolerance (relative to A): a fixed allowance for the rounding
// of the transform, the kernel's evaluation, the rotation and the scaling;
// at least this much for the Taylor terms' truncation; and the kernel's
// error grows by at most 2 % with offsets whose phase x = 2π max|δ| R is at
// most largest_offset_phase.
inline constexpr double rounding_allowance = 4e-15;
inline constexpr double truncation_share = 0.005;
inline constexpr double largest_offset_phase = 0.01;
inline constexpr double kernel_growth = 1.02;
// The width is chosen so that plain accumulation takes at least this many
// samples starting on one grid point before it needs compensation (which
// costs more than a wider kernel saves).
inline constexpr double plain_samples_wanted = 32;

// Default most lines per block, and the most a block may grow to for many samples.
inline constexpr std::int64_t default_block = 65536;
inline constexpr std::int64_t largest_block = std::int64_t{1} << 20;
inline constexpr std::int32_t smallest_grid = 16;
inline constexpr std::int32_t small_plans = 8192;
// Grids take at most this much, or as much as the samples' times and values.
inline constexpr std::size_t grid_memory = std::size_t{40} << 20;
// Doubles between the grids of several rows, beside their size (six cache lines).
inline constexpr std::size_t grid_stagger = 48;

// Approximate costs on a current x86-64 core, in nanoseconds, for choosing
// block sizes, the direct sum and the Taylor terms: per sample and pass (and
// per grid point of kernel width), per sample, Taylor term and grid point of
// width, per grid point and level of the FFT, per grid point first touched,
// and per sample and frequency summed directly.
inline constexpr double sample_cost = 6.0;
inline constexpr double sample_cost_per_width = 1.0;
inline constexpr double term_cost_per_width = 0.35;
inline constexpr double fft_cost = 0.35;
inline constexpr double touch_cost = 40.0;
inline constexpr double direct_cost = 9.0;

// Bytes of one complex grid point.
inline constexpr std::size_t point_bytes = 2 * sizeof(double);

inline std::int64_t next_power_of_two(std::int64_t value) {
    return static_cast<std::int64_t>(std::bit_ceil(static_cast<std::uint64_t>(std::max<std::int64_t>(value, 1))));
}

// The cost of a pass over one sample with a kernel of `width` and `terms` Taylor terms.
inline double sample_pass_cost(int width, int terms) {
    return sample_cost + (sample_cost_per_width + term_cost_per_width * (terms - 1)) * width;
}
inline double sample_pass_cost(const nufft_plan& plan, int terms) { return sample_pass_cost(plan.width, terms); }

// The cost of transforming a grid of `points`.
inline double fft_pass_cost(std::int64_t points) {
    return fft_cost * static_cast<double>(points) * std::log2(static_cast<double>(points));
}

// Sub-grids of a plan: two when the samples outnumber a full grid's points
// twice over, so that two threads can share a block; never more, and never
// dependent on the threads, so that the results are not either.
inline std::int32_t choose_subgrids(std::int64_t samples, std::int64_t block_lines) {
    return samples >= 4 * block_lines ? 2 : 1;
}

// The bytes of a block's grids: every sub-grid's term grids and error grid.
inline std::size_t grids_bytes(std::int64_t points, std::int32_t subgrids) {
    return static_cast<std::size_t>(subgrids) * (nufft_max_terms + 1) * point_bytes * static_cast<std::size_t>(points);
}

// The lines a grid of `points` (a power of two, at least 16) holds at an upsampling.
inline std::int64_t lines_on(int upsampling, std::int64_t points) {
    return points / 8 * kernel_lines_eighths[upsampling];
}

// Mode 0's line on a grid of `points`: half the lines the grid holds.
inline std::int32_t centre_line(const nufft_plan& plan, std::int32_t points) {
    return static_cast<std::int32_t>(lines_on(plan.upsampling, points) / 2);
}

// The least grid that holds `count` lines, a power of two.
inline std::int32_t grid_for(const nufft_plan& plan, std::int64_t count) {
    const std::int64_t eighths = kernel_lines_eighths[plan.upsampling];
    return static_cast<std::int32_t>(
        std::max<std::int64_t>(next_power_of_two((8 * count + eighths - 1) / eighths), smallest_grid));
}

// A kernel for an upsampling: its width, and the tolerance's shares left by
// its error; `meets` where the tolerance leaves room.
struct kernel_choice {
    int upsampling = 0;
    int width = 3;
    bool meets = false;
    double gain = 0.0;
    double rounding = 0.0;
    double truncation = 0.0;
};

// The narrowest kernel of `upsampling` that leaves room, after its own error
// and the fixed allowance, for plain accumulation of a good many samples per
// grid point and for some Taylor truncation; the widest that leaves any room
// at all otherwise.
kernel_choice choose_kernel(double tolerance, int upsampling);

// The kernel and the block's grid of a sweep.
struct block_choice {
    kernel_choice kernel;
    std::int64_t points = 0;  // a full block's grid, a power of two
    std::int64_t lines = 0;   // the lines it holds: a block's most
};

// The kernel and block grid that make a sweep of `lines` over `samples`
// samples cheapest by the costs above, among the kernels that meet
// `tolerance` (upsampling 2 always serves); with `upsampling` ≥ 0, that
// kernel where it meets the tolerance. Grids take at most `memory` bytes, or
// as much as the samples' times and values.
block_choice choose_blocks(double tolerance, std::int64_t samples, std::int64_t lines, int upsampling,
                           std::size_t memory = grid_memory);

// Samples starting on one grid point that plain accumulation takes within
// the plan's share for it: a cell then gathers at most width times as many.
std::int32_t plain_limit(const nufft_plan& plan);

// Whether summing directly costs less than one pass over the samples, for a
// progression of `lines` lines on a grid of `points` with `terms` terms.
bool direct_is_cheaper(const nufft_plan& plan, std::int32_t lines, std::int32_t points, int terms);

}  // namespace trapft::nufft
