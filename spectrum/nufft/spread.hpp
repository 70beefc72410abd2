// Rotating and spreading: each sample's phase and place on the grid, and its weight spread onto the grids by the kernel.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "spectrum/nufft/kernel.hpp"
#include "spectrum/nufft/phase_vectors.hpp"
#include "spectrum/nufft/plan.hpp"
#include "spectrum/nufft/vectors.hpp"
#include "spectrum/nufft/weights.hpp"
#include "spectrum/phase_reduction.hpp"

namespace trapft::nufft {

// The stages' loops, compiled once for each instruction set below.
// Lines first + (steps + j)·increment, j = m − h, h = centre_line: `steps` is
// h plus the lines before the progression's first (an integer below 2^53).
// The phases, cells and τ_k are the times' alone, found once for every row.
// Each sample's phase at the progression's centre, and its place on the grid,
// a vector of samples at a time (the lanes' bits are the scalar forms').
// From `first` 0 (as sweeps from 0 begin), first·t_k mod 1 is 0 and is not
// worked out: the same bits.
template <typename vector, bool from_zero>
[[gnu::always_inline]] inline void place_samples(const nufft_plan& plan, double first, double increment,
                                                 double steps, std::int32_t points, std::int32_t begin,
                                                 std::int32_t end, nufft_scratch& scratch) {
    constexpr std::int32_t lanes = static_cast<std::int32_t>(sizeof(vector) / sizeof(double));
    const double grid = static_cast<double>(points);
    const bool even = plan.width % 2 == 0;
    const std::int32_t lead = kernel_lead(plan.width);
    const std::int32_t mask = points - 1;
    const double* const times = plan.times + begin;
    double* const cosine = scratch.cosine.data();
    double* const sine = scratch.sine.data();
    double* const arguments = scratch.argument.data();
    std::int32_t* const first_point = scratch.first_point.data();
    const std::int32_t size = end - begin;
    if (size <= 0) return;
    // Samples past the last whole vector are taken as copies of the last
    // sample, in a vector of their own; only the real ones are kept.
    double tail[lanes];
    for (std::int32_t j = 0; j < lanes; ++j) tail[j] = times[std::min(size - size % lanes + j, size - 1)];
    const vector zero = {};
    for (std::int32_t i = 0; i < size; i += lanes) {
        vector t;
        load(t, i + lanes <= size ? times + i : tail);
        const unit_pairs<vector> u = fractions_of_products(zero + increment, t);
        const unit_pairs<vector> v =
            from_zero ? unit_pairs<vector>{zero, zero} : fractions_of_products(zero + first, t);
        vector sine_lanes, cosine_lanes;
        sin_cos_lanes(phases_at(v, u, zero + steps), sine_lanes, cosine_lanes);
        // Position n·u on the grid as an exact cell and an offset; an even
        // width takes the cell below (offset in [0, 1]), an odd one the nearest.
        const vector position = u.hi * grid;
        const vector nearest = nearest_integers(position);
        const vector from_nearest = (position - nearest) + u.lo * grid;
        const auto below = less(from_nearest, zero);
        const vector cell = even ? choose(below, nearest - 1.0, nearest) : nearest;
        const vector within = even ? choose(below, from_nearest + 1.0, from_nearest) : from_nearest;
        const vector argument = even ? 2.0 * within - 1.0 : 2.0 * within;
        const std::int32_t kept = std::min(lanes, size - i);
        double cells[lanes];
        store(cells, cell);
        for (std::int32_t j = 0; j < kept; ++j)
            first_point[i + j] = (static_cast<std::int32_t>(cells[j]) - lead) & mask;
        if (kept == lanes) {
            store(cosine + i, cosine_lanes);
            store(sine + i, sine_lanes);
            store(arguments + i, argument);
            continue;
        }
        double last[3][lanes];
        store(last[0], cosine_lanes);
        store(last[1], sine_lanes);
        store(last[2], argument);
        std::copy_n(last[0], kept, cosine + i);
        std::copy_n(last[1], kept, sine + i);
        std::copy_n(last[2], kept, arguments + i);
    }
}

// Samples [begin, end)'s places, and each row's weights turned by the phases
// (and times τ_k^p for the Taylor terms), into `scratch`.
template <typename vector>
[[gnu::always_inline]] inline void rotate_samples(const nufft_plan& plan, row_group rows, double first,
                                                  double increment, double steps, std::int32_t points, int terms,
                                                  std::int32_t begin, std::int32_t end, nufft_scratch& scratch) {
    if (first == 0.0) place_samples<vector, true>(plan, first, increment, steps, points, begin, end, scratch);
    else place_samples<vector, false>(plan, first, increment, steps, points, begin, end, scratch);
    const double* const times = plan.times + begin;
    const double* const cosine = scratch.cosine.data();
    const double* const sine = scratch.sine.data();
    const std::int32_t size = end - begin;
    double* const weights = scratch.weights.data();
    for (std::int32_t r = 0; r < rows.count; ++r) {
        row_weights(plan, rows.first + r, begin, end, weights);
        double* const rotated = scratch.rotated.data() + 2 * static_cast<std::size_t>(r) * nufft_max_terms * nufft_chunk;
        for (std::int32_t i = 0; i < size; ++i) {
            rotated[2 * i] = weights[i] * cosine[i];
            rotated[2 * i + 1] = -(weights[i] * sine[i]);
        }
    }
    if (terms == 1) return;
    const double centre = plan.centre;
    const double inverse = 1.0 / plan.radius;
    double* const tau = scratch.tau.data();
    for (std::int32_t i = 0; i < size; ++i) tau[i] = (times[i] - centre) * inverse;
    for (std::int32_t r = 0; r < rows.count; ++r) {
        double* const rotated = scratch.rotated.data() + 2 * static_cast<std::size_t>(r) * nufft_max_terms * nufft_chunk;
        for (int p = 1; p < terms; ++p) {
            const double* const previous = rotated + 2 * static_cast<std::size_t>(p - 1) * nufft_chunk;
            double* const term = rotated + 2 * static_cast<std::size_t>(p) * nufft_chunk;
            for (std::int32_t i = 0; i < size; ++i) {
                term[2 * i] = previous[2 * i] * tau[i];
                term[2 * i + 1] = previous[2 * i + 1] * tau[i];
            }
        }
    }
}


// Adds pair × values to the grid at g, by two-sum with its rounding errors
// into e where `compensated` and `first_term`.
template <bool compensated, typename vector>
[[gnu::always_inline]] inline void add_to_grid(double* g, double* e, const vector& pair, const vector& values,
                                               bool first_term) {
    vector cells;
    load(cells, g);
    if (compensated && first_term) {
        const vector term = pair * values;
        const vector sum = cells + term;
        const vector back = sum - cells;
        vector errors;
        load(errors, e);
        store(e, errors + ((cells - (sum - back)) + (term - back)));
        store(g, sum);
    } else {
        multiply_add(cells, pair, values, cells);
        store(g, cells);
    }
}

// One sample near the grid's end, point by point: short of the end as the
// vector code adds (fused), so that a sample's sums do not depend on where it
// falls; wrapping around the end, plainly. `values` are the kernel's at its
// `width` points from `start`; `k` its place in the chunk.
template <int width, bool compensated>
inline void spread_near_end(const double* values, std::int32_t start, std::int32_t points, std::int32_t rows,
                            int terms, std::int32_t k, const double* rotated, double* const* grids,
                            double* const* errors) {
    const std::int32_t mask = points - 1;
    const bool wraps = start + width > points;
    for (int rp = 0; rp < rows * terms; ++rp) {
        const int r = rp / terms;
        const int p = rp % terms;
        const std::size_t at =
            2 * ((static_cast<std::size_t>(r) * nufft_max_terms + static_cast<std::size_t>(p)) * nufft_chunk +
                 static_cast<std::size_t>(k));
        double* const grid = grids[rp];
        double* const error = errors[r];
        for (int i = 0; i < width; ++i) {
            const std::size_t cell = 2 * static_cast<std::size_t>((start + i) & mask);
            for (int part = 0; part < 2; ++part) {
                double& g = grid[cell + static_cast<std::size_t>(part)];
                const double factor = rotated[at + static_cast<std::size_t>(part)];
                const double term = factor * values[i];
                if (compensated && p == 0) {
                    const double sum = g + term;
                    const double back = sum - g;
                    error[cell + static_cast<std::size_t>(part)] += (g - (sum - back)) + (term - back);
                    g = sum;
                } else if (!wraps) {
                    g = std::fma(factor, values[i], g);
                } else {
                    g = g + term;
                }
            }
        }
    }
}

// Adds each placed sample times the kernel's values to the grids of the
// `terms` Taylor terms of each of `rows` rows (grids[r × terms + p]): the
// pieces' polynomials by Horner's rule on vectors, once for every row, their
// degree and width fixed at compile time and their coefficients held in
// registers, then paired with the grids' interleaved real and imaginary
// parts. With `compensated`, term 0 is added by two-sum, its rounding errors
// gathered in errors[r].
template <typename vector, int width, int fixed_terms, bool compensated, bool one_row>
inline void spread_samples(const nufft_plan& plan, std::int32_t points, int any_terms, std::int32_t group,
                           std::int32_t size, const nufft_scratch& scratch, double* const* grids,
                           double* const* errors) {
    // One row: the terms fixed at compile time. Several: both counts at run
    // time, which costs little beside the rows' own work and keeps the code small.
    const std::int32_t rows = one_row ? 1 : group;
    const int terms = fixed_terms > 0 ? fixed_terms : any_terms;
    constexpr int size_of = static_cast<int>(sizeof(vector) / sizeof(double));
    constexpr int degree = kernel_degrees[width];
    constexpr int lanes = (width + 7) / 8 * 8;
    constexpr int blocks = lanes / size_of;
    const double* const kernel = plan.kernel.data();
    vector coefficients[degree + 1][blocks];
    for (int d = 0; d <= degree; ++d)
        for (int b = 0; b < blocks; ++b) load(coefficients[d][b], kernel + d * lanes + b * size_of);
    const double* const rotated = scratch.rotated.data();
    // Samples in file order often lie side by side on the grid; taking them
    // from four quarters of the chunk in turn keeps each sample's loads clear of
    // the stores of the one before, which the CPU could not forward.
    const std::int32_t quarter = (size + 3) / 4;
    for (std::int32_t step = 0; step < 4 * quarter; ++step) {
        const std::int32_t k = (step % 4) * quarter + step / 4;
        if (k >= size) continue;
        vector s;
        for (int i = 0; i < size_of; ++i) s[i] = scratch.argument[static_cast<std::size_t>(k)];
        vector v[blocks];
        for (int b = 0; b < blocks; ++b) v[b] = coefficients[0][b];
        for (int d = 1; d <= degree; ++d)
            for (int b = 0; b < blocks; ++b) multiply_add(v[b], v[b], s, coefficients[d][b]);
        const std::int32_t start = scratch.first_point[static_cast<std::size_t>(k)];
        if (start + lanes <= points) {
            vector low[blocks], high[blocks];
            for (int b = 0; b < blocks; ++b) pair_up(v[b], low[b], high[b]);
            for (int r = 0; r < rows; ++r) {
                double* const e0 = errors[r] + 2 * start;
                for (int p = 0; p < terms; ++p) {
                    const std::size_t at =
                        2 * ((static_cast<std::size_t>(r) * nufft_max_terms + static_cast<std::size_t>(p)) * nufft_chunk +
                             static_cast<std::size_t>(k));
                    vector pair;
                    repeat_pair(pair, rotated + at);
                    double* g = grids[r * terms + p] + 2 * start;
                    double* e = e0;
                    for (int b = 0; b < blocks; ++b) {
                        add_to_grid<compensated>(g, e, pair, low[b], p == 0);
                        add_to_grid<compensated>(g + size_of, e + size_of, pair, high[b], p == 0);
                        g += 2 * size_of;
                        e += 2 * size_of;
                    }
                }
            }
            continue;
        }
        double values[lanes];
        for (int b = 0; b < blocks; ++b) store(values + b * size_of, v[b]);
        spread_near_end<width, compensated>(values, start, points, rows, terms, k, rotated, grids, errors);
    }
}

template <typename vector, int width, bool compensated>
inline void spread_terms(const nufft_plan& plan, std::int32_t points, int terms, std::int32_t rows, std::int32_t size,
                         const nufft_scratch& scratch, double* const* grids, double* const* errors) {
    if (rows > 1)
        return spread_samples<vector, width, 0, compensated, false>(plan, points, terms, rows, size, scratch, grids,
                                                                    errors);
    if (terms == 1)
        return spread_samples<vector, width, 1, compensated, true>(plan, points, terms, rows, size, scratch, grids,
                                                                   errors);
    if (terms == 2)
        return spread_samples<vector, width, 2, compensated, true>(plan, points, terms, rows, size, scratch, grids,
                                                                   errors);
    spread_samples<vector, width, nufft_max_terms, compensated, true>(plan, points, terms, rows, size, scratch, grids,
                                                                      errors);
}

template <typename vector, bool compensated>
inline void spread_any(const nufft_plan& plan, std::int32_t points, int terms, std::int32_t rows, std::int32_t size,
                       const nufft_scratch& scratch, double* const* grids, double* const* errors) {
    switch (plan.width) {
#define TRAPFT_WIDTH(w)                                                                                            \
    case w: return spread_terms<vector, w, compensated>(plan, points, terms, rows, size, scratch, grids, errors);
        TRAPFT_WIDTH(3) TRAPFT_WIDTH(4) TRAPFT_WIDTH(5) TRAPFT_WIDTH(6) TRAPFT_WIDTH(7) TRAPFT_WIDTH(8)
        TRAPFT_WIDTH(9) TRAPFT_WIDTH(10) TRAPFT_WIDTH(11) TRAPFT_WIDTH(12) TRAPFT_WIDTH(13) TRAPFT_WIDTH(14)
        TRAPFT_WIDTH(15) TRAPFT_WIDTH(16)
#undef TRAPFT_WIDTH
        default: return spread_terms<vector, 17, compensated>(plan, points, terms, rows, size, scratch, grids, errors);
    }
}

// The spreading's arguments: a chunk of `size` samples placed in `scratch`,
// onto the grids of `rows` rows and `terms` terms.
struct spread_target {
    std::int32_t points = 0;
    int terms = 1;
    std::int32_t rows = 1;
    std::int32_t size = 0;
    double* const* grids = nullptr;   // rows × terms
    double* const* errors = nullptr;  // rows
};

}  // namespace trapft::nufft
