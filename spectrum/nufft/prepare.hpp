// Preparing a run: the samples measured, the kernel and blocks chosen, the tables and transforms' plans made.
#pragma once

#include <cstdint>

#include "spectrum/fast_evaluation.hpp"

namespace trapft::nufft {

// As prepare_fast, with the kernel of `upsampling` (an index of
// kernel_lines_eighths) where it meets the tolerance, or, when negative or
// not, the one the costs choose.
fast_status prepare_plan(sample_rows samples, double tolerance, std::int64_t lines, int upsampling, int threads,
                         fast_plan_owner& plan);

}  // namespace trapft::nufft
