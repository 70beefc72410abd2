// Several rows' exact sums at one frequency: the phases once, the rows eight lanes at a time.
#include "spectrum/exact_rows.hpp"

#include <algorithm>

#include "spectrum/instruction_set.hpp"
#include "spectrum/phase_tables.hpp"

#define TRAPFT_ROWS_TARGET gnu::hot
#define TRAPFT_ROWS_WIDTH 2
#define TRAPFT_ROWS_FUNCTION sum_group_portable
#include "spectrum/exact_rows_lanes.hpp"

namespace trapft {
namespace rows_lanes {
#if defined(__x86_64__)
void sum_group_avx2(const double*, const double*, std::int32_t, std::int32_t, const double*, const double*, double*);
void sum_group_avx512(const double*, const double*, std::int32_t, std::int32_t, const double*, const double*,
                      double*);
#endif
}  // namespace rows_lanes

namespace {

constexpr std::int32_t group_rows = exact_rows::lanes_per_group;
constexpr std::size_t state_doubles = 4 * group_rows;  // sums and last products

// The widest lanes this processor runs (TRAPFT_ISA's choice when it names one):
// every set gives the same bits.
decltype(exact_rows::sum_group) group_function() {
    instruction_set set = best_instruction_set();
    if (!chosen_instruction_set(set)) set = best_instruction_set();
#if defined(__x86_64__)
    if (set == instruction_set::avx512) return rows_lanes::sum_group_avx512;
    if (set == instruction_set::avx2) return rows_lanes::sum_group_avx2;
#endif
    return rows_lanes::sum_group_portable;
}

}  // namespace

exact_rows_work::exact_rows_work(const exact_rows& rows)
    : state(static_cast<std::size_t>(rows.groups) * state_doubles) {
    std::fill(ones, ones + table_samples, 1.0);
}

void make_exact_rows(sample_rows samples, exact_rows& out) {
    const std::size_t n = samples.times.size();
    out.samples = samples;
    out.groups = (samples.rows + group_rows - 1) / group_rows;
    out.lanes.assign(static_cast<std::size_t>(out.groups) * n * group_rows, 0.0);
    out.sum_group = group_function();
    for (std::int32_t r = 0; r < samples.rows; ++r) {
        const sample_view row = samples.row(r);
        double* const group = out.lanes.data() + static_cast<std::size_t>(r / group_rows) * n * group_rows;
        for (std::size_t k = 0; k < n; ++k) group[k * group_rows + static_cast<std::size_t>(r % group_rows)] = row.values[k];
    }
}

void evaluate_rows(const exact_rows& rows, double frequency, exact_rows_work& work, spectrum_sums* sums,
                   std::size_t stride) {
    const auto n = static_cast<std::int32_t>(rows.samples.times.size());
    const double* const t = rows.samples.times.data();
    const double omega = exact_angular_frequency(frequency);
    // Every group summed a table at a time, so that the table stays in cache;
    // the groups' running sums wait in `state` between tables.
    double* const state = work.state.data();
    std::fill(work.state.begin(), work.state.end(), 0.0);
    for (std::int32_t first = 0; first < n; first += table_samples) {
        const std::int32_t size = std::min(table_samples, n - first);
        // cos and sin of each phase, as the one-row tables make them, times 1.
        fill_phase_tables(t + first, work.ones, size, omega, work.cosines, work.sines);
        for (std::int32_t g = 0; g < rows.groups; ++g) {
            const double* const x = rows.lanes.data() + static_cast<std::size_t>(g) * static_cast<std::size_t>(n) * group_rows;
            rows.sum_group(t, x, first, size, work.cosines, work.sines, state + static_cast<std::size_t>(g) * state_doubles);
        }
    }
    for (std::int32_t r = 0; r < rows.samples.rows; ++r) {
        const double* const group = state + static_cast<std::size_t>(r / group_rows) * state_doubles;
        sums[static_cast<std::size_t>(r) * stride] = {group[r % group_rows], group[group_rows + r % group_rows]};
    }
}

}  // namespace trapft
