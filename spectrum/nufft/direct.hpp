// Direct sums: each line term by term over the samples, for blocks too short for a pass, and rows whose weights are all zero.
#pragma once

#include <cstdint>

#include "spectrum/nufft/plan.hpp"

namespace trapft::nufft {

// Every result of a row whose weights are all zero is exactly zero, signed
// as the exact evaluation signs it; true when every row of the group is so.
bool zero_rows(const nufft_plan& plan, row_group rows, std::int32_t count, const group_results& out);

// Σ c_k e^(−2πi f_m t_k) term by term at each finite frequency, each phase
// reduced exactly once for every row, in compensated sums.
void direct_sums(const nufft_plan& plan, row_group rows, const double* frequencies, std::int32_t count,
                 nufft_work& work, const group_results& out);

}  // namespace trapft::nufft
