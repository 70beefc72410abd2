// Preparing a run: the samples measured, the kernel and blocks chosen, the tables and transforms' plans made.
#pragma once

#include <cstddef>
#include <cstdint>

#include "spectrum/nufft/heuristics.hpp"

#include "spectrum/nufft/nufft.hpp"

namespace trapft::nufft {

// As prepare_nufft, with the kernel of `upsampling` (an index of
// kernel_lines_eighths) where it meets the tolerance, or, when negative or
// not, the one the costs choose; grids of up to `memory` bytes (see choose_blocks).
nufft_status prepare_plan(sample_rows samples, double tolerance, std::int64_t lines, int upsampling, int threads,
                         nufft_plan_owner& plan, std::size_t memory = grid_memory);

}  // namespace trapft::nufft
