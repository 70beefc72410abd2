// The fast evaluation's stages one at a time, for its unit test, fuzz target and benchmark only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "spectrum/nufft/plan.hpp"

namespace trapft {

// The sums at the `count` frequencies f_m = first + m × increment (taken in
// exact arithmetic), 1 ≤ count ≤ block_lines, with the vector code of
// instruction set `set` (one the processor runs) and `threads` threads: as nufft_evaluate.
void nufft_progression(const nufft_plan& plan, int set, double first, double increment, std::int32_t count,
                       nufft_work& work, double* real, double* imaginary, int threads = 1, std::size_t row_stride = 0);

// As nufft_evaluate, with the vector code `set`; with `margins`, as a list's block.
void nufft_block(const nufft_plan& plan, int set, const double* frequencies, std::int32_t count, nufft_work& work,
                 double* real, double* imaginary, int threads, std::size_t row_stride = 0, bool margins = false);

// The grid size for a block of `count` lines.
std::int32_t nufft_grid_points(const nufft_plan& plan, std::int32_t count);

// As prepare_nufft, with the kernel of `upsampling` (an index of
// kernel_lines_eighths) where it meets the tolerance, or, when negative or
// not, the one the costs choose.
nufft_status nufft_prepare(sample_rows samples, double tolerance, std::int64_t lines, int upsampling,
                          nufft_plan_owner& plan);

// The kernel's width that a plan of `tolerance` takes with `upsampling`, and
// whether that kernel meets the tolerance.
int nufft_kernel_width(double tolerance, int upsampling, bool& meets);

// The widest instruction set the plan runs, as an int (0 portable, 1 AVX2, 2 AVX-512).
inline int nufft_widest_set(const nufft_plan& plan) { return static_cast<int>(plan.instruction_set); }

// The stages of a block, for the benchmark, on the work's first group of
// rows: rotation and placing of samples [begin, end) (end − begin ≤
// nufft_chunk) for the progression's centre on a grid of `points`, with
// `terms` Taylor terms, into sub-grid 0's scratch; spreading them onto its
// grids; transforming a grid; dividing by the kernel's transform.
void nufft_rotate(const nufft_plan& plan, double first, double increment, std::int32_t points, int terms,
                  std::int32_t begin, std::int32_t end, nufft_work& work);
void nufft_spread(const nufft_plan& plan, std::int32_t points, int terms, std::int32_t size, nufft_work& work);
void nufft_transform(const nufft_plan& plan, std::int32_t points, double* grid);
// Deconvolves sub-grid 0's grids of row 0 (`terms` Taylor terms) into `count`
// results, with the lines' `offsets` (null: none) from first + m·increment and
// skipping the lines whose `frequencies` entry is not finite (null: none is
// skipped, and no offsets), with the vector code `set`: the same bits with every one.
void nufft_deconvolve(const nufft_plan& plan, int set, std::int32_t points, std::int32_t count, int terms,
                      const double* offsets, const double* frequencies, double first, double increment,
                      nufft_work& work, double* real, double* imaginary);
// Term 1 (weights c_k τ_k) of the progression's `count` lines first + m·increment,
// 5 ≤ count ≤ block_lines, from differences of term 0's lines alone, for row 0,
// scaled back: as a block takes it when its lines lie close together.
void nufft_term_by_differences(const nufft_plan& plan, int set, double first, double increment, std::int32_t count,
                               nufft_work& work, double* real, double* imaginary);
// Each line's exact offset from the progression first + m·increment into
// `offsets`, and the largest, or the first that is not finite; the same bits
// with every instruction set.
double nufft_line_offsets(int set, const double* frequencies, std::int32_t lines, double first, double increment,
                          double* offsets);

}  // namespace trapft
