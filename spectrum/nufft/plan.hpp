// The fast evaluation's state: the plan of a run, the working storage of a block, and what its stages pass on.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "spectrum/nufft/nufft.hpp"
#include "spectrum/instruction_set.hpp"
#include "spectrum/parallel.hpp"
#include "trapft/samples.hpp"

namespace trapft {

namespace nufft {
struct list_plan;
}

// FFTW's plans and aligned arrays, owned without its header.
struct fftw_plan_release {
    void operator()(void* plan) const;
};
struct fftw_array_release {
    void operator()(double* data) const;
};
// Shared: the plans of small grids are kept for later runs (see make_plans).
using fftw_plan_owner = std::shared_ptr<void>;
using fftw_array = std::unique_ptr<double[], fftw_array_release>;

// Memory mapped for a work's grids, given back whole.
struct mapped_release {
    std::size_t bytes = 0;
    void operator()(double* data) const;
};
using mapped_array = std::unique_ptr<double[], mapped_release>;

// Most Taylor terms in a block's offsets from its progression (see nufft_evaluate).
inline constexpr int nufft_max_terms = 3;
// Samples handled at once between placing and spreading (small enough to stay in cache).
inline constexpr std::int32_t nufft_chunk = 512;
// Most rows spread in one pass over the samples. Each holds its own grids,
// and past four, fresh grids cost more than the shared work saves (measured
// on 8 rows of 10^6 samples).
inline constexpr std::int32_t nufft_row_group = 4;

// What the engine keeps of one run's samples: built once, then only read by
// every thread. The times, values and weights are the caller's, not a copy;
// the weights c_k = w_k x_k · 2^-scale are made as they are needed, w_k the
// trapezoid's or the caller's. Each row of
// values has its own scale and A; everything else is the times' and the
// tolerance's, shared by the rows.
struct nufft_plan {
    std::int32_t count = 0;          // samples
    std::int32_t rows = 1;
    const double* times = nullptr;   // t_k, borrowed
    const double* values = nullptr; // x_k of each row, count each, borrowed
    const double* weights = nullptr; // the caller's w_k, borrowed; null: the trapezoid's
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
    trapft::instruction_set instruction_set = trapft::instruction_set::portable;  // the vector code run
    std::shared_ptr<const nufft::list_plan> lists;  // lists' interpolation (see interpolate.hpp); null: none
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
struct nufft_work {
    int threads = 1;
    std::unique_ptr<thread_team> team;  // threads − 1 helpers, kept for every block (null for one thread)
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

// The rows that one pass over the samples spreads together: the plan's rows
// [first, first + count), count ≤ the work's rows.
struct row_group {
    std::int32_t first = 0;
    std::int32_t count = 1;
};

// Where a group's results go: row r of the group at real/imaginary + r × stride.
struct group_results {
    double* real = nullptr;
    double* imaginary = nullptr;
    std::size_t stride = 0;

    group_results from(std::int32_t line) const { return {real + line, imaginary + line, stride}; }
    double* real_of(std::int32_t r) const { return real + static_cast<std::size_t>(r) * stride; }
    double* imaginary_of(std::int32_t r) const { return imaginary + static_cast<std::size_t>(r) * stride; }
};


// A result scaled back by 2^scale. The sums are at most A ≤ the largest
// double in size, so one that the tolerance's error pushes past it is brought
// back to the largest double, which is nearer the true sum, not to infinity.
inline double unscale(double value, double scale) {
    constexpr double largest = std::numeric_limits<double>::max();
    return std::clamp(value * scale, -largest, largest);
}

}  // namespace trapft
