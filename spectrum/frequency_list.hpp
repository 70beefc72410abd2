// The fast evaluation of the caller's frequencies, in any order: sorted, evaluated a block at a time, put back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "spectrum/nufft/nufft.hpp"
#include "spectrum/pages.hpp"

namespace trapft {

// Lines of a list sorted and evaluated together: the most that one sort
// takes, so that close frequencies far apart in the list share the engine's
// blocks. Depends on the list and the rows only, never on threads or parts.
std::int32_t list_block_lines(std::int64_t list_lines, std::int32_t rows, std::int32_t engine_block);

// The least and greatest finite frequency of a list; `any` false when none is finite.
struct finite_range {
    bool any = false;
    double lowest = 0.0;
    double highest = 0.0;
};
finite_range finite_extent(const double* frequencies, std::int64_t count);

// Whether the fast evaluation of the list needs the interpolation between
// lines: false only for a list that ascends, every frequency finite, close to
// a progression block by block (as numpy.linspace makes them).
bool needs_interpolation(const nufft_plan& plan, const double* frequencies, std::int64_t count);

// A list block's storage, reserved before the first line: the order of its
// finite frequencies, those frequencies sorted (or by stretches), and their
// sums in that order.
struct keyed_line {
    std::uint64_t key;  // the frequency's bits, made to sort as unsigned integers
    std::int32_t line;
};
struct list_work {
    page_vector<keyed_line> keyed, spare;  // for sorting
    page_vector<std::int32_t> order;
    page_vector<double> sorted;
    std::vector<std::int32_t> stretch_starts;  // for ordering by stretches instead
    page_array<double> real;
    page_array<double> imaginary;
    std::int32_t lines = 0;  // capacity of each row's sums
    nufft_list_work_owner engine;  // the interpolation's, where the plan has one
};

// Reserves `work` for blocks of `lines` lines of the plan's rows, evaluated
// by up to `threads` threads; false when memory runs out. May throw std::bad_alloc.
bool reserve_list_work(const nufft_plan& plan, list_work& work, std::int32_t lines, int threads);

// The sums of `count` listed frequencies (count ≤ the reserved lines) for
// every row of the plan, as nufft_evaluate gives them but in the list's order:
// row r's line j at real[r × row_stride + j]. The finite frequencies are
// interpolated from one progression where it serves them all
// (nufft_evaluate_cluster), else evaluated sorted, ties in list order (see
// nufft_evaluate_sorted): either way a line's result depends on its frequency
// and the list block's, and on their order only where they ascend close to
// progressions (then evaluated as a sweep's blocks). Lines whose frequency is
// not finite are left unspecified.
void evaluate_list(const nufft_plan& plan, const double* frequencies, std::int32_t count, list_work& work,
                   nufft_work& engine, double* real, double* imaginary, int threads, std::size_t row_stride);

}  // namespace trapft
