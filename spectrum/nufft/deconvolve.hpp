// Deconvolution: each line's modes divided by the kernel's transform, its offset's Taylor terms summed and its phase turned.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "spectrum/nufft/heuristics.hpp"
#include "spectrum/nufft/plan.hpp"
#include "spectrum/nufft/stencils.hpp"
#include "spectrum/nufft/vectors.hpp"
#include "spectrum/phase_reduction.hpp"

namespace trapft::nufft {

// The correction of mode j on a grid `stride` times coarser than the table's.
inline double correction_at(const nufft_plan& plan, std::int32_t j, std::int32_t stride) {
    return plan.correction[static_cast<std::size_t>((j < 0 ? -j : j) * stride)];
}

// The same for modes j … j + lanes − 1: loaded whole, or reversed below mode
// 0, where the modes are the table's own, else entry by entry.
template <typename vector>
[[gnu::always_inline]] inline void correction_of(const nufft_plan& plan, std::int32_t j, std::int32_t stride,
                                                 vector& factor) {
    constexpr std::int32_t size_of = static_cast<std::int32_t>(sizeof(vector) / sizeof(double));
    const double* const table = plan.correction.data();
    if (stride == 1 && j >= 0) {
        load(factor, table + j);
    } else if (stride == 1 && j + size_of <= 1) {
        vector reversed;
        load(reversed, table + (-j - size_of + 1));
        for (std::int32_t i = 0; i < size_of; ++i) factor[i] = reversed[size_of - 1 - i];
    } else {
        for (std::int32_t i = 0; i < size_of; ++i) factor[i] = correction_at(plan, j + i, stride);
    }
}


// Term 0 of each row's lines [from, to) of a grid of `points`, divided by the
// kernel's transform, into corrected_lines; a vector of lines at a time where
// they lie side by side on the grid. The same bits with every instruction set.
template <typename vector>
[[gnu::always_inline]] inline void correct_vectors(const nufft_plan& plan, row_group rows, std::int32_t points,
                                                   std::int32_t from, std::int32_t to, nufft_work& work) {
    constexpr std::int32_t size_of = static_cast<std::int32_t>(sizeof(vector) / sizeof(double));
    const std::int32_t centre = centre_line(plan, points);
    const std::int32_t stride = plan.block_points / points;
    const std::int32_t mask = points - 1;
    for (std::int32_t r = 0; r < rows.count; ++r) {
        double* const g_re = corrected_lines(plan, work, r);
        double* const g_im = g_re + plan.block_lines;
        const double* const grid = work.grid(0, r, 0);
        auto corrected = [&](std::int32_t line) {
            const std::int32_t j = line - centre;
            const std::size_t at = 2 * static_cast<std::size_t>(j & mask);
            const double factor = correction_at(plan, j, stride);
            g_re[line] = grid[at] * factor;
            g_im[line] = grid[at + 1] * factor;
        };
        std::int32_t m = from;
        for (; m + size_of <= to; m += size_of) {
            const std::int32_t j = m - centre;
            if (j < 0 && j + size_of > 0) {
                for (std::int32_t i = 0; i < size_of; ++i) corrected(m + i);
                continue;
            }
            vector re, im, factor;
            split_pairs(grid + 2 * static_cast<std::size_t>(j & mask), re, im);
            correction_of(plan, j, stride, factor);
            store(g_re + m, re * factor);
            store(g_im + m, im * factor);
        }
        for (; m < to; ++m) corrected(m);
    }
}



// Where lines' results are read from and written to: lines of a progression
// transformed on `points`, with offsets (per line) and `terms` Taylor terms,
// or without (offsets null); lines whose `frequencies` entry is not finite are
// skipped (frequencies may be null: every line, and no offsets).
struct deconvolution {
    const nufft_plan& plan;
    row_group rows;
    std::int32_t points;
    std::int32_t centre;  // the progression's centre line, mode 0: centre_line
    std::int32_t stride;  // between the correction table's modes: block_points / points
    int terms;
    const double* offsets;
    const double* frequencies;
    unit_pair first_cycles;  // first·t_c and increment·t_c modulo 1, of the progression
    unit_pair step_cycles;   // the offsets are taken from
    nufft_work& work;
    const group_results& out;
    std::int32_t lines;
    // Term 0 from corrected_lines and term 1 from its differences, or null:
    // every term from its grid.
    const difference_stencil* differences;
};

// Term 0's corrected lines before line 0: the wide stencil's reach, else none.
inline std::int32_t margin_of(const deconvolution& d) { return d.differences != nullptr ? d.differences->margin : 0; }

// The phase below 2^-10 cycles of e^(−2πi δ t_c), by short series (truncated
// below 2^-60), for lines whose offset is not zero.
template <typename number>
[[gnu::always_inline]] inline void short_phase(const number& cycles, number& sine, number& cosine) {
    const number angle = two_pi * cycles;
    const number a2 = angle * angle;
    sine = angle + angle * a2 * (-1.0 / 6 + a2 * (1.0 / 120 + a2 * (-1.0 / 5040)));
    cosine = 1.0 + a2 * (-0.5 + a2 * (1.0 / 24 + a2 * (-1.0 / 720 + a2 * (1.0 / 40320))));
}

// e^(−2πi δ t_c) for line m's offset δ. A phase of 2^-10 cycles or more is
// f_m·t_c − (first + m·increment)·t_c, each reduced exactly: δ·t_c itself
// would carry δ's rounding, u·|δ·t_c| cycles, unbounded as |t_c| grows.
inline sine_cosine offset_phase(const deconvolution& d, std::int32_t m, double delta) {
    sine_cosine sc{0.0, 1.0};
    const double cycles = delta * d.plan.centre;
    if (std::fabs(cycles) < 0x1p-10) {
        short_phase(cycles, sc.sine, sc.cosine);
    } else {
        const unit_pair line = fraction_of_product(d.frequencies[m], d.plan.centre);
        const double progression = phase_at(d.first_cycles, d.step_cycles, static_cast<double>(m));
        sc = sin_cos_cycles(reduce_unit((line.hi - progression) + line.lo));
    }
    return sc;
}

// Line m's result for each row: the grids' mode j = m − h divided by the
// kernel's transform; with an offset δ, Σ_p (−i z)^p / p! · term p,
// z = 2π δ R, then times e^(−2πi δ t_c).
inline void deconvolve_line(const deconvolution& d, std::int32_t m) {
    const nufft_plan& plan = d.plan;
    if (d.frequencies != nullptr && !std::isfinite(d.frequencies[m])) return;
    const std::int32_t j = m - d.centre;
    const std::size_t at = 2 * static_cast<std::size_t>(j & (d.points - 1));
    const double factor = correction_at(plan, j, d.stride);
    const double delta = d.offsets == nullptr ? 0.0 : d.offsets[m];
    const double z = two_pi * delta * plan.radius;
    const sine_cosine sc = delta != 0.0 ? offset_phase(d, m, delta) : sine_cosine{0.0, 1.0};
    for (std::int32_t r = 0; r < d.rows.count; ++r) {
        const double* const grid = d.work.grid(0, r, 0);
        const double* const g_re = corrected_lines(plan, d.work, r) + margin_of(d);
        const double* const g_im = g_re + plan.block_lines;
        double re = d.differences != nullptr ? g_re[m] : grid[at] * factor;
        double im = d.differences != nullptr ? g_im[m] : grid[at + 1] * factor;
        if (delta != 0.0) {
            if (d.terms > 1) {
                double tr = 0.0, ti = 0.0;
                for (int p = d.terms - 1; p >= 1; --p) {
                    const double* const term = d.work.grid(0, r, p);
                    double term_re, term_im;
                    if (p == 1 && d.differences != nullptr) {
                        term_of_line(*d.differences, g_re, g_im, d.lines, m, term_re, term_im);
                    } else {
                        term_re = term[at] * factor;
                        term_im = term[at + 1] * factor;
                    }
                    const double gr = term_re + tr;
                    const double gi = term_im + ti;
                    // (gr + i gi) · (−i z / p)
                    // (over 1 exactly without dividing)
                    tr = p == 1 ? gi * z : gi * z / p;
                    ti = -(p == 1 ? gr * z : gr * z / p);
                }
                re += tr;
                im += ti;
            }
            const double rr = re * sc.cosine + im * sc.sine;
            const double ri = im * sc.cosine - re * sc.sine;
            re = rr;
            im = ri;
        }
        const double scale = plan.scale[static_cast<std::size_t>(d.rows.first + r)];
        d.out.real_of(r)[m] = unscale(re, scale);
        d.out.imaginary_of(r)[m] = unscale(im, scale);
    }
}

inline void deconvolve_plain(const deconvolution& d, std::int32_t from, std::int32_t to) {
    for (std::int32_t m = from; m < to; ++m) deconvolve_line(d, m);
}

// The same, a vector of lines at a time, with the same operations lane by
// lane (selections where deconvolve_line branches). A vector of lines that
// straddles mode 0, meets a line that is not finite or a phase of 2^-10
// cycles or more is done line by line.
template <typename vector>
[[gnu::always_inline]] inline void deconvolve_vectors(const deconvolution& d, std::int32_t from, std::int32_t to) {
    constexpr std::int32_t size_of = static_cast<std::int32_t>(sizeof(vector) / sizeof(double));
    const nufft_plan& plan = d.plan;
    const std::int32_t mask = d.points - 1;
    constexpr double largest = std::numeric_limits<double>::max();
    const vector zero = {};
    std::int32_t m = from;
    for (; m + size_of <= to; m += size_of) {
        const std::int32_t j = m - d.centre;
        // (With differences, the stencil's central form: two lines either
        // side, or the wide stencil's, which has its margins.)
        bool by_line = (j < 0 && j + size_of > 0) ||
                       (d.differences != nullptr && margin_of(d) == 0 && (m < 2 || m + size_of + 2 > d.lines));
        vector delta = zero, f = zero;
        if (d.offsets != nullptr) load(delta, d.offsets + m);
        if (d.frequencies != nullptr) load(f, d.frequencies + m);
        const vector cycles = delta * plan.centre;
        for (std::int32_t i = 0; i < size_of; ++i)
            by_line = by_line || !(std::fabs(cycles[i]) < 0x1p-10) || !(std::fabs(f[i]) <= largest);
        if (by_line) {
            for (std::int32_t i = 0; i < size_of; ++i) deconvolve_line(d, m + i);
            continue;
        }
        vector factor = zero;  // (corrected_lines are divided already)
        if (d.differences == nullptr) correction_of(plan, j, d.stride, factor);
        const vector z = two_pi * delta * plan.radius;
        vector sine, cosine;
        short_phase(cycles, sine, cosine);
        const auto offset = ~equal(delta, zero);
        const std::size_t at = 2 * static_cast<std::size_t>(j & mask);
        auto split = [&](const double* grid, vector& re, vector& im) { split_pairs(grid + at, re, im); };
        for (std::int32_t r = 0; r < d.rows.count; ++r) {
            vector re, im;
            const double* const g_re = corrected_lines(plan, d.work, r) + margin_of(d);
            const double* const g_im = g_re + plan.block_lines;
            if (d.differences != nullptr) {
                load(re, g_re + m);
                load(im, g_im + m);
            } else {
                split(d.work.grid(0, r, 0), re, im);
                re = re * factor;
                im = im * factor;
            }
            vector shifted_re = re, shifted_im = im;
            if (d.terms > 1) {
                vector tr = zero, ti = zero;
                for (int p = d.terms - 1; p >= 1; --p) {
                    vector term_re, term_im, gr, gi;
                    if (p == 1 && d.differences != nullptr) {
                        if (margin_of(d) > 0) wide_term(*d.differences, g_re, g_im, m, term_re, term_im);
                        else term_from_lines(*d.differences, g_re, g_im, m - 2, 2, term_re, term_im);
                        gr = term_re + tr;
                        gi = term_im + ti;
                    } else {
                        split(d.work.grid(0, r, p), term_re, term_im);
                        gr = term_re * factor + tr;
                        gi = term_im * factor + ti;
                    }
                    tr = p == 1 ? gi * z : gi * z / static_cast<double>(p);
                    ti = -(p == 1 ? gr * z : gr * z / static_cast<double>(p));
                }
                shifted_re += tr;
                shifted_im += ti;
            }
            const vector rr = shifted_re * cosine + shifted_im * sine;
            const vector ri = shifted_im * cosine - shifted_re * sine;
            re = choose(offset, rr, re);
            im = choose(offset, ri, im);
            // unscale, lane by lane (not in a lambda: the choices would not be inlined)
            const double scale = plan.scale[static_cast<std::size_t>(d.rows.first + r)];
            const vector low = zero - largest, high = zero + largest;
            const vector scaled[2] = {re * scale, im * scale};
            double* const targets[2] = {d.out.real_of(r) + m, d.out.imaginary_of(r) + m};
            for (int part = 0; part < 2; ++part)
                store(targets[part],
                      choose(less(scaled[part], low), low, choose(less(high, scaled[part]), high, scaled[part])));
        }
    }
    for (; m < to; ++m) deconvolve_line(d, m);
}

}  // namespace trapft::nufft
