// The fast evaluation's stages one at a time, for its unit test, fuzz target and benchmark only.
#include "nufft_hooks.hpp"

#include "spectrum/nufft/block.hpp"
#include "spectrum/nufft/evaluate.hpp"
#include "spectrum/nufft/grids.hpp"
#include "spectrum/nufft/heuristics.hpp"
#include "spectrum/nufft/prepare.hpp"
#include "spectrum/nufft/spread.hpp"
#include "spectrum/nufft/stages.hpp"
#include "spectrum/nufft/stencils.hpp"
#include "spectrum/nufft/transform.hpp"

namespace trapft {

using namespace nufft;

namespace {

instruction_set as_set(int set) { return static_cast<instruction_set>(set); }

}  // namespace

std::int32_t nufft_grid_points(const nufft_plan& plan, std::int32_t count) { return grid_points(plan, count); }

nufft_status nufft_prepare(sample_rows samples, double tolerance, std::int64_t lines, int upsampling,
                          nufft_plan_owner& plan) {
    return prepare_plan(samples, tolerance, lines, upsampling, 1, plan);
}

int nufft_kernel_width(double tolerance, int upsampling, bool& meets) {
    const kernel_choice k = choose_kernel(tolerance, upsampling);
    meets = k.meets;
    return k.width;
}

void nufft_rotate(const nufft_plan& plan, double first, double increment, std::int32_t points, int terms,
                  std::int32_t begin, std::int32_t end, nufft_work& work) {
    stages_for(plan.instruction_set)
        .rotate(plan, row_group{0, work.rows}, first, increment, centre_line(plan, points), points, terms, begin, end,
                work.scratch[0]);
}

void nufft_spread(const nufft_plan& plan, std::int32_t points, int terms, std::int32_t size, nufft_work& work) {
    double* grids[nufft_row_group * nufft_max_terms];
    double* errors[nufft_row_group];
    for (std::int32_t r = 0; r < work.rows; ++r) {
        for (int p = 0; p < terms; ++p) grids[r * terms + p] = work.grid(0, r, p);
        errors[r] = work.grid(0, r, nufft_max_terms);
    }
    const nufft_scratch& scratch = work.scratch[0];
    stages_for(plan.instruction_set)
        .spread[scratch.compensated](plan, spread_target{points, terms, work.rows, size, grids, errors}, scratch);
}

void nufft_transform(const nufft_plan& plan, std::int32_t points, double* grid) { transform_grid(plan, points, grid); }

void nufft_deconvolve(const nufft_plan& plan, int set, std::int32_t points, std::int32_t count, int terms,
                      const double* offsets, const double* frequencies, double first, double increment,
                      nufft_work& work, double* real, double* imaginary) {
    deconvolve(plan, as_set(set), row_group{0, 1}, points, count, terms, {frequencies, offsets, first, increment},
               work, group_results{real, imaginary, 0});
}

void nufft_term_by_differences(const nufft_plan& plan, int set, double first, double increment, std::int32_t count,
                               nufft_work& work, double* real, double* imaginary) {
    const row_group rows{0, 1};
    const std::int32_t points = grid_points(plan, count);
    spread_and_transform(plan, as_set(set), rows, first, increment, 0.0, points, 1, work, 1);
    correct_lines(plan, as_set(set), rows, points, 0, count, work);
    const difference_stencil stencil = make_stencil(plan, increment);
    const double* const g_re = corrected_lines(plan, work, 0);
    for (std::int32_t m = 0; m < count; ++m) {
        term_of_line(stencil, g_re, g_re + plan.block_lines, count, m, real[m], imaginary[m]);
        real[m] *= plan.scale[0];
        imaginary[m] *= plan.scale[0];
    }
}

double nufft_line_offsets(int set, const double* frequencies, std::int32_t lines, double first, double increment,
                          double* offsets) {
    return line_offsets(as_set(set), frequencies, lines, first, increment, offsets);
}

void nufft_progression(const nufft_plan& plan, int set, double first, double increment, std::int32_t count,
                       nufft_work& work, double* real, double* imaginary, int threads, std::size_t row_stride) {
    if (count <= 0) return;
    by_groups(plan, work, count, real, imaginary, row_stride, [&](row_group rows, const group_results& out) {
        progression(plan, as_set(set), rows, first, increment, count, work, out, threads);
    });
}

void nufft_block(const nufft_plan& plan, int set, const double* frequencies, std::int32_t count, nufft_work& work,
                 double* real, double* imaginary, int threads, std::size_t row_stride, bool margins) {
    by_groups(plan, work, count, real, imaginary, row_stride, [&](row_group rows, const group_results& out) {
        block(plan, as_set(set), rows, frequencies, count, work, out, threads, margins);
    });
}

}  // namespace trapft
