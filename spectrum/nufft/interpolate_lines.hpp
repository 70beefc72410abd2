// Interpolating a cluster's lines from the sums on its progression, compiled once for each instruction set.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "spectrum/nufft/interpolate.hpp"
#include "spectrum/nufft/kernel.hpp"
#include "spectrum/nufft/offsets.hpp"
#include "spectrum/phase_reduction.hpp"

namespace trapft::nufft {

// Lines [0, count) of a cluster, at the sorted frequencies f, from each row's
// sums on the `points` of the progression first + j·h (see interpolate.hpp),
// which reach a kernel's width past either end: `sums` holds row r's real
// parts at r × 2 × most_points, its imaginary parts most_points on. The sums
// are turned first, S_j by e^(2πi j h t_c), so that X(f) is
// e^(−2πi (f − first) t_c) Σ_j φ_j S_j: a line needs one turn of its own.
[[gnu::always_inline]] inline void interpolate_lines(const nufft_plan& plan, row_group rows, const double* f,
                                                     std::int32_t count, double first, std::int32_t points,
                                                     double* sums, const group_results& out) {
    const list_plan& lp = *plan.lists;
    const double h = lp.step;
    const int w = lp.width;
    const bool even = w % 2 == 0;
    const std::int32_t lead = kernel_lead(w);
    const unit_pair first_cycles = fraction_of_product(first, plan.centre);
    const unit_pair step_cycles = fraction_of_product(h, plan.centre);
    const std::size_t row_size = 2 * static_cast<std::size_t>(lp.most_points);
    for (std::int32_t j = 0; j < points; ++j) {
        const sine_cosine sc = sin_cos_cycles(phase_at({0.0, 0.0}, step_cycles, static_cast<double>(j)));
        for (std::int32_t r = 0; r < rows.count; ++r) {
            double* const re = sums + static_cast<std::size_t>(r) * row_size + j;
            double* const im = re + lp.most_points;
            const double a = *re * sc.cosine - *im * sc.sine;
            const double b = *im * sc.cosine + *re * sc.sine;
            *re = a;
            *im = b;
        }
    }
    double phi[kernel_max_lanes];
    for (std::int32_t m = 0; m < count; ++m) {
        // The line's cell and offset on the progression, from its exact offset.
        double cell = std::floor((f[m] - first) / h);
        double within = line_offset(f[m], static_cast<std::int32_t>(cell), first, h) / h;
        if (even) {
            while (within < 0.0) cell -= 1.0, within += 1.0;
            while (within >= 1.0) cell += 1.0, within -= 1.0;
        } else {
            while (within < -0.5) cell -= 1.0, within += 1.0;
            while (within > 0.5) cell += 1.0, within -= 1.0;
        }
        const double z = even ? 2.0 * within - 1.0 : 2.0 * within;
        // Every point's piece at once, a power of z at a time (in vector lanes).
        const double* const pieces = lp.kernel.data();
        const int lanes = lp.lanes;
        for (int i = 0; i < lanes; ++i) phi[i] = pieces[i];
        for (int p = 1; p <= lp.degree; ++p) {
            const double* const row = pieces + static_cast<std::size_t>(p * lanes);
            for (int i = 0; i < lanes; ++i) phi[i] = phi[i] * z + row[i];
        }
        // (Within the points by construction; held there whatever the rounding.)
        const std::int32_t start = std::clamp(static_cast<std::int32_t>(cell) - lead, 0, points - w);
        // e^(−2πi (f − first) t_c), each product reduced exactly.
        const unit_pair line = fraction_of_product(f[m], plan.centre);
        const sine_cosine turn =
            sin_cos_cycles(reduce_unit((line.hi - first_cycles.hi) + (line.lo - first_cycles.lo)));
        for (std::int32_t r = 0; r < rows.count; ++r) {
            const double* const re = sums + static_cast<std::size_t>(r) * row_size + start;
            const double* const im = re + lp.most_points;
            // Four partial sums, point i in sum i mod 4, added in a fixed order.
            double part_re[4] = {}, part_im[4] = {};
            for (int i = 0; i < w; ++i) {
                part_re[i & 3] += phi[i] * re[i];
                part_im[i & 3] += phi[i] * im[i];
            }
            const double sum_re = (part_re[0] + part_re[1]) + (part_re[2] + part_re[3]);
            const double sum_im = (part_im[0] + part_im[1]) + (part_im[2] + part_im[3]);
            out.real_of(r)[m] = sum_re * turn.cosine + sum_im * turn.sine;
            out.imaginary_of(r)[m] = sum_im * turn.cosine - sum_re * turn.sine;
        }
    }
}

}  // namespace trapft::nufft
