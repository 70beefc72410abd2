// The fast evaluation (--tolerance): trapezoid sums at evenly stepped frequencies by a type-1 non-uniform FFT.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "spectrum/sample_view.hpp"

namespace trapft {

// Owners of FFTW's plans and arrays.
// Whether this build has the fast evaluation: it needs FFTW3. Without it,
// prepare_nufft always returns false.
bool nufft_available();

// FFTW's plans and aligned arrays, owned without its header.
struct fftw_plan_release {
    void operator()(void* plan) const;
};
struct fftw_array_release {
    void operator()(double* data) const;
};
using fftw_plan_owner = std::unique_ptr<void, fftw_plan_release>;
using fftw_array = std::unique_ptr<double[], fftw_array_release>;

// What the fast evaluation keeps of one run's samples: built once, then read
// (never written) by every thread. Fields are the implementation's own.
struct nufft_setup {
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
    std::int32_t instruction_set = 0;  // vector code used: 0 SSE2, 1 AVX2 and FMA, 2 AVX-512 (never above the CPU's)
};

// Samples handled at once between placing and spreading (small enough to stay in cache).
inline constexpr std::int32_t nufft_chunk = 512;

// One thread's working storage for nufft_block, made by prepare_nufft_work.
struct nufft_work {
    fftw_array grid;                     // interleaved complex grid of 2 × block_lines points, plus padding
    std::vector<double> rotated;         // per chunk sample: c_k e^(−2πi phase), interleaved
    std::vector<double> argument;        // per chunk sample: position within its cell, on [−1, 1]
    std::vector<std::int32_t> first_point;  // per chunk sample: first grid point it touches
};

// Reserves one thread's working storage for `setup`; false when memory runs out.
bool prepare_nufft_work(const nufft_setup& setup, nufft_work& work);

// Prepares the fast evaluation of `samples` to within `tolerance` × A, where
// A = Σ |w_k · x_k| with the trapezoid weights w_k of the samples in file
// order, for a sweep of `lines` lines in all. Returns false, and prepares
// nothing, when a time or value is infinite or NaN, or A is not finite: the
// caller then uses the exact evaluation. Throws std::bad_alloc when memory
// runs out; that happens here, before any line, never while evaluating.
bool prepare_nufft(sample_view samples, double tolerance, std::int64_t lines, nufft_setup& setup);

// The most lines one nufft_block call takes for this setup (a power of two).
std::int32_t nufft_block_lines(const nufft_setup& setup);

// The sums at the `count` frequencies f_m = first + m × increment (taken in
// exact arithmetic), 1 ≤ count ≤ nufft_block_lines: real[m] = Σ c_k cos(2π f_m t_k)
// and imaginary[m] = −Σ c_k sin(2π f_m t_k), c_k = w_k · x_k, each within
// tolerance × A of those sums taken with exact phases and exact arithmetic.
// Short blocks may be summed directly; `increment` is unused when count is 1.
// A longer count is taken a block at a time; a first or increment that is not
// finite gives NaN lines.
void nufft_block(const nufft_setup& setup, double first, double increment, std::int32_t count,
                 nufft_work& work, double* real, double* imaginary);

// The stages of nufft_block, exposed for the benchmark. A block of `count`
// lines uses nufft_grid_points(setup, count) grid points.
std::int32_t nufft_grid_points(const nufft_setup& setup, std::int32_t count);
// Rotates samples [begin, end) (end − begin ≤ nufft_chunk) to the block's centre
// frequency and places them on a grid of `points`.
void nufft_rotate(const nufft_setup& setup, double first, double increment, std::int32_t points,
                  std::int32_t begin, std::int32_t end, nufft_work& work);
// Adds the `size` samples placed by nufft_rotate, spread by the kernel, to the grid.
void nufft_spread(const nufft_setup& setup, std::int32_t points, std::int32_t size, nufft_work& work);
// Transforms the grid in place.
void nufft_transform(const nufft_setup& setup, std::int32_t points, nufft_work& work);
// Divides the transform by the kernel's and writes the `count` results.
void nufft_deconvolve(const nufft_setup& setup, std::int32_t points, std::int32_t count,
                      const nufft_work& work, double* real, double* imaginary);

}  // namespace trapft
