// The fast evaluation's engine, for its own sources, unit test and benchmark only: the plan, the working storage and the stages of a block.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "spectrum/fast_evaluation.hpp"
#include "spectrum/sample_view.hpp"

namespace trapft {

// FFTW's plans and aligned arrays, owned without its header.
struct fftw_plan_release {
    void operator()(void* plan) const;
};
struct fftw_array_release {
    void operator()(double* data) const;
};
using fftw_plan_owner = std::unique_ptr<void, fftw_plan_release>;
using fftw_array = std::unique_ptr<double[], fftw_array_release>;

// Memory mapped for a work's grids, given back whole.
struct mapped_release {
    std::size_t bytes = 0;
    void operator()(double* data) const;
};
using mapped_array = std::unique_ptr<double[], mapped_release>;

// Most Taylor terms in a block's offsets from its progression (see fast_block).
inline constexpr int nufft_max_terms = 3;
// Samples handled at once between placing and spreading (small enough to stay in cache).
inline constexpr std::int32_t nufft_chunk = 512;
// Most rows spread in one pass over the samples. Each holds its own grids,
// and past four, fresh grids cost more than the shared work saves (measured
// on 8 rows of 10^6 samples).
inline constexpr std::int32_t nufft_row_group = 4;

// What the engine keeps of one run's samples: built once, then only read by
// every thread. The times and values are the caller's, not a copy; the
// weights c_k = w_k x_k · 2^-scale are made as they are needed. Each row of
// values has its own scale and A; everything else is the times' and the
// tolerance's, shared by the rows.
struct fast_plan {
    std::int32_t count = 0;          // samples
    std::int32_t rows = 1;
    const double* times = nullptr;   // t_k, borrowed
    const double* values = nullptr; // x_k of each row, count each, borrowed
    std::vector<double> scale;       // per row: 2^scale, by which its results are multiplied
    std::vector<double> shrink;      // per row: two factors whose product is 2^-scale, applied in turn
    std::vector<double> total;       // per row: A = Σ |c_k| (unscaled)
    double tolerance = 0.0;
    double centre = 0.0;             // t_c, midway between the extreme times
    double radius = 0.0;             // R ≥ max |t_k − t_c| (infinite when that overflows)
    std::int32_t width = 0;          // kernel support in grid points
    std::int32_t degree = 0;         // of the kernel's polynomial pieces
    std::int32_t lanes = 0;          // width rounded up to a multiple of 8, for vector code
    std::vector<double> kernel;      // piece coefficients, highest degree first: (degree + 1) × lanes
    double gain = 0.0;               // bound on a unit grid error's effect on a result: max Σ φ × max 1/φ̂
    double rounding = 0.0;           // the tolerance's share for the grid's accumulation, relative to A
    double truncation = 0.0;         // and for the Taylor terms' truncation
    int upsampling = 0;              // the kernel's: a grid holds kernel_lines_eighths of its points as lines
    std::int32_t block_points = 0;   // a full block's grid, a power of two
    std::int32_t block_lines = 0;    // most lines per block: those block_points hold
    std::int32_t subgrids = 1;       // grids a full block's samples are split over (see nufft_subgrids)
    std::vector<double> correction;  // 1 / kernel transform at |mode| 0 … block_lines / 2
    std::vector<std::int32_t> plan_points;  // grid sizes planned: every power of two up to block_points
    std::vector<fftw_plan_owner> plans;     // in-place forward transforms of those sizes
    int instruction_set = 0;         // best vector code: 0 SSE2, 1 AVX2 and FMA, 2 AVX-512
};

// One sub-grid's scratch for a chunk of samples.
struct nufft_scratch {
    std::vector<double> rotated;           // per row and term: chunk × interleaved a_k τ_k^p
    std::vector<double> weights;           // per sample: c_k of the row at hand
    std::vector<double> cosine;            // per sample: its phase at the progression's centre
    std::vector<double> sine;
    std::vector<double> tau;               // per sample: τ_k
    std::vector<double> argument;          // per sample: position within its cell, on [−1, 1]
    std::vector<std::int32_t> first_point; // per sample: first grid point it touches
    std::vector<std::int32_t> per_point;   // samples so far whose first point is each grid point
    bool compensated = false;              // the term-0 grid's rounding errors kept in its own grid
    std::size_t cleared_from = 0;          // the doubles of its grids cleared so far: [from, to)
    std::size_t cleared_to = 0;
};

// Working storage for one block at a time, for a group of up to `rows` rows.
struct fast_work {
    int threads = 1;
    std::int32_t rows = 1;          // rows spread together: min(plan.rows, nufft_row_group)
    std::size_t grid_doubles = 0;   // one grid: 2 × block_points, staggered for several rows
    mapped_array grids;             // per sub-grid s and row r: nufft_max_terms term grids, then one error grid
    std::vector<nufft_scratch> scratch;  // per sub-grid
    // Written before they are read, so never cleared: what a run does not
    // use is never touched. Per line: its frequency minus the progression's;
    // per row and line: the direct sums' rounding errors, or term 0's lines
    // for the differences that give term 1, real then imaginary.
    std::unique_ptr<double[]> offsets;
    std::unique_ptr<double[]> compensation;
    double* grid(int subgrid, int row, int term) {
        return grids.get() +
               static_cast<std::size_t>((subgrid * rows + row) * (nufft_max_terms + 1) + term) * grid_doubles;
    }
};

// The sums at the `count` frequencies f_m = first + m × increment (taken in
// exact arithmetic), 1 ≤ count ≤ block_lines, with the vector code
// `instruction_set` (at most plan.instruction_set) and `threads` threads: as fast_block.
void nufft_progression(const fast_plan& plan, int instruction_set, double first, double increment, std::int32_t count,
                       fast_work& work, double* real, double* imaginary, int threads = 1, std::size_t row_stride = 0);

// As fast_block, with the vector code `instruction_set`.
void nufft_block(const fast_plan& plan, int instruction_set, const double* frequencies, std::int32_t count,
                 fast_work& work, double* real, double* imaginary, int threads, std::size_t row_stride = 0);

// The grid size for a block of `count` lines.
std::int32_t nufft_grid_points(const fast_plan& plan, std::int32_t count);

// As prepare_fast, with the kernel of `upsampling` (an index of
// kernel_lines_eighths) where it meets the tolerance, or, when negative or
// not, the one the costs choose.
fast_status nufft_prepare(sample_rows samples, double tolerance, std::int64_t lines, int upsampling,
                          fast_plan_owner& plan);

// The kernel's width that a plan of `tolerance` takes with `upsampling`, and
// whether that kernel meets the tolerance.
int nufft_kernel_width(double tolerance, int upsampling, bool& meets);

// The stages of a block, for the benchmark, on the work's first group of
// rows: rotation and placing of samples [begin, end) (end − begin ≤
// nufft_chunk) for the progression's centre on a grid of `points`, with
// `terms` Taylor terms, into sub-grid 0's scratch; spreading them onto its
// grids; transforming a grid; dividing by the kernel's transform.
void nufft_rotate(const fast_plan& plan, double first, double increment, std::int32_t points, int terms,
                  std::int32_t begin, std::int32_t end, fast_work& work);
void nufft_spread(const fast_plan& plan, std::int32_t points, int terms, std::int32_t size, fast_work& work);
void nufft_transform(const fast_plan& plan, std::int32_t points, double* grid);
// Deconvolves sub-grid 0's grids of row 0 (`terms` Taylor terms) into `count`
// results, with the lines' `offsets` (null: none) and skipping the lines whose
// `frequencies` entry is not finite (null: none is skipped), with the vector
// code `instruction_set`: the same bits with every one.
void nufft_deconvolve(const fast_plan& plan, int instruction_set, std::int32_t points, std::int32_t count, int terms,
                      const double* offsets, const double* frequencies, fast_work& work, double* real,
                      double* imaginary);
// Term 1 (weights c_k τ_k) of the progression's `count` lines first + m·increment,
// 5 ≤ count ≤ block_lines, from differences of term 0's lines alone, for row 0,
// scaled back: as a block takes it when its lines lie close together.
void nufft_term_by_differences(const fast_plan& plan, int instruction_set, double first, double increment,
                               std::int32_t count, fast_work& work, double* real, double* imaginary);
// Each line's exact offset from the progression first + m·increment into
// `offsets`, and the largest, or the first that is not finite; the same bits
// with every instruction set.
double nufft_line_offsets(int instruction_set, const double* frequencies, std::int32_t lines, double first,
                          double increment, double* offsets);

}  // namespace trapft
