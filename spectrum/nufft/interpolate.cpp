// Frequencies anywhere: the sums on a fine progression, interpolated to each frequency by the kernel.
#include "spectrum/nufft/interpolate.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "spectrum/nufft/block.hpp"
#include "spectrum/nufft/direct.hpp"
#include "spectrum/nufft/evaluate.hpp"
#include "spectrum/nufft/heuristics.hpp"
#include "spectrum/nufft/kernel.hpp"
#include "spectrum/nufft/prepare.hpp"
#include "spectrum/nufft/stages.hpp"
#include "spectrum/nufft/stencils.hpp"
#include "spectrum/nufft/table_cache.hpp"
#include "spectrum/nufft/weights.hpp"
#include "spectrum/phase_reduction.hpp"
#include "trapft/limits.hpp"

namespace trapft::nufft {
namespace {

// The interpolation's kernel is upsampling 2's: the least gain, so the most
// tolerance left for the inner evaluation.
constexpr int upsampling = 0;
constexpr double sigma = 2.0;
// Entries of the table of 1 / φ̂ over ξ in [0, 1/(2σ)], read by cubic interpolation.
constexpr std::int32_t correction_entries = 1 << 16;
// Most points of one progression, for all rows together.
constexpr std::int64_t most_sums = std::int64_t{1} << 21;

// 1 / φ̂(ξ) for 0 ≤ ξ ≤ 1/(2σ), by the cubic through the four nearest entries
// of `table` (entry j at ξ = j / (2σ·entries)): within 1e-16 relatively, far
// inside the kernel's error.
double inverse_transform(const std::vector<double>& table, double xi) {
    const double x = xi * (2.0 * sigma * correction_entries);
    const auto last = static_cast<std::int32_t>(table.size()) - 1;
    const std::int32_t s = std::clamp(static_cast<std::int32_t>(x) - 1, 0, last - 3);
    const double u = x - s;  // in [0, 3]
    const double a = table[static_cast<std::size_t>(s)], b = table[static_cast<std::size_t>(s + 1)];
    const double c = table[static_cast<std::size_t>(s + 2)], d = table[static_cast<std::size_t>(s + 3)];
    return -a * (u - 1) * (u - 2) * (u - 3) / 6 + b * u * (u - 2) * (u - 3) / 2 - c * u * (u - 1) * (u - 3) / 2 +
           d * u * (u - 1) * (u - 2) / 6;
}

// The trapezoid's weight of sample k, or the caller's.
double sample_weight(const nufft_plan& plan, std::int32_t k) {
    if (plan.weights != nullptr) return plan.weights[k];
    const std::int32_t n = plan.count;
    if (n < 2) return 0.0;
    const double* const t = plan.times;
    return weight(t[std::min(k + 1, n - 1)], t[std::max(k - 1, 0)], 1.0);
}

// The most a row's sum of |c_k x_k / φ̂(hτ_k)| can be over its A = Σ|c_k x_k|,
// times `sum_bound` (the most the kernel's values add up to): the inner sums'
// errors weigh this much in a line. At most `bound`, which it is where no row
// gives a finite ratio; samples near the ends of the times weigh the most,
// but most samples lie inside.
double inner_weight(const nufft_plan& plan, const std::vector<double>& weights, double sum_bound, double bound) {
    double worst = 0.0;
    for (std::int32_t r = 0; r < plan.rows; ++r) {
        const double* const x = plan.values + static_cast<std::size_t>(r) * static_cast<std::size_t>(plan.count);
        double inner = 0.0;
        for (std::int32_t k = 0; k < plan.count; ++k) inner += std::fabs(weights[static_cast<std::size_t>(k)] * x[k]);
        const double total = plan.total[static_cast<std::size_t>(r)];
        if (total > 0.0) worst = std::max(worst, inner / total);
    }
    // The sums are rounded: a margin of 2^-20 covers them many times over.
    const double weight = sum_bound * worst * (1.0 + 0x1p-20);
    return std::isfinite(weight) && weight > 0.0 ? std::min(weight, bound) : bound;
}

}  // namespace

std::shared_ptr<const list_plan> make_list_plan(const nufft_plan& plan, sample_rows samples, double lowest,
                                                double highest, int threads) {
    const double eps = plan.tolerance;
    int width = 3;
    while (width < kernel_max_width && kernel_error(width, upsampling) * kernel_growth > eps / 4) ++width;
    const double error = kernel_error(width, upsampling) * kernel_growth;
    const double step = 1.0 / (2.0 * sigma * plan.radius);
    if (error > eps / 4 || !std::isfinite(step) || !(step > 0.0)) return nullptr;

    auto lp = std::make_shared<list_plan>();
    lp->width = width;
    lp->degree = kernel_degree(width);
    lp->lanes = (width + 7) / 8 * 8;
    lp->kernel = cached_kernel_pieces(width, upsampling, lp->degree, lp->lanes);
    lp->step = step;
    const double span = (highest - lowest) / step + 2.0 * width + 16.0;  // a cluster's points, and some to spare
    const std::int64_t per_row = std::max<std::int64_t>(most_sums / std::max(plan.rows, 1), 4096);
    lp->most_points = static_cast<std::int32_t>(std::clamp<double>(span, 4.0 * width + 8.0, static_cast<double>(per_row)));
    lp->row_points = lp->most_points + lp->lanes;

    std::vector<double> table(static_cast<std::size_t>(correction_entries) + 1);
    cached_kernel_correction(width, upsampling, correction_entries, table.data());
    lp->weights.resize(static_cast<std::size_t>(plan.count));
    for (std::int32_t k = 0; k < plan.count; ++k) {
        const double xi = std::min(std::fabs(plan.times[k] - plan.centre) * step, 0.5 / sigma);
        lp->weights[static_cast<std::size_t>(k)] = sample_weight(plan, k) * inverse_transform(table, xi);
    }
    // The inner sums' share: what the kernel's error leaves, over the weight
    // their errors have in a line (the kernel's gain at most).
    const double gain = kernel_gain(width, upsampling);
    const double weight = inner_weight(plan, lp->weights, gain / table.back(), gain);
    const double inner_tolerance = std::min(max_tolerance, (eps - error - 64 * unit_roundoff * weight) / weight);
    if (!(inner_tolerance >= min_tolerance)) return nullptr;
    const sample_rows inner(samples.times, samples.values, samples.rows, lp->weights);
    // Grids in proportion to the progressions, which the list's sums take
    // already, so that a progression takes a pass or two over the samples;
    // the blocks' choice counts a grid for every Taylor term, of which a
    // progression uses the first alone.
    const std::size_t memory = std::max(grid_memory, 4 * point_bytes * static_cast<std::size_t>(lp->most_points)) *
                               (nufft_max_terms + 1) / 2;
    if (prepare_plan(inner, inner_tolerance, lp->most_points, -1, threads, lp->inner, memory) != nufft_status::ok)
        return nullptr;
    return lp;
}

namespace {

// At least the largest offset of sorted finite lines f_m from the progression
// f_0 + m·increment, in plain arithmetic: each rounded offset is within a few
// units of the last place of the sizes involved of the exact one.
double offset_bound(const double* f, std::int32_t lines, double increment) {
    // (Eight lanes, so that the largest is not one long chain of comparisons.)
    constexpr std::int32_t lanes = 8;
    double most[lanes] = {};
    std::int32_t i = 0;
    for (; i + lanes <= lines; i += lanes)
        for (std::int32_t l = 0; l < lanes; ++l)
            most[l] = std::max(most[l], std::fabs(f[i + l] - (f[0] + static_cast<double>(i + l) * increment)));
    for (; i < lines; ++i) most[0] = std::max(most[0], std::fabs(f[i] - (f[0] + static_cast<double>(i) * increment)));
    const double largest = *std::max_element(most, most + lanes);
    const double size = std::fabs(f[0]) + 2.0 * std::fabs(f[lines - 1] - f[0]) + std::fabs(f[lines - 1]) + largest;
    return largest + 4.0 * unit_roundoff * size;
}

// Whether offsets up to `largest` leave one pass with few Taylor terms.
bool few_terms(const nufft_plan& plan, double largest) {
    const double x = two_pi * largest * plan.radius;
    return std::isfinite(x) && x <= largest_offset_phase && x * x * x / 6 <= plan.truncation;
}

}  // namespace

// Whether a block of sorted lines lies close enough to the progression
// through its ends for one pass with few Taylor terms (as block takes it):
// the exact offsets are worked out only where a bound on them does not settle it.
bool near_progression(const nufft_plan& plan, const double* f, std::int32_t lines, double* offsets) {
    if (lines < 3) return true;
    const double increment = (f[lines - 1] - f[0]) / static_cast<double>(lines - 1);
    if (few_terms(plan, offset_bound(f, lines, increment))) return true;
    return few_terms(plan, line_offsets(plan.instruction_set, f, lines, f[0], increment, offsets));
}

namespace {

// Whether summing `lines` lines directly costs less than a progression of `points`.
bool direct_cheaper(const nufft_plan& plan, const list_plan& lp, std::int32_t lines, double points) {
    const nufft_plan& inner = *lp.inner;
    const double samples = static_cast<double>(plan.count);
    const double passes = std::ceil(points / inner.block_lines);
    const double progression = passes * (samples * sample_pass_cost(inner, 1) + fft_pass_cost(inner.block_points)) +
                               lines * lp.width * (lp.degree + 8.0);
    return static_cast<double>(lines) * samples * direct_cost <= progression;
}

// Where a cluster's progression starts, and how many points it takes, for
// lines from `lowest` to `highest`: a kernel's width and some to spare either side.
double cluster_first(const list_plan& lp, double lowest) { return lowest - (lp.width + 1.0) * lp.step; }
double cluster_points(const list_plan& lp, double lowest, double highest) {
    return (highest - lowest) / lp.step + 2.0 * lp.width + 4.0;
}

// Whether a progression resolves lines out to `largest` in size: their
// doubles at least a thousand apart within a step (else they are summed directly).
bool resolves(const list_plan& lp, double lowest, double largest) {
    return std::ldexp(largest, -42) <= lp.step && std::isfinite(cluster_first(lp, lowest));
}

// A gap of more points than a pass over the samples costs starts a new cluster.
double cluster_gap(const nufft_plan& plan) {
    return std::max(64.0, static_cast<double>(plan.count) / 2.0) * plan.lists->step;
}

// The most a cluster spans.
double cluster_span(const list_plan& lp) { return (lp.most_points - 2.0 * lp.width - 8.0) * lp.step; }

// Lines [0, count) of f (in any order; those not finite skipped), all from
// `lowest` to `highest`, from one progression around them.
void interpolate_cluster(const nufft_plan& plan, row_group rows, const double* f, std::int32_t count, double lowest,
                         double highest, nufft_list_work& storage, const group_results& out, int threads) {
    const list_plan& lp = *plan.lists;
    const double first = cluster_first(lp, lowest);
    const auto size = static_cast<std::int32_t>(cluster_points(lp, lowest, highest));
    double* const sums = storage.sums.get();
    const group_results at{lp.real_sums(sums, 0), lp.imaginary_sums(sums, 0), 2 * static_cast<std::size_t>(lp.row_points)};
    progression(*lp.inner, lp.inner->instruction_set, rows, first, lp.step, size, *storage.inner, at, threads);
    stages_for(plan.instruction_set).interpolate(plan, rows, f, count, first, size, sums, out);
}

}  // namespace

void interpolate(const nufft_plan& plan, row_group rows, const double* sorted, std::int32_t count, nufft_work& work,
                 nufft_list_work& storage, const group_results& out, int threads) {
    const list_plan& lp = *plan.lists;
    const double gap = cluster_gap(plan);
    const double span = cluster_span(lp);
    std::int32_t i = 0;
    while (i < count) {
        std::int32_t j = i + 1;
        while (j < count && sorted[j] - sorted[j - 1] <= gap && sorted[j] - sorted[i] <= span) ++j;
        const std::int32_t lines = j - i;
        const group_results here = out.from(i);
        const double largest = std::max(std::fabs(sorted[i]), std::fabs(sorted[j - 1]));
        if (!resolves(lp, sorted[i], largest) ||
            direct_cheaper(plan, lp, lines, cluster_points(lp, sorted[i], sorted[j - 1]))) {
            for (std::int32_t from = 0; from < lines; from += plan.block_lines)
                direct_sums(plan, rows, sorted + i + from, std::min(plan.block_lines, lines - from), work, here.from(from));
        } else {
            interpolate_cluster(plan, rows, sorted + i, lines, sorted[i], sorted[j - 1], storage, here, threads);
        }
        i = j;
    }
}

bool one_cluster(const nufft_plan& plan, const double* f, std::int32_t count, double lowest, double highest,
                 nufft_list_work& storage) {
    const list_plan& lp = *plan.lists;
    const double largest = std::max(std::fabs(lowest), std::fabs(highest));
    if (!(highest - lowest <= cluster_span(lp)) || !resolves(lp, lowest, largest)) return false;
    // No gap that would start a new cluster: every stretch of a gap's width
    // between the ends holds a line.
    const double gap = cluster_gap(plan);
    const auto stretches = static_cast<std::size_t>((highest - lowest) / gap) + 1;
    std::vector<std::uint8_t>& held = storage.held;
    if (stretches > held.size()) return false;
    std::fill_n(held.begin(), stretches, std::uint8_t{0});
    std::int32_t lines = 0;
    for (std::int32_t m = 0; m < count; ++m) {
        if (!std::isfinite(f[m])) continue;
        held[std::min(static_cast<std::size_t>((f[m] - lowest) / gap), stretches - 1)] = 1;
        ++lines;
    }
    return std::all_of(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(stretches),
                       [](std::uint8_t h) { return h != 0; }) &&
           !direct_cheaper(plan, lp, lines, cluster_points(lp, lowest, highest));
}

void sorted_lines(const nufft_plan& plan, row_group rows, const double* sorted, std::int32_t count, nufft_work& work,
                  nufft_list_work* list, const group_results& out, int threads) {
    const std::int32_t block = plan.block_lines;
    std::int32_t i = 0;
    while (i < count) {
        const std::int32_t lines = std::min(block, count - i);
        if (list == nullptr || plan.lists == nullptr || near_progression(plan, sorted + i, lines, work.offsets.get())) {
            nufft::block(plan, plan.instruction_set, rows, sorted + i, lines, work, out.from(i), threads, true);
            i += lines;
            continue;
        }
        // The blocks from here that lie far from a progression, interpolated together.
        std::int32_t j = i + lines;
        while (j < count && !near_progression(plan, sorted + j, std::min(block, count - j), work.offsets.get()))
            j += std::min(block, count - j);
        interpolate(plan, rows, sorted + i, j - i, work, *list, out.from(i), threads);
        i = j;
    }
}

}  // namespace trapft::nufft

