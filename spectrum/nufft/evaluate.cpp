// The stages that pick their instruction set's code: the lines' offsets, term 0's corrected lines and the deconvolution.
#include "spectrum/nufft/evaluate.hpp"

#include "spectrum/nufft/deconvolve.hpp"
#include "spectrum/nufft/heuristics.hpp"
#include "spectrum/nufft/stages.hpp"

namespace trapft::nufft {

double line_offsets(instruction_set set, const double* frequencies, std::int32_t lines, double first,
                    double increment, double* offsets) {
    return stages_for(set).offsets(frequencies, lines, first, increment, offsets);
}

void correct_lines(const nufft_plan& plan, instruction_set set, row_group rows, std::int32_t points,
                   std::int32_t from, std::int32_t to, nufft_work& work) {
    stages_for(set).correct(plan, rows, points, from, to, work);
}

void deconvolve(const nufft_plan& plan, instruction_set set, row_group rows, std::int32_t points, std::int32_t lines,
                int terms, const progression_lines& at, nufft_work& work, const group_results& out,
                const difference_stencil* differences, std::int32_t from, std::int32_t to) {
    const bool offset = at.offsets != nullptr;
    const deconvolution d{plan,
                          rows,
                          points,
                          centre_line(plan, points),
                          plan.block_points / points,
                          terms,
                          at.offsets,
                          at.frequencies,
                          offset ? fraction_of_product(at.first, plan.centre) : unit_pair{0.0, 0.0},
                          offset ? fraction_of_product(at.increment, plan.centre) : unit_pair{0.0, 0.0},
                          work,
                          out,
                          lines,
                          differences};
    stages_for(set).deconvolve(d, from, to < 0 ? lines : to);
}

}  // namespace trapft::nufft
