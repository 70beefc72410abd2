// Measures the fast evaluation's kernels in long double: the worst error of one sample, and the gain.
#pragma once

namespace trapft {

// How finely kernel_worst_error searches: a mesh of offsets and modes, then
// a zoom around each of the largest local maxima on it.
struct kernel_search {
    int mesh = 129;       // points across the offsets and across the modes
    int candidates = 8;   // local maxima of the mesh refined
    int rounds = 12;      // zooms of each, by 4 each time
};

// Worst |spread and read back − 1| of one sample of weight 1 over every offset
// from the grid and every mode a block holds, |ξ| ≤ 1 / (2σ) cycles per grid
// point (its edge included), with the polynomial pieces of `degree` as the
// engine evaluates them, or the kernel itself when degree < 0.
long double kernel_worst_error(int width, int upsampling, int degree, const kernel_search& search = {});

// The most the kernel's values at one offset add up to, times 1 / (its
// transform at the edge of the modes): how much a unit error on the grid can
// weigh in a result.
double measure_kernel_gain(int width, int upsampling);

}  // namespace trapft
