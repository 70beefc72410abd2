// The transform: FFTW's plans for the grid sizes a run needs, made under one lock, and their execution.
#pragma once

#include <cstdint>

#include "spectrum/nufft/plan.hpp"

namespace trapft::nufft {

// Plans for every power of two from the smallest grid up to small_plans
// points (cheap, for short blocks and runs), for the sweep's last block and
// for full blocks; a block of another size uses the next larger plan. Throws
// std::bad_alloc when memory runs out.
void make_plans(nufft_plan& plan, std::int64_t lines);

// The grid size for a block of `count` lines: the least planned size that holds them.
std::int32_t grid_points(const nufft_plan& plan, std::int32_t count);

// Transforms the grid of `points` (a planned size) at `grid` in place.
void transform_grid(const nufft_plan& plan, std::int32_t points, double* grid);

}  // namespace trapft::nufft
