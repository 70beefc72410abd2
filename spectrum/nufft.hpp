// The fast evaluation (--tolerance): trapezoid sums at evenly stepped frequencies by a type-1 non-uniform FFT.
#pragma once

#include <cstdint>

#include "input/sample_set.hpp"

namespace trapft {

// What the fast evaluation keeps of one run's samples: built once, then read
// (never written) by every thread. Fields are the implementation's own.
struct nufft_setup;

// One thread's working storage for nufft_block, made by prepare_nufft_work.
struct nufft_work;

// Reserves one thread's working storage for `setup`; false when memory runs out.
bool prepare_nufft_work(const nufft_setup& setup, nufft_work& work);

// Prepares the fast evaluation of `samples` to within `tolerance` × A, where
// A = Σ |w_k · x_k| with the trapezoid weights w_k of the samples in file
// order, for a sweep of `lines` lines in all. Returns false, and prepares
// nothing, when a time or value is infinite or NaN, or A is not finite: the
// caller then uses the exact evaluation.
bool prepare_nufft(const sample_set& samples, double tolerance, std::int64_t lines, nufft_setup& setup);

// The most lines one nufft_block call takes for this setup (a power of two).
std::int32_t nufft_block_lines(const nufft_setup& setup);

// The sums at the `count` frequencies f_m = first + m × increment (taken in
// exact arithmetic), 1 ≤ count ≤ nufft_block_lines: real[m] = Σ c_k cos(2π f_m t_k)
// and imaginary[m] = −Σ c_k sin(2π f_m t_k), c_k = w_k · x_k, each within
// tolerance × A of those sums taken with exact phases and exact arithmetic.
// Short blocks may be summed directly; `increment` is unused when count is 1.
void nufft_block(const nufft_setup& setup, double first, double increment, std::int32_t count,
                 nufft_work& work, double* real, double* imaginary);

}  // namespace trapft
