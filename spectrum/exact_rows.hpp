// The exact evaluation of several rows on one time axis, each sample's cosine and sine made once for every row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "spectrum/spectrum.hpp"
#include "trapft/samples.hpp"

namespace trapft {

// Rows side by side in lanes: the values of rows 8g to 8g + 7 at sample k
// are lanes[(g × n + k) × 8 ...], rows past the last zero. Made once per
// sweep; the lanes sum exactly as evaluate_sums sums one row.
struct exact_rows {
    static constexpr std::int32_t lanes_per_group = 8;
    sample_rows samples;
    std::int32_t groups = 0;
    std::vector<double> lanes;
    // Sums one group over one table (the widest vectors this processor runs).
    void (*sum_group)(const double* t, const double* x, std::int32_t first, std::int32_t size, const double* cosines,
                      const double* sines, double* state) = nullptr;
};

// The rows of `samples` in lanes. Throws std::bad_alloc.
void make_exact_rows(sample_rows samples, exact_rows& out);

// Per-thread tables: one table's worth of cosines and sines, ones, and each
// group's running sums. Throws std::bad_alloc.
struct exact_rows_work {
    double cosines[table_samples];
    double sines[table_samples];
    double ones[table_samples];
    std::vector<double> state;
    explicit exact_rows_work(const exact_rows& rows);
};

// Every row's sums at `frequency` into sums[r × stride], bit for bit
// evaluate_sums on that row alone.
void evaluate_rows(const exact_rows& rows, double frequency, exact_rows_work& work, spectrum_sums* sums,
                   std::size_t stride);

}  // namespace trapft
