// What a plan's tables hold that depends on the kernel and the grid alone, kept for later plans of the same shape.
#pragma once

#include <cstdint>
#include <vector>

namespace trapft::nufft {

// kernel_pieces(width, upsampling, degree, lanes), made once per shape in
// the process and copied from then on. Thread-safe; throws std::bad_alloc.
std::vector<double> cached_kernel_pieces(int width, int upsampling, int degree, int lanes);

// kernel_correction(width, upsampling, half, correction), the tables of small
// blocks (half up to table_cache_half) made once per shape and copied from
// then on, larger ones made each time. Thread-safe; throws std::bad_alloc.
void cached_kernel_correction(int width, int upsampling, std::int32_t half, double* correction);

inline constexpr std::int32_t table_cache_half = 1 << 15;

}  // namespace trapft::nufft
