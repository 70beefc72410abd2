// The stages with code of their own for each instruction set, one table per set, all giving the same bits.
#pragma once

#include <cstdint>

#include "spectrum/instruction_set.hpp"
#include "spectrum/nufft/plan.hpp"

namespace trapft::nufft {

struct spread_target;
struct deconvolution;

// Each entry does what its portable form does (see measure.hpp, spread.hpp,
// offsets.hpp, deconvolve.hpp and interpolate_lines.hpp), with the same operations lane by lane, so
// that every table gives the same bits; a wider set only runs faster.
struct nufft_stages {
    // The times' extremes and each row's A and scale; false when a number is not finite.
    bool (*measure)(sample_rows samples, nufft_plan& plan);
    // Samples [begin, end)'s phases, places and rotated weights, into `scratch`.
    void (*rotate)(const nufft_plan& plan, row_group rows, double first, double increment, double steps,
                   std::int32_t points, int terms, std::int32_t begin, std::int32_t end, nufft_scratch& scratch);
    // The placed samples onto the grids: [0] plainly, [1] with term 0 compensated.
    void (*spread[2])(const nufft_plan& plan, const spread_target& to, const nufft_scratch& scratch);
    // Each line's offset from a progression, and the largest (or the first that is not finite).
    double (*offsets)(const double* frequencies, std::int32_t lines, double first, double increment,
                      double* offsets);
    // Term 0's lines [from, to) divided by the kernel's transform, for the stencils.
    void (*correct)(const nufft_plan& plan, row_group rows, std::int32_t points, std::int32_t from, std::int32_t to,
                    nufft_work& work);
    // Lines [from, to)'s results.
    void (*deconvolve)(const deconvolution& d, std::int32_t from, std::int32_t to);
    // A cluster's lines from the sums on its progression (interpolate_lines.hpp).
    void (*interpolate)(const nufft_plan& plan, row_group rows, const double* f, std::int32_t count, double first,
                        std::int32_t points, double* sums, const group_results& out);
};

// The table of `set`, which this processor must run.
const nufft_stages& stages_for(instruction_set set);

}  // namespace trapft::nufft
