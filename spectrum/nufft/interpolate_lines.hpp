// Interpolating a cluster's lines from the sums on its progression, compiled once for each instruction set.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "spectrum/nufft/interpolate.hpp"
#include "spectrum/nufft/kernel.hpp"
#include "spectrum/nufft/offsets.hpp"
#include "spectrum/nufft/phase_vectors.hpp"
#include "spectrum/nufft/vectors.hpp"
#include "spectrum/phase_reduction.hpp"

namespace trapft::nufft {

// Lines are placed a batch at a time (loops the compiler vectorizes), and a
// batch's sums are fetched while the batch before it is summed.
inline constexpr std::int32_t interpolation_batch = 16;

// Each row's sums turned by e^(2πi j h t_c) at point j, so that a line then
// needs one turn of its own; the lanes past the last point set to zero (the
// kernel reads them with weight zero).
template <typename vector>
[[gnu::always_inline]] inline void turn_sums(const nufft_plan& plan, row_group rows, std::int32_t points,
                                             double* sums) {
    constexpr std::int32_t size_of = static_cast<std::int32_t>(sizeof(vector) / sizeof(double));
    const list_plan& lp = *plan.lists;
    const unit_pair step_cycles = fraction_of_product(lp.step, plan.centre);
    vector index = {};
    for (std::int32_t i = 0; i < size_of; ++i) index[i] = static_cast<double>(i);
    const auto zero_lanes = [&] {
        for (std::int32_t r = 0; r < rows.count; ++r) {
            std::fill_n(lp.real_sums(sums, r) + points, lp.lanes, 0.0);
            std::fill_n(lp.imaginary_sums(sums, r) + points, lp.lanes, 0.0);
        }
    };
    // (Past the last point into the lanes, zeroed before and after.)
    zero_lanes();
    for (std::int32_t j = 0; j < points; j += size_of) {
        vector sine, cosine;
        sin_cos_lanes(phases_at(unit_pairs<vector>{}, every_lane<vector>(step_cycles),
                                index + static_cast<double>(j)),
                      sine, cosine);
        for (std::int32_t r = 0; r < rows.count; ++r) {
            double* const re = lp.real_sums(sums, r) + j;
            double* const im = lp.imaginary_sums(sums, r) + j;
            vector a, b;
            load(a, re);
            load(b, im);
            store(re, a * cosine - b * sine);
            store(im, b * cosine + a * sine);
        }
    }
    zero_lanes();
}

// A batch of lines' kernel arguments, first points and turns e^(−2πi (f − first) t_c).
struct line_places {
    double z[interpolation_batch];
    double cosine[interpolation_batch];
    double sine[interpolation_batch];
    double start[interpolation_batch];
};

// The places of `count` ≤ interpolation_batch lines at f (a line that is not
// finite is placed at `first`, and skipped when summed): each line's cell and
// offset on the progression from its exact offset, then one step onto the
// kernel's range of offsets where the rounding left it outside.
template <typename vector>
[[gnu::always_inline]] inline void place_lines(const nufft_plan& plan, const double* f, std::int32_t count,
                                               double first, unit_pair first_cycles, std::int32_t points,
                                               line_places& at) {
    constexpr std::int32_t size_of = static_cast<std::int32_t>(sizeof(vector) / sizeof(double));
    static_assert(interpolation_batch % size_of == 0);
    const list_plan& lp = *plan.lists;
    const double h = lp.step;
    const int w = lp.width;
    const bool even = w % 2 == 0;
    const vector zero = {};
    const vector firsts = zero + first;
    const vector steps = zero + h;
    double lines[interpolation_batch];
    for (std::int32_t i = 0; i < interpolation_batch; ++i)
        lines[i] = i < count && std::fabs(f[i]) <= std::numeric_limits<double>::max() ? f[i] : first;
    for (std::int32_t i = 0; i < interpolation_batch; i += size_of) {
        vector g;
        load(g, lines + i);
        const vector below = floors((g - first) / h);
        const vector offset = line_offset(g, below, firsts, steps) / h;
        const auto down = less(offset, zero + (even ? 0.0 : -0.5));
        const auto up = even ? less_equal(zero + 1.0, offset) : less(zero + 0.5, offset);
        const vector cell = choose(down, below - 1.0, choose(up, below + 1.0, below));
        const vector within = choose(down, offset + 1.0, choose(up, offset - 1.0, offset));
        store(at.z + i, even ? 2.0 * within - 1.0 : 2.0 * within);
        // (Within the points by construction; held there whatever the rounding.)
        const vector start = cell - static_cast<double>(kernel_lead(w));
        const double last = static_cast<double>(points - w);
        store(at.start + i, choose(less(start, zero), zero, choose(less(zero + last, start), zero + last, start)));
        const unit_pairs<vector> line = fractions_of_products(g, zero + plan.centre);
        vector sine, cosine;
        sin_cos_lanes(reduce_units((line.hi - first_cycles.hi) + (line.lo - first_cycles.lo)), sine, cosine);
        store(at.cosine + i, cosine);
        store(at.sine + i, sine);
    }
}

// Asks for the sums that a batch of placed lines will read.
[[gnu::always_inline]] inline void fetch_lines(const list_plan& lp, row_group rows, const line_places& at,
                                               std::int32_t count, const double* sums) {
    for (std::int32_t r = 0; r < rows.count; ++r)
        for (std::int32_t i = 0; i < count; ++i) {
            const auto start = static_cast<std::ptrdiff_t>(at.start[i]);
            __builtin_prefetch(lp.real_sums(sums, r) + start);
            __builtin_prefetch(lp.real_sums(sums, r) + start + lp.lanes - 1);
            __builtin_prefetch(lp.imaginary_sums(sums, r) + start);
            __builtin_prefetch(lp.imaginary_sums(sums, r) + start + lp.lanes - 1);
        }
}

// Vectors of one line's kernel weights, and how many lines take their weights
// side by side: enough chains of Horner's rule (eight) that none waits on its own.
template <typename vector, int width>
inline constexpr int weight_blocks = (width + 7) / 8 * 8 / static_cast<int>(sizeof(vector) / sizeof(double));
template <typename vector, int width>
inline constexpr int lines_together = std::max(2, 8 / weight_blocks<vector, width>);
template <typename vector, int width>
using line_weights = vector[lines_together<vector, width>][weight_blocks<vector, width>];

// The kernel's weights at the lanes of placed lines `index`, by Horner's
// rule (fused), side by side; width, degree and lanes fixed, so that the
// weights stay in registers.
template <typename vector, int width>
[[gnu::always_inline]] inline void kernel_weights(const list_plan& lp, const line_places& at,
                                                  const std::int32_t (&index)[lines_together<vector, width>],
                                                  line_weights<vector, width>& phi) {
    constexpr int size_of = static_cast<int>(sizeof(vector) / sizeof(double));
    constexpr int lanes = (width + 7) / 8 * 8;
    constexpr int blocks = weight_blocks<vector, width>;
    constexpr int together = lines_together<vector, width>;
    constexpr int degree = kernel_degrees[width];
    const double* const pieces = lp.kernel.data();
    vector z[together];
#pragma GCC unroll 8
    for (int l = 0; l < together; ++l) z[l] = vector{} + at.z[index[l]];
#pragma GCC unroll 16
    for (int b = 0; b < blocks; ++b) {
        vector c;
        load(c, pieces + b * size_of);
#pragma GCC unroll 8
        for (int l = 0; l < together; ++l) phi[l][b] = c;
    }
#pragma GCC unroll 24
    for (int p = 1; p <= degree; ++p)
#pragma GCC unroll 16
        for (int b = 0; b < blocks; ++b) {
            vector c;
            load(c, pieces + p * lanes + b * size_of);
#pragma GCC unroll 8
            for (int l = 0; l < together; ++l) multiply_add(phi[l][b], phi[l][b], z[l], c);
        }
}

// Vectors of a line's eight partial sums.
template <typename vector>
inline constexpr int partial_chains = 8 / static_cast<int>(sizeof(vector) / sizeof(double));

// Line i's partial sums of row r from its kernel weights, Σ φ_k S_k with
// lane k in partial k mod 8, each partial in order of k: lane j of chain c
// holds partial c·size_of + j.
template <typename vector, int width>
[[gnu::always_inline]] inline void line_partials(const list_plan& lp, std::int32_t r, const line_places& at,
                                                 std::int32_t i, const vector (&phi)[weight_blocks<vector, width>],
                                                 const double* sums, vector (&sum_re)[partial_chains<vector>],
                                                 vector (&sum_im)[partial_chains<vector>]) {
    constexpr int size_of = static_cast<int>(sizeof(vector) / sizeof(double));
    constexpr int lanes = (width + 7) / 8 * 8;
    constexpr int blocks = lanes / size_of;
    constexpr int chains = partial_chains<vector>;
    static_assert(lanes % 8 == 0 && 8 % size_of == 0);
    const auto start = static_cast<std::ptrdiff_t>(at.start[i]);
    const double* const re = lp.real_sums(sums, r) + start;
    const double* const im = lp.imaginary_sums(sums, r) + start;
#pragma GCC unroll 8
    for (int c = 0; c < chains; ++c) sum_re[c] = sum_im[c] = vector{};
#pragma GCC unroll 16
    for (int b = 0; b < blocks; ++b) {
        vector s;
        load(s, re + b * size_of);
        multiply_add(sum_re[b % chains], phi[b], s, sum_re[b % chains]);
        load(s, im + b * size_of);
        multiply_add(sum_im[b % chains], phi[b], s, sum_im[b % chains]);
    }
}

// Line i's results from its kernel weights: for each row its partials
// added as ((p0 + p4) + (p1 + p5)) + ((p2 + p6) + (p3 + p7)), then the
// line's turn: the same operations on every instruction set.
template <typename vector, int width>
[[gnu::always_inline]] inline void sum_line(const list_plan& lp, row_group rows, const line_places& at,
                                            std::int32_t i, const vector (&phi)[weight_blocks<vector, width>],
                                            const double* sums, const group_results& out) {
    constexpr int size_of = static_cast<int>(sizeof(vector) / sizeof(double));
    constexpr int chains = partial_chains<vector>;
    for (std::int32_t r = 0; r < rows.count; ++r) {
        vector sum_re[chains], sum_im[chains];
        line_partials<vector, width>(lp, r, at, i, phi, sums, sum_re, sum_im);
        double part_re[8], part_im[8];
#pragma GCC unroll 8
        for (int c = 0; c < chains; ++c) {
            store(part_re + c * size_of, sum_re[c]);
            store(part_im + c * size_of, sum_im[c]);
        }
        const double a = ((part_re[0] + part_re[4]) + (part_re[1] + part_re[5])) +
                         ((part_re[2] + part_re[6]) + (part_re[3] + part_re[7]));
        const double b = ((part_im[0] + part_im[4]) + (part_im[1] + part_im[5])) +
                         ((part_im[2] + part_im[6]) + (part_im[3] + part_im[7]));
        out.real_of(r)[i] = a * at.cosine[i] + b * at.sine[i];
        out.imaginary_of(r)[i] = b * at.cosine[i] - a * at.sine[i];
    }
}

// Lines' partials added as sum_line adds them, line l's sum in lane l, as
// many lines as a vector has lanes (parts[l][c]: line l's chain c): the
// pairs k, k + 4 first (two lines side by side, or the chains), then
// neighbouring lanes twice.
[[gnu::always_inline]] inline vector8 add_partials(const vector8 (&parts)[8][1]) {
    vector8 pairs[4], halves[2];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i)
        pairs[i] = __builtin_shufflevector(parts[2 * i][0], parts[2 * i + 1][0], 0, 1, 2, 3, 8, 9, 10, 11) +
                   __builtin_shufflevector(parts[2 * i][0], parts[2 * i + 1][0], 4, 5, 6, 7, 12, 13, 14, 15);
#pragma GCC unroll 2
    for (int i = 0; i < 2; ++i)
        halves[i] = __builtin_shufflevector(pairs[2 * i], pairs[2 * i + 1], 0, 2, 4, 6, 8, 10, 12, 14) +
                    __builtin_shufflevector(pairs[2 * i], pairs[2 * i + 1], 1, 3, 5, 7, 9, 11, 13, 15);
    return __builtin_shufflevector(halves[0], halves[1], 0, 2, 4, 6, 8, 10, 12, 14) +
           __builtin_shufflevector(halves[0], halves[1], 1, 3, 5, 7, 9, 11, 13, 15);
}
[[gnu::always_inline]] inline vector4 add_partials(const vector4 (&parts)[4][2]) {
    vector4 pairs[4], halves[2];
#pragma GCC unroll 4
    for (int l = 0; l < 4; ++l) pairs[l] = parts[l][0] + parts[l][1];
#pragma GCC unroll 2
    for (int i = 0; i < 2; ++i)
        halves[i] = __builtin_shufflevector(pairs[2 * i], pairs[2 * i + 1], 0, 2, 4, 6) +
                    __builtin_shufflevector(pairs[2 * i], pairs[2 * i + 1], 1, 3, 5, 7);
    return __builtin_shufflevector(halves[0], halves[1], 0, 2, 4, 6) +
           __builtin_shufflevector(halves[0], halves[1], 1, 3, 5, 7);
}

