// A block's strategy, for the fast evaluation's trapezoid sums at the sweep's frequencies by a type-1 non-uniform FFT, one pass over the samples per block.
//
// A block's frequencies f_m (the sweep's running sum) are taken as a
// progression g_m = first + m·d plus small offsets δ_m = f_m − g_m. Then
// X(f_m) = e^(−2πi δ_m t_c) Σ_p (−2πi δ_m R)^p / p! · Σ_k c_k τ_k^p e^(−2πi g_m t_k),
// τ_k = (t_k − t_c) / R, so each Taylor term p is one transform of the
// progression with weights c_k τ_k^p, all spread in the same pass; where the
// lines lie close together for the times' span, term 1 comes instead from
// differences of term 0's neighbouring lines, without a grid of its own. For the
// progression, with u_k = d·t_k mod 1 and the block centred on mode h = n/4
// of an n-point grid, Σ_k a_k e^(−2πi g_m t_k) = Σ_k a_k e^(−2πi (first + h·d) t_k) e^(−2πi j u_k),
// j = m − h: each rotated weight is spread onto the grid at n·u_k by the
// "exponential of semicircle" kernel, the grid is transformed, and mode j is
// divided by the kernel's transform. Every phase is reduced modulo one cycle
// with error-free products before it is turned into an angle, so the error
// does not grow with |f·t|.
//
// The tolerance is shared out: the kernel (its measured worst error), the
// Taylor terms' truncation, a fixed allowance for the rounding of the
// transform and of the kernel's evaluation, and the rest for the grid's
// accumulation. A cell that gathers M terms in a row can be off by M·u of
// their sizes, which coherent data (all samples on one cell) makes real: the
// samples that start on each grid point are counted, and past the count the
// rest allows, the term-0 grid's rounding errors are kept in a grid of their
// own (two-sum) and added back before the transform.
#include "spectrum/nufft/block.hpp"

#include <cmath>
#include <limits>

#include "spectrum/nufft/evaluate.hpp"
#include "spectrum/nufft/grids.hpp"
#include "spectrum/nufft/heuristics.hpp"
#include "spectrum/nufft/stencils.hpp"
#include "spectrum/nufft/transform.hpp"
#include "spectrum/phase_reduction.hpp"

