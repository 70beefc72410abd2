// The fast evaluation of the caller's frequencies, in any order: sorted, evaluated a block at a time, put back.
#include "spectrum/frequency_list.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <functional>
#include <limits>

#include "spectrum/nufft/vectors.hpp"

namespace trapft {

std::int32_t list_block_lines(std::int64_t list_lines, std::int32_t rows, std::int32_t engine_block) {
    // About 2^22 sums in all (64 MiB for each of the block's two copies).
    constexpr std::int64_t most_sums = std::int64_t{1} << 22;
    const std::int64_t per_row = std::max<std::int64_t>(most_sums / std::max(rows, 1), engine_block);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(list_lines, 1, per_row));
}

finite_range finite_extent(const double* frequencies, std::int64_t count) {
    // Pairs of lanes without branches, which every target has as vectors
    // (f − f is 0 just where f is finite); a zero end may come out as either zero.
    using nufft::vector2;
    constexpr double infinity = std::numeric_limits<double>::infinity();
    vector2 lowest[2] = {vector2{} + infinity, vector2{} + infinity};
    vector2 highest[2] = {-lowest[0], -lowest[0]};
    std::int64_t j = 0;
    for (; j + 4 <= count; j += 4)
        for (int half = 0; half < 2; ++half) {
            vector2 f;
            nufft::load(f, frequencies + j + 2 * half);
            const auto finite = nufft::equal(f - f, vector2{});
            lowest[half] = nufft::choose(finite & nufft::less(f, lowest[half]), f, lowest[half]);
            highest[half] = nufft::choose(finite & nufft::less(highest[half], f), f, highest[half]);
        }
    finite_range range{false, infinity, -infinity};
    for (int lane = 0; lane < 4; ++lane) {
        range.lowest = std::min(range.lowest, lowest[lane / 2][lane % 2]);
        range.highest = std::max(range.highest, highest[lane / 2][lane % 2]);
    }
    for (; j < count; ++j)
        if (std::isfinite(frequencies[j])) {
            range.lowest = std::min(range.lowest, frequencies[j]);
            range.highest = std::max(range.highest, frequencies[j]);
        }
    range.any = range.lowest <= range.highest;
    if (!range.any) range.lowest = range.highest = 0.0;
    return range;
}

namespace {

// Whether every frequency is finite and none is below the one before.
bool ascends_finite(const double* frequencies, std::int64_t count) {
    for (std::int64_t j = 0; j < count; ++j)
        if (!std::isfinite(frequencies[j]) || (j > 0 && frequencies[j - 1] > frequencies[j])) return false;
    return true;
}

}  // namespace

bool needs_interpolation(const nufft_plan& plan, const double* frequencies, std::int64_t count) {
    return !ascends_finite(frequencies, count) || !nufft_near_progressions(plan, frequencies, count);
}

bool reserve_list_work(const nufft_plan& plan, list_work& work, std::int32_t lines, int threads) {
    const std::int32_t rows = nufft_rows(plan);
    const auto size = static_cast<std::size_t>(lines);
    work.order.reserve(size);
    work.sorted.reserve(size);
    work.keyed.reserve(size);
    work.spare.reserve(size);
    work.real = make_page_array<double>(size * static_cast<std::size_t>(rows));
    work.imaginary = make_page_array<double>(size * static_cast<std::size_t>(rows));
    work.lines = lines;
    work.stretch_starts.reserve(size + 2);
    work.engine = make_nufft_list_work(plan, threads);
    return work.engine != nullptr || !nufft_interpolates_lists(plan);
}