// Lines i … i + size_of − 1 with vectors of four or eight lanes: their
// partials added and turned side by side, with sum_line's operations lane by
// lane; a line that is not finite keeps what it had.
template <typename vector, int width>
[[gnu::always_inline]] inline void sum_lines_across(const list_plan& lp, row_group rows, const double* f,
                                                    std::int32_t i, const line_places& at, const double* sums,
                                                    const group_results& out) {
    constexpr int size_of = static_cast<int>(sizeof(vector) / sizeof(double));
    constexpr int chains = partial_chains<vector>;
    constexpr int together = lines_together<vector, width>;
    static_assert(size_of % together == 0);
    line_weights<vector, width> phi[size_of / together];
#pragma GCC unroll 4
    for (int g = 0; g < size_of / together; ++g) {
        std::int32_t index[together];
        for (int l = 0; l < together; ++l) index[l] = i + g * together + l;
        kernel_weights<vector, width>(lp, at, index, phi[g]);
    }
    const vector zero = {};
    vector lines, cosine, sine;
    load(lines, f + i);
    load(cosine, at.cosine + i);
    load(sine, at.sine + i);
    const auto finite = equal(lines - lines, zero);
    bool every_one = true;
    for (int l = 0; l < size_of; ++l) every_one = every_one && finite[l] != 0;
    for (std::int32_t r = 0; r < rows.count; ++r) {
        vector parts_re[size_of][chains], parts_im[size_of][chains];
#pragma GCC unroll 8
        for (int l = 0; l < size_of; ++l)
            line_partials<vector, width>(lp, r, at, i + l, phi[l / together][l % together], sums, parts_re[l],
                                         parts_im[l]);
        const vector a = add_partials(parts_re);
        const vector b = add_partials(parts_im);
        vector re = a * cosine + b * sine, im = b * cosine - a * sine;
        // (The results are read only where some line keeps its own: a first
        // read of fresh pages would map them twice.)
        if (!every_one) {
            vector had_re, had_im;
            load(had_re, out.real_of(r) + i);
            load(had_im, out.imaginary_of(r) + i);
            re = choose(finite, re, had_re);
            im = choose(finite, im, had_im);
        }
        store(out.real_of(r) + i, re);
        store(out.imaginary_of(r) + i, im);
    }
}

