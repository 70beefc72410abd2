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

// What the engine keeps of one run's samples: built once, then only read by
// every thread.
struct fast_plan {
    std::int32_t count = 0;        // samples
    std::vector<double> times;     // t_k
    std::vector<double> weights;   // c_k = w_k x_k, times 2^-scale
    int scale = 0;                 // results are multiplied by 2^scale
    double total = 0.0;            // A = Σ |c_k| (unscaled)
    std::int32_t width = 0;        // kernel support in grid points
    std::int32_t degree = 0;       // of the kernel's polynomial pieces
    std::int32_t lanes = 0;        // width rounded up to a multiple of 8, for vector code
    std::vector<double> kernel;    // piece coefficients, highest degree first: (degree + 1) × lanes
    std::int32_t block_lines = 0;  // most lines per block, a power of two
    std::vector<double> correction;            // 1 / kernel transform at |mode| 0 … block_lines / 2
    std::vector<std::int32_t> plan_points;     // grid sizes planned, ascending; the last is 2 × block_lines
    std::vector<fftw_plan_owner> plans;        // in-place forward transforms of those sizes
    std::int32_t instruction_set = 0;  // best vector code: 0 SSE2, 1 AVX2 and FMA, 2 AVX-512
};

// Samples handled at once between placing and spreading (small enough to stay in cache).
inline constexpr std::int32_t nufft_chunk = 512;

// One thread's working storage.
struct fast_work {
    fftw_array grid;                     // interleaved complex grid of 2 × block_lines points, plus padding
    std::vector<double> rotated;         // per chunk sample: c_k e^(−2πi phase), interleaved
    std::vector<double> argument;        // per chunk sample: position within its cell, on [−1, 1]
    std::vector<std::int32_t> first_point;  // per chunk sample: first grid point it touches
};

// The sums at the `count` frequencies f_m = first + m × increment (taken in
// exact arithmetic), 1 ≤ count ≤ block_lines, with the vector code
// `instruction_set` (at most plan.instruction_set): as fast_block.
void nufft_progression(const fast_plan& plan, int instruction_set, double first, double increment, std::int32_t count,
                       fast_work& work, double* real, double* imaginary);

// The stages of a block, for the benchmark. A block of `count` lines uses
// nufft_grid_points(plan, count) grid points.
std::int32_t nufft_grid_points(const fast_plan& plan, std::int32_t count);
// Rotates samples [begin, end) (end − begin ≤ nufft_chunk) to the block's centre
// frequency and places them on a grid of `points`.
void nufft_rotate(const fast_plan& plan, double first, double increment, std::int32_t points,
                  std::int32_t begin, std::int32_t end, fast_work& work);
// Adds the `size` samples placed by nufft_rotate, spread by the kernel, to the grid.
void nufft_spread(const fast_plan& plan, std::int32_t points, std::int32_t size, fast_work& work);
// Transforms the grid in place.
void nufft_transform(const fast_plan& plan, std::int32_t points, fast_work& work);
// Divides the transform by the kernel's and writes the `count` results.
void nufft_deconvolve(const fast_plan& plan, std::int32_t points, std::int32_t count,
                      const fast_work& work, double* real, double* imaginary);

}  // namespace trapft