namespace {

// A double's bits as an unsigned integer of the same order (−0 before +0), and back.
std::uint64_t sort_key(double f) {
    const auto bits = std::bit_cast<std::uint64_t>(f);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}
double key_frequency(std::uint64_t key) {
    return std::bit_cast<double>((key >> 63) != 0 ? key & ~(std::uint64_t{1} << 63) : ~key);
}

// Sorts `keyed` by key, equal keys in their order, eleven bits at a time
// from the lowest, every digit's counts taken in one pass first (a digit
// that every key shares is skipped); `spare` is the same size.
void radix_sort(page_vector<keyed_line>& keyed, page_vector<keyed_line>& spare) {
    constexpr int bits = 11;
    constexpr int digits = (64 + bits - 1) / bits;
    constexpr std::size_t buckets = std::size_t{1} << bits;
    std::array<std::array<std::size_t, buckets>, digits> counts{};
    for (const keyed_line& k : keyed)
        for (int d = 0; d < digits; ++d) ++counts[static_cast<std::size_t>(d)][(k.key >> (d * bits)) & (buckets - 1)];
    for (int d = 0; d < digits; ++d) {
        const int shift = d * bits;
        std::array<std::size_t, buckets>& at = counts[static_cast<std::size_t>(d)];
        if (at[(keyed.front().key >> shift) & (buckets - 1)] == keyed.size()) continue;
        std::size_t start = 0;
        for (std::size_t& c : at) {
            const std::size_t here = c;
            c = start;
            start += here;
        }
        for (const keyed_line& k : keyed) spare[at[(k.key >> shift) & (buckets - 1)]++] = k;
        keyed.swap(spare);
    }
}

// The finite frequencies in ascending order into work.sorted, and where each
// came from into work.order: as they stand when they ascend already, reversed
// when they descend, else sorted by frequency (−0 before +0), then place in the list.
void sort_finite(const double* frequencies, std::int32_t count, list_work& work) {
    work.order.clear();
    work.sorted.clear();
    bool ascending = true, descending = true;
    for (std::int32_t j = 0; j < count; ++j) {
        const double f = frequencies[j];
        if (!std::isfinite(f)) continue;
        if (!work.sorted.empty()) {
            ascending = ascending && work.sorted.back() <= f;
            descending = descending && work.sorted.back() >= f;
        }
        work.order.push_back(j);
        work.sorted.push_back(f);
    }
    if (ascending) return;
    if (descending) {
        std::reverse(work.order.begin(), work.order.end());
        std::reverse(work.sorted.begin(), work.sorted.end());
        return;
    }
    work.keyed.clear();
    for (const std::int32_t j : work.order) work.keyed.push_back({sort_key(frequencies[j]), j});
    work.spare.resize(work.keyed.size());
    radix_sort(work.keyed, work.spare);
    for (std::size_t i = 0; i < work.keyed.size(); ++i) {
        work.order[i] = work.keyed[i].line;
        work.sorted[i] = key_frequency(work.keyed[i].key);
    }
}

// The finite frequencies in order of the stretch of `stretch` from `lowest`
// that holds each (list order within a stretch) into work.sorted, and where
// each came from into work.order: one counting pass and one placing pass.
void order_by_stretch(const double* frequencies, std::int32_t count, double lowest, double highest, double stretch,
                      list_work& work) {
    // (By a product with the inverse, not a division: any rule that gives
    // each frequency one stretch serves.)
    const double per_stretch = 1.0 / stretch;
    const auto last =
        std::min(static_cast<std::size_t>((highest - lowest) * per_stretch), work.stretch_starts.capacity() - 2);
    const auto stretch_of = [&](double f) {
        return std::min(static_cast<std::size_t>((f - lowest) * per_stretch), last);
    };
    std::vector<std::int32_t>& starts = work.stretch_starts;
    starts.assign(last + 2, 0);
    for (std::int32_t j = 0; j < count; ++j)
        if (std::isfinite(frequencies[j])) ++starts[stretch_of(frequencies[j]) + 1];
    for (std::size_t k = 1; k < starts.size(); ++k) starts[k] += starts[k - 1];
    work.sorted.resize(static_cast<std::size_t>(starts.back()));
    work.order.resize(static_cast<std::size_t>(starts.back()));
    for (std::int32_t j = 0; j < count; ++j) {
        if (!std::isfinite(frequencies[j])) continue;
        const auto at = static_cast<std::size_t>(starts[stretch_of(frequencies[j])]++);
        work.sorted[at] = frequencies[j];
        work.order[at] = j;
    }
}

// Each row's sums of work.sorted's lines back to their places in the list.
void put_back(const nufft_plan& plan, const list_work& work, double* real, double* imaginary, std::size_t row_stride) {
    const auto stride = static_cast<std::size_t>(work.lines);
    for (std::int32_t r = 0; r < nufft_rows(plan); ++r) {
        const double* const sorted_real = work.real.get() + static_cast<std::size_t>(r) * stride;
        const double* const sorted_imaginary = work.imaginary.get() + static_cast<std::size_t>(r) * stride;
        double* const row_real = real + static_cast<std::size_t>(r) * row_stride;
        double* const row_imaginary = imaginary + static_cast<std::size_t>(r) * row_stride;
        for (std::size_t i = 0; i < work.order.size(); ++i) {
            const auto j = static_cast<std::size_t>(work.order[i]);
            row_real[j] = sorted_real[i];
            row_imaginary[j] = sorted_imaginary[i];
        }
    }
}

}  // namespace

void evaluate_list(const nufft_plan& plan, const double* frequencies, std::int32_t count, list_work& work,
                   nufft_work& engine, double* real, double* imaginary, int threads, std::size_t row_stride) {
    // Finite, ascending and near progressions already (or the plan has no
    // interpolation, which the sweep leaves out for lists it needs none for):
    // evaluated where they stand.
    if (nufft_interpolates_lists(plan) ? !needs_interpolation(plan, frequencies, count)
                                       : ascends_finite(frequencies, count))
        return nufft_evaluate_sorted(plan, frequencies, count, engine, work.engine.get(), real, imaginary, threads,
                                     row_stride);
    const finite_range range = finite_extent(frequencies, count);
    if (!range.any) return;
    const auto stride = static_cast<std::size_t>(work.lines);
    double stretch = 0.0;
    if (nufft_one_cluster(plan, frequencies, count, range.lowest, range.highest, work.engine.get(), stretch)) {
        // One progression for them all: in place when they ascend or
        // descend, else a stretch at a time, so that the reads of its sums
        // stay close.
        if (std::is_sorted(frequencies, frequencies + count) ||
            std::is_sorted(frequencies, frequencies + count, std::greater<>()))
            return nufft_evaluate_cluster(plan, frequencies, count, range.lowest, range.highest, engine, *work.engine,
                                          real, imaginary, threads, row_stride);
        order_by_stretch(frequencies, count, range.lowest, range.highest, stretch, work);
        nufft_evaluate_cluster(plan, work.sorted.data(), static_cast<std::int32_t>(work.sorted.size()), range.lowest,
                               range.highest, engine, *work.engine, work.real.get(), work.imaginary.get(), threads,
                               stride);
    } else {
        sort_finite(frequencies, count, work);
        nufft_evaluate_sorted(plan, work.sorted.data(), static_cast<std::int32_t>(work.sorted.size()), engine,
                              work.engine.get(), work.real.get(), work.imaginary.get(), threads, stride);
    }
    // Put back in list order from their own sums: writing each line where it
    // belongs as it comes would miss the cache at every line.
    put_back(plan, work, real, imaginary, row_stride);
}

}  // namespace trapft