// A batch of placed lines' results, lines_together at a time (a vector's
// lanes at a time with four or eight); a line that is not finite is skipped.
template <typename vector, int width>
[[gnu::always_inline]] inline void sum_lines(const list_plan& lp, row_group rows, const double* f,
                                             std::int32_t count, const line_places& at, const double* sums,
                                             const group_results& out) {
    constexpr int size_of = static_cast<int>(sizeof(vector) / sizeof(double));
    constexpr int together = lines_together<vector, width>;
    std::int32_t i = 0;
    if constexpr (size_of >= 4)
        for (; i + size_of <= count; i += size_of) sum_lines_across<vector, width>(lp, rows, f, i, at, sums, out);
    for (; i < count; i += together) {
        std::int32_t index[together];
        for (int l = 0; l < together; ++l) index[l] = std::min(i + l, count - 1);
        line_weights<vector, width> phi;
        kernel_weights<vector, width>(lp, at, index, phi);
        for (int l = 0; l < together && i + l < count; ++l)
            if (std::isfinite(f[i + l])) sum_line<vector, width>(lp, rows, at, i + l, phi[l], sums, out);
    }
}

// Lines [0, count) of a cluster, at frequencies f in any order (a line that
// is not finite is left as it is), from each row's sums on the `points` of
// the progression first + j·h (see interpolate.hpp), which reach a kernel's
// width past every line: the sums are turned first (turn_sums), so that X(f)
// is e^(−2πi (f − first) t_c) Σ_j φ_j S_j.
template <typename vector, int width>
[[gnu::always_inline]] inline void interpolate_width(const nufft_plan& plan, row_group rows, const double* f,
                                                     std::int32_t count, double first, std::int32_t points,
                                                     double* sums, const group_results& out) {
    const list_plan& lp = *plan.lists;
    turn_sums<vector>(plan, rows, points, sums);
    const unit_pair first_cycles = fraction_of_product(first, plan.centre);
    line_places places[2];
    place_lines<vector>(plan, f, std::min(interpolation_batch, count), first, first_cycles, points, places[0]);
    for (std::int32_t from = 0, turn = 0; from < count; from += interpolation_batch, turn ^= 1) {
        const std::int32_t next = from + interpolation_batch;
        if (next < count) {
            const std::int32_t size = std::min(interpolation_batch, count - next);
            place_lines<vector>(plan, f + next, size, first, first_cycles, points, places[turn ^ 1]);
            fetch_lines(lp, rows, places[turn ^ 1], size, sums);
        }
        sum_lines<vector, width>(lp, rows, f + from, std::min(interpolation_batch, count - from), places[turn],
                                 sums, out.from(from));
    }
}

template <typename vector>
[[gnu::always_inline]] inline void interpolate_lines(const nufft_plan& plan, row_group rows, const double* f,
                                                     std::int32_t count, double first, std::int32_t points,
                                                     double* sums, const group_results& out) {
    switch (plan.lists->width) {
#define TRAPFT_WIDTH(w) \
    case w: return interpolate_width<vector, w>(plan, rows, f, count, first, points, sums, out);
        TRAPFT_WIDTH(3) TRAPFT_WIDTH(4) TRAPFT_WIDTH(5) TRAPFT_WIDTH(6) TRAPFT_WIDTH(7) TRAPFT_WIDTH(8)
        TRAPFT_WIDTH(9) TRAPFT_WIDTH(10) TRAPFT_WIDTH(11) TRAPFT_WIDTH(12) TRAPFT_WIDTH(13) TRAPFT_WIDTH(14)
        TRAPFT_WIDTH(15) TRAPFT_WIDTH(16)
#undef TRAPFT_WIDTH
    default: return interpolate_width<vector, 17>(plan, rows, f, count, first, points, sums, out);
    }
}

}  // namespace trapft::nufft
