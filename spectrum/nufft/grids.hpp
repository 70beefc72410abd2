// The pass over the samples: each chunk rotated and spread onto its sub-grid's grids, the sub-grids gathered and transformed.
#pragma once

#include <cstdint>

#include "spectrum/instruction_set.hpp"
#include "spectrum/nufft/plan.hpp"

namespace trapft::nufft {

// The grids of the progression's lines from `shift` on (an integer below
// 2^53): rotated, spread and gathered into sub-grid 0's term grids of each
// row of the group, then transformed. Each sub-grid is cleared only as far as
// its samples reach (in file order they often keep to a part of the grid),
// so that no thread clears a whole grid before it starts; sub-grid 0's rest
// is cleared when it gathers the others, grids side by side, and only the
// others' reach is added to it: the rest would add zeros, which change
// nothing (a grid never holds −0).
void spread_and_transform(const nufft_plan& plan, instruction_set set, row_group rows, double first, double increment,
                          double shift, std::int32_t points, int terms, nufft_work& work, int threads);

}  // namespace trapft::nufft
