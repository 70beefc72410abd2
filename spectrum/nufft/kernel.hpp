// The fast evaluation's spreading kernel: "exponential of semicircle", its widths, polynomial pieces and transform.
#pragma once

#include <cstdint>
#include <vector>

namespace trapft {

// Upsamplings, as grid points per line of a block: 2, 1.6 and 4/3, that is
// a block's lines are 4, 5 or 6 eighths of its grid's points. Each has a
// kernel of its own (its β) with its own tables; index 0 is 2.
inline constexpr int kernel_upsamplings = 3;
inline constexpr int kernel_lines_eighths[kernel_upsamplings] = {4, 5, 6};

// Widest kernel, in grid points, and that width rounded up to a multiple of eight.
inline constexpr int kernel_max_width = 17;
inline constexpr int kernel_max_lanes = 24;

// Degree of the polynomial pieces for each width, printed by
// trapft_kernel_tables: the lowest whose error is within 1 % of the least
// that pieces of degree up to 18 reach, for every upsampling.
inline constexpr int kernel_degrees[kernel_max_width + 1] = {0, 0, 5, 5, 5, 6, 6, 7, 8, 9, 9, 10, 11, 11, 11, 12, 13, 13};

// φ(z) = exp(β(√(1 − z²) − 1)) on [−1, 1], in long double; β = 2.30 × width
// for upsampling 2, and less for less (kernel_beta).
long double kernel_beta(int width, int upsampling);
long double kernel_value(long double z, long double beta);

// Worst error of one sample of weight 1 for a kernel of `width` points
// (3 … kernel_max_width), over every offset from the grid and every mode of
// a block, |ξ| ≤ 1 / (2σ) cycles per grid point, with a margin: see
// tools/kernel_tables.cpp.
double kernel_error(int width, int upsampling);
// Degree of the polynomial pieces that evaluate a kernel of `width` points.
int kernel_degree(int width);

// A sample at grid position cell + offset touches the points
// cell − lead … cell − lead + width − 1; the offset lies in [0, 1] for an even
// width and in [−1/2, 1/2] for an odd one, and maps onto z in [−1, 1].
int kernel_lead(int width);

// Monomial coefficients in z of each point's piece, highest degree first:
// (degree + 1) rows of `lanes` (≥ width) entries, zero past the width.
std::vector<double> kernel_pieces(int width, int upsampling, int degree, int lanes);

// The highest mode of a block, 1 / (2σ) cycles per grid point.
long double kernel_highest_mode(int upsampling);

// The kernel's Fourier transform at ξ cycles per grid point, |ξ| ≤ 1 / (2σ):
// w ∫₀¹ φ(z) cos(π ξ w z) dz by Gauss–Legendre quadrature.
long double kernel_transform(int width, int upsampling, long double xi);

// correction[j] = 1 / (the kernel's transform) at mode j, j = 0 … half, of a
// block of 2·half lines on σ times as many points, from an interpolant in ξ²
// (the transform is entire).
void kernel_correction(int width, int upsampling, std::int32_t half, double* correction);

}  // namespace trapft

namespace trapft {

// How much a unit error on the grid can weigh in a result: the most the
// kernel's values at one offset add up to, times 1 / (its transform at the
// edge of the modes, |ξ| = 1 / (2σ)).
double kernel_gain(int width, int upsampling);

}  // namespace trapft
