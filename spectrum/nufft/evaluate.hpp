// The stages that pick their instruction set's code: the lines' offsets, term 0's corrected lines and the deconvolution.
#pragma once

#include <cstdint>

#include "spectrum/instruction_set.hpp"
#include "spectrum/nufft/plan.hpp"

namespace trapft::nufft {

struct difference_stencil;

// Each line's exact offset from the progression first + m·increment into
// `offsets`, and the largest, or the first that is not finite (where the
// lines stop); the same bits with every instruction set.
double line_offsets(instruction_set set, const double* frequencies, std::int32_t lines, double first,
                    double increment, double* offsets);

// Term 0 of each row's lines [from, to) of a grid of `points`, divided by the
// kernel's transform, into corrected_lines.
void correct_lines(const nufft_plan& plan, instruction_set set, row_group rows, std::int32_t points,
                   std::int32_t from, std::int32_t to, nufft_work& work);

// A block's lines: their frequencies (null: every one finite, and no
// offsets) and their offsets (null: none) from the progression
// first + m·increment that the grids were made for.
struct progression_lines {
    const double* frequencies = nullptr;
    const double* offsets = nullptr;
    double first = 0.0;
    double increment = 0.0;
};

// The results of lines [from, to) of a block of `lines` (all of them when
// `to` is negative) transformed on `points`, with `terms` Taylor terms,
// skipping lines whose frequency is not finite; term 1 from `differences`
// where given. The same bits with every instruction set.
void deconvolve(const nufft_plan& plan, instruction_set set, row_group rows, std::int32_t points, std::int32_t lines,
                int terms, const progression_lines& at, nufft_work& work, const group_results& out,
                const difference_stencil* differences = nullptr, std::int32_t from = 0, std::int32_t to = -1);

}  // namespace trapft::nufft
