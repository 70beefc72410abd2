// Working storage: the grids, mapped fresh (on huge pages where the system allows), and each sub-grid's scratch.
#pragma once

#include "spectrum/nufft/plan.hpp"

namespace trapft::nufft {

// Sizes the work for blocks of `plan` shared by up to `threads` threads;
// false when the grids cannot be mapped. Throws std::bad_alloc.
bool prepare_work(const nufft_plan& plan, int threads, nufft_work& work);

}  // namespace trapft::nufft