namespace trapft {

void nufft_list_work_release::operator()(nufft_list_work* work) const { delete work; }

nufft_status prepare_nufft_lists(nufft_plan& plan, sample_rows samples, double lowest, double highest, int threads) {
    try {
        plan.lists = nufft::make_list_plan(plan, samples, lowest, highest, threads);
    } catch (const std::bad_alloc&) {
        return nufft_status::out_of_memory;
    }
    return nufft_status::ok;
}

bool nufft_interpolates_lists(const nufft_plan& plan) { return plan.lists != nullptr; }

std::int32_t nufft_progression_block_lines(const nufft_plan& plan) {
    return plan.block_lines > 4 * nufft::wide_reach ? plan.block_lines - 2 * nufft::wide_reach : plan.block_lines;
}

bool nufft_near_progressions(const nufft_plan& plan, const double* sorted, std::int64_t count) {
    const std::int32_t block = nufft_progression_block_lines(plan);
    std::vector<double> offsets(static_cast<std::size_t>(block));
    for (std::int64_t i = 0; i < count; i += block) {
        const auto lines = static_cast<std::int32_t>(std::min<std::int64_t>(block, count - i));
        if (!nufft::near_progression(plan, sorted + i, lines, offsets.data())) return false;
    }
    return true;
}

nufft_list_work_owner make_nufft_list_work(const nufft_plan& plan, int threads) {
    if (plan.lists == nullptr) return nullptr;
    try {
        nufft_list_work_owner work(new nufft_list_work);
        const nufft::list_plan& lp = *plan.lists;
        const auto rows = static_cast<std::size_t>(std::min(plan.rows, nufft_row_group));
        work->sums = make_page_array<double>(2 * static_cast<std::size_t>(lp.row_points) * rows);
        work->held.resize(static_cast<std::size_t>(lp.most_points) / 64 + 2);
        work->inner = make_nufft_work(*plan.lists->inner, threads);
        if (work->inner == nullptr) return nullptr;
        return work;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool nufft_one_cluster(const nufft_plan& plan, const double* frequencies, std::int32_t count, double lowest,
                       double highest, nufft_list_work* list, double& stretch) {
    if (list == nullptr || plan.lists == nullptr) return false;
    // The sums of 4096 points, both parts, fill 64 KiB: they stay in the second-level cache
    // (measured against 1024 and 16384 points: the fewer stretches, the cheaper the ordering).
    stretch = 4096.0 * plan.lists->step;
    return nufft::one_cluster(plan, frequencies, count, lowest, highest, *list);
}

void nufft_evaluate_cluster(const nufft_plan& plan, const double* frequencies, std::int32_t count, double lowest,
                            double highest, nufft_work& work, nufft_list_work& list, double* real, double* imaginary,
                            int threads, std::size_t row_stride) {
    threads = std::clamp(threads, 1, work.threads);
    nufft::by_groups(plan, work, count, real, imaginary, row_stride, [&](row_group rows, const group_results& out) {
        nufft::interpolate_cluster(plan, rows, frequencies, count, lowest, highest, list, out, threads);
    });
}

void nufft_evaluate_sorted(const nufft_plan& plan, const double* sorted, std::int32_t count, nufft_work& work,
                           nufft_list_work* list, double* real, double* imaginary, int threads, std::size_t row_stride) {
    threads = std::clamp(threads, 1, work.threads);
    nufft::by_groups(plan, work, count, real, imaginary, row_stride, [&](row_group rows, const group_results& out) {
        nufft::sorted_lines(plan, rows, sorted, count, work, list, out, threads);
    });
}

}  // namespace trapft