namespace trapft::nufft {
namespace {

// Whether b − a is exactly d: the subtraction gave d and lost nothing (its
// two-sum error is zero).
bool exact_difference(double a, double b, double d) {
    const double sum = b - a;
    if (sum != d) return false;
    const double b_part = sum - b;
    return (b - (sum - b_part)) + (-a - b_part) == 0.0;
}

// The end of the longest run of finite frequencies from `first` (finite)
// whose neighbours differ exactly by one increment, and that increment.
std::int32_t run_end(const double* frequencies, std::int32_t first, std::int32_t count, double& increment) {
    std::int32_t end = first + 1;
    increment = 0.0;
    if (end < count && std::isfinite(frequencies[end])) {
        increment = frequencies[end] - frequencies[first];
        while (end < count && std::isfinite(frequencies[end]) &&
               exact_difference(frequencies[end - 1], frequencies[end], increment))
            ++end;
    }
    return end;
}

// Whether a pass per exact run costs less than `budget` (one pass with the
// Taylor terms): so when the samples are few and the grid's transforms
// dominate, as for a block of many lines that crosses a binade or two.
bool runs_are_cheaper(const nufft_plan& plan, const double* frequencies, std::int32_t count, double budget) {
    const double samples = static_cast<double>(plan.count);
    double cost = 0.0;
    for (std::int32_t first = 0; first < count && cost < budget;) {
        if (!std::isfinite(frequencies[first])) {
            ++first;
            continue;
        }
        double increment = 0.0;
        const std::int32_t end = run_end(frequencies, first, count, increment);
        const std::int32_t lines = increment == 0.0 ? 1 : end - first;
        const std::int32_t points = grid_points(plan, lines);
        cost += direct_is_cheaper(plan, lines, points, 1)
                    ? static_cast<double>(lines) * samples * direct_cost
                    : samples * sample_pass_cost(plan, 1) + fft_pass_cost(points);
        first = end;
    }
    return cost < budget;
}

}  // namespace

void progression(const nufft_plan& plan, instruction_set set, row_group rows, double first, double increment,
                 std::int32_t count, nufft_work& work, const group_results& out, int threads) {
    if (count <= 0) return;
    if (count == 1) increment = 0.0;
    if (!std::isfinite(first) || !std::isfinite(increment)) {
        for (std::int32_t r = 0; r < rows.count; ++r) {
            std::fill(out.real_of(r), out.real_of(r) + count, std::numeric_limits<double>::quiet_NaN());
            std::fill(out.imaginary_of(r), out.imaginary_of(r) + count, std::numeric_limits<double>::quiet_NaN());
        }
        return;
    }
    // More lines than a block holds are taken a block at a time, each block's
    // first line reduced exactly with the others.
    for (std::int32_t done = 0; done < count; done += plan.block_lines) {
        const std::int32_t lines = std::min(plan.block_lines, count - done);
        const double shift = static_cast<double>(done);
        const std::int32_t points = grid_points(plan, lines);
        if (direct_is_cheaper(plan, lines, points, 1)) {
            // Summed directly at first + m·increment where those are the
            // progression's exact lines.
            double* const frequencies = work.offsets.get();
            bool exact = true;
            for (std::int32_t m = 0; m < lines && exact; ++m) {
                frequencies[m] = first + (shift + m) * increment;
                exact = m == 0 ? shift == 0.0
                               : exact_difference(frequencies[m - 1], frequencies[m], increment);
            }
            if (exact) {
                direct_sums(plan, rows, frequencies, lines, work, out.from(done));
                continue;
            }
        }
        spread_and_transform(plan, set, rows, first, increment, shift, points, 1, work, threads);
        deconvolve(plan, set, rows, points, lines, 1, {}, work, out.from(done));
    }
}

namespace {

// Each longest run of finite frequencies whose neighbours differ exactly by
// one increment, as its own progression: a pass over the samples each.
void exact_runs(const nufft_plan& plan, instruction_set set, row_group rows, const double* frequencies,
                std::int32_t count, nufft_work& work, const group_results& out, int threads) {
    std::int32_t first = 0;
    while (first < count) {
        const double f = frequencies[first];
        if (!std::isfinite(f)) {
            ++first;
            continue;
        }
        double increment = 0.0;
        const std::int32_t end = run_end(frequencies, first, count, increment);
        const std::int32_t lines = end - first;
        const group_results here = out.from(first);
        if (lines > 1 && increment == 0.0) {
            // Every line at one frequency (equal ends, or a step lost to rounding).
            progression(plan, set, rows, f, 0.0, 1, work, here, threads);
            for (std::int32_t r = 0; r < rows.count; ++r) {
                std::fill(here.real_of(r) + 1, here.real_of(r) + lines, here.real_of(r)[0]);
                std::fill(here.imaginary_of(r) + 1, here.imaginary_of(r) + lines, here.imaginary_of(r)[0]);
            }
        } else {
            progression(plan, set, rows, f, increment, lines, work, here, threads);
        }
        first = end;
    }
}

// Taylor terms: the fewest whose truncation x^P / P! is within its share,
// for offsets up to `most` (nufft_max_terms + 1 where none is).
int taylor_terms(const nufft_plan& plan, double most) {
    const double x = two_pi * most * plan.radius;
    int terms = 1;
    double remainder = x;
    while (terms <= nufft_max_terms && remainder > plan.truncation) {
        ++terms;
        remainder *= x / terms;
    }
    return terms;
}

// The least-squares line through the offsets of lines 0 … lines − 1, every
// one finite, so that Σ (m − m̄) = 0: eight lanes of Σ δ_m and
// Σ (m − m̄) δ_m, in one pass. Gives the fitted line's value at line 0 and its slope.
void least_squares(const double* offsets, std::int32_t lines, double& at_zero, double& slope) {
    constexpr std::int32_t lanes = 8;
    const double mean_m = 0.5 * static_cast<double>(lines - 1);
    double sums[lanes] = {}, moments[lanes] = {};
    std::int32_t m = 0;
    for (; m + lanes <= lines; m += lanes)
        for (std::int32_t j = 0; j < lanes; ++j) {
            sums[j] += offsets[m + j];
            moments[j] += (static_cast<double>(m + j) - mean_m) * offsets[m + j];
        }
    for (; m < lines; ++m) {
        sums[m % lanes] += offsets[m];
        moments[m % lanes] += (static_cast<double>(m) - mean_m) * offsets[m];
    }
    double sum = 0.0, covariance = 0.0;
    for (std::int32_t j = 0; j < lanes; ++j) {
        sum += sums[j];
        covariance += moments[j];
    }
    const double n = static_cast<double>(lines);
    const double variance = n * (n * n - 1.0) / 12.0;
    slope = covariance / variance;
    at_zero = sum / n - slope * mean_m;
}

// The progression a block's lines are taken from, and their largest offset
// from it (or the first that is not finite); the offsets are in work.offsets.
struct progression_fit {
    double first = 0.0;
    double increment = 0.0;
    double largest = 0.0;
};

// The progression through the first and last lines; then, where it leaves
// smaller offsets, the least-squares line through the offsets (not when term
// 1 can come from differences: the fit costs about as much).
progression_fit fit_progression(const nufft_plan& plan, instruction_set set, const double* frequencies,
                                std::int32_t lines, bool margins, double* offsets) {
    progression_fit p{frequencies[0], (frequencies[lines - 1] - frequencies[0]) / static_cast<double>(lines - 1)};
    p.largest = line_offsets(set, frequencies, lines, p.first, p.increment, offsets);
    const int terms = taylor_terms(plan, p.largest);
    const bool fit = p.largest > 0.0 && std::isfinite(p.largest) && terms > 1 &&
                     !(terms == 2 && (differences_suffice(plan, lines, p.increment, p.largest) ||
                                      (margins && wide_differences_suffice(plan, p.increment, p.largest))));
    if (!fit) return p;
    double at_zero = 0.0, slope = 0.0;
    least_squares(offsets, lines, at_zero, slope);
    const progression_fit fitted{p.first + at_zero, p.increment + slope};
    const double largest = line_offsets(set, frequencies, lines, fitted.first, fitted.increment, offsets);
    if (largest < p.largest) return {fitted.first, fitted.increment, largest};
    line_offsets(set, frequencies, lines, p.first, p.increment, offsets);
    return p;
}

// One pass over the samples for the fitted progression, with `terms` Taylor
// terms, term 1 from differences where `differences` (by the wide stencil
// where `wide`: the grid then holds its reach past either end as well).
void one_pass(const nufft_plan& plan, instruction_set set, row_group rows, const double* frequencies,
              std::int32_t lines, std::int32_t points, const progression_fit& p, int terms, bool differences,
              bool wide, nufft_work& work, const group_results& out, int threads) {
    const std::int32_t margin = wide ? wide_reach : 0;
    const int grids = differences || wide ? 1 : terms;
    spread_and_transform(plan, set, rows, p.first, p.increment, -static_cast<double>(margin), points, grids, work,
                         threads);
    double* const offsets = work.offsets.get();
    // Offsets whose whole phase 2π δ t_k is within the truncation's share are
    // dropped: the lines are then taken as the progression's.
    const bool negligible =
        terms == 1 && two_pi * p.largest * (plan.radius + std::fabs(plan.centre)) <= plan.truncation;
    const progression_lines at{frequencies, p.largest == 0.0 || negligible ? nullptr : offsets, p.first, p.increment};
    if (!differences && !wide) return deconvolve(plan, set, rows, points, lines, terms, at, work, out);
    // Term 0's lines corrected a chunk ahead of their deconvolution, so that
    // the stencils find them in cache (lines counted from the margin's first).
    const difference_stencil stencil = make_stencil(plan, p.increment, wide);
    const std::int32_t ahead = margin + (wide ? wide_reach : 2);
    constexpr std::int32_t chunk = 2048;
    for (std::int32_t from = 0; from < lines; from += chunk) {
        const std::int32_t to = std::min(lines, from + chunk);
        correct_lines(plan, set, rows, points, from == 0 ? 0 : from + ahead, std::min(lines + 2 * margin, to + ahead),
                      work);
        deconvolve(plan, set, rows, points, lines, terms, at, work, out, &stencil, from, to);
    }
}

}  // namespace

void block(const nufft_plan& plan, instruction_set set, row_group rows, const double* frequencies,
           std::int32_t count, nufft_work& work, group_results out, int threads, bool margins) {
    std::int32_t a = 0, b = count - 1;
    while (a < count && !std::isfinite(frequencies[a])) ++a;
    while (b > a && !std::isfinite(frequencies[b])) --b;
    if (a >= count) return;
    frequencies += a;
    out = out.from(a);
    const std::int32_t lines = b - a + 1;
    const std::int32_t points = grid_points(plan, lines);
    if (lines == 1 || direct_is_cheaper(plan, lines, points, 1))
        return direct_sums(plan, rows, frequencies, lines, work, out);
    // A list's block with room on its grid for the wide stencil's margins.
    const std::int32_t widened = lines + 2 * wide_reach;
    const bool room = margins && widened <= plan.block_lines && grid_points(plan, widened) == points &&
                      widened <= lines_on(plan.upsampling, points);
    const progression_fit p = fit_progression(plan, set, frequencies, lines, room, work.offsets.get());
    const bool finite = std::isfinite(p.largest) && std::isfinite(p.increment);
    const double x = p.largest == 0.0 || !finite ? 0.0 : two_pi * p.largest * plan.radius;
    const int terms = p.largest == 0.0 || !finite ? 1 : taylor_terms(plan, p.largest);
    // Term 1 from differences of term 0's lines, where they are close enough.
    const bool differences = finite && terms == 2 && differences_suffice(plan, lines, p.increment, p.largest);
    const bool wide = !differences && room && finite && terms == 2 &&
                      wide_differences_suffice(plan, p.increment, p.largest);
    const int grids = differences || wide ? 1 : terms;
    const double pass_cost =
        static_cast<double>(plan.count) * sample_pass_cost(plan, grids) + grids * fft_pass_cost(points);
    const bool pass = finite && x <= largest_offset_phase && terms <= nufft_max_terms &&
                      (grids == 1 || !runs_are_cheaper(plan, frequencies, lines, pass_cost));
    if (!pass) return exact_runs(plan, set, rows, frequencies, lines, work, out, threads);
    one_pass(plan, set, rows, frequencies, lines, points, p, terms, differences, wide, work, out, threads);
}

}  // namespace trapft::nufft

namespace trapft {

void nufft_evaluate(const nufft_plan& plan, const double* frequencies, std::int32_t count, nufft_work& work,
                double* real, double* imaginary, int threads, std::size_t row_stride) {
    threads = std::clamp(threads, 1, work.threads);
    nufft::by_groups(plan, work, count, real, imaginary, row_stride,
                     [&](row_group rows, const group_results& out) {
                         nufft::block(plan, plan.instruction_set, rows, frequencies, count, work, out, threads);
                     });
}

}  // namespace trapft
