// A block's strategy: direct sums, one pass with Taylor terms or differences, or a pass per exact run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "spectrum/instruction_set.hpp"
#include "spectrum/nufft/direct.hpp"
#include "spectrum/nufft/plan.hpp"

namespace trapft::nufft {

// The sums at the `count` frequencies first + m·increment (taken in exact
// arithmetic) for one group of rows, a block at a time where they are more
// than a block holds.
void progression(const nufft_plan& plan, instruction_set set, row_group rows, double first, double increment,
                 std::int32_t count, nufft_work& work, const group_results& out, int threads);

// A block's lines for one group of rows: as nufft_evaluate. With `margins`
// (a list's block), term 1 may come from the wide stencil where the grid has
// room for the lines it reads past the ends.
void block(const nufft_plan& plan, instruction_set set, row_group rows, const double* frequencies,
           std::int32_t count, nufft_work& work, group_results out, int threads, bool margins = false);

// Runs `evaluate(rows, results)` for each group of the plan's rows that the
// work holds, then zeroes the rows whose weights are all zero.
template <typename F>
void by_groups(const nufft_plan& plan, const nufft_work& work, std::int32_t count, double* real, double* imaginary,
               std::size_t row_stride, F&& evaluate) {
    for (std::int32_t first = 0; first < plan.rows; first += work.rows) {
        const row_group rows{first, std::min(work.rows, plan.rows - first)};
        const std::size_t at = static_cast<std::size_t>(first) * row_stride;
        const group_results out{real + at, imaginary + at, row_stride};
        if (zero_rows(plan, rows, count, out)) continue;
        evaluate(rows, out);
        zero_rows(plan, rows, count, out);
    }
}

}  // namespace trapft::nufft
