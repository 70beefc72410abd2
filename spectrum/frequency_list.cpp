// The fast evaluation of the caller's frequencies, in any order: sorted, evaluated a block at a time, put back.
#include "spectrum/frequency_list.hpp"

#include <algorithm>
#include <cmath>

namespace trapft {

std::int32_t list_block_lines(std::int64_t list_lines, std::int32_t rows, std::int32_t engine_block) {
    // About 2^22 sums in all (64 MiB for each of the block's two copies).
    constexpr std::int64_t most_sums = std::int64_t{1} << 22;
    const std::int64_t per_row = std::max<std::int64_t>(most_sums / std::max(rows, 1), engine_block);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(list_lines, 1, per_row));
}

finite_range finite_extent(const double* frequencies, std::int64_t count) {
    finite_range range;
    for (std::int64_t j = 0; j < count; ++j) {
        const double f = frequencies[j];
        if (!std::isfinite(f)) continue;
        range.lowest = range.any ? std::min(range.lowest, f) : f;
        range.highest = range.any ? std::max(range.highest, f) : f;
        range.any = true;
    }
    return range;
}

bool reserve_list_work(const nufft_plan& plan, list_work& work, std::int32_t lines, int threads) {
    const std::int32_t rows = nufft_rows(plan);
    const auto size = static_cast<std::size_t>(lines);
    work.order.reserve(size);
    work.sorted.reserve(size);
    work.keyed.reserve(size);
    work.real = std::make_unique_for_overwrite<double[]>(size * static_cast<std::size_t>(rows));
    work.imaginary = std::make_unique_for_overwrite<double[]>(size * static_cast<std::size_t>(rows));
    work.lines = lines;
    work.engine = make_nufft_list_work(plan, threads);
    return work.engine != nullptr || !nufft_interpolates_lists(plan);
}

namespace {

// The finite frequencies in ascending order into work.sorted, and where each
// came from into work.order: as they stand when they ascend already, reversed
// when they descend, else sorted by frequency, then place in the list.
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
    for (const std::int32_t j : work.order) work.keyed.push_back({frequencies[j], j});
    std::sort(work.keyed.begin(), work.keyed.end(), [](const keyed_line& a, const keyed_line& b) {
        return a.frequency < b.frequency || (a.frequency == b.frequency && a.line < b.line);
    });
    for (std::size_t i = 0; i < work.keyed.size(); ++i) {
        work.sorted[i] = work.keyed[i].frequency;
        work.order[i] = work.keyed[i].line;
    }
}

}  // namespace

void evaluate_list(const nufft_plan& plan, const double* frequencies, std::int32_t count, list_work& work,
                   nufft_work& engine, double* real, double* imaginary, int threads, std::size_t row_stride) {
    sort_finite(frequencies, count, work);

    const auto finite = static_cast<std::int32_t>(work.sorted.size());
    const auto stride = static_cast<std::size_t>(work.lines);
    nufft_evaluate_sorted(plan, work.sorted.data(), finite, engine, work.engine.get(), work.real.get(),
                          work.imaginary.get(), threads, stride);
    const std::int32_t rows = nufft_rows(plan);
    for (std::int32_t r = 0; r < rows; ++r) {
        const double* const sorted_real = work.real.get() + static_cast<std::size_t>(r) * stride;
        const double* const sorted_imaginary = work.imaginary.get() + static_cast<std::size_t>(r) * stride;
        double* const row_real = real + static_cast<std::size_t>(r) * row_stride;
        double* const row_imaginary = imaginary + static_cast<std::size_t>(r) * row_stride;
        for (std::int32_t i = 0; i < finite; ++i) {
            const auto j = static_cast<std::size_t>(work.order[static_cast<std::size_t>(i)]);
            row_real[j] = sorted_real[i];
            row_imaginary[j] = sorted_imaginary[i];
        }
    }
}

}  // namespace trapft
