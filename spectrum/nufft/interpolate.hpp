// Frequencies anywhere: the sums on a fine progression, interpolated to each frequency by the kernel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "spectrum/nufft/plan.hpp"
#include "spectrum/pages.hpp"

namespace trapft {
struct nufft_list_work;
}

namespace trapft::nufft {

// With τ = t − t_c, |τ| ≤ R, and the progression g_j = first + j·h,
// h = 1 / (2σR): e^(−2πi f τ) = Σ_j φ((f − g_j)/h) e^(−2πi g_j τ) / φ̂(hτ) within
// the kernel's error, the sum over the kernel's width around f (the type-1
// engine's spreading with the roles of time and frequency swapped). So
// X(f) = Σ_j φ_j S_j e^(−2πi (f − g_j) t_c), S_j the sums of the samples with
// weights c_k / φ̂(hτ_k) at g_j, which the engine evaluates as a progression
// within ε'·A' ≤ ε'·A·max(1/φ̂); times Σφ, the kernel's gain bounds that share.
struct list_plan {
    int width = 0;
    int degree = 0;
    int lanes = 0;
    std::vector<double> kernel;   // as nufft_plan::kernel, for upsampling 2
    double step = 0.0;            // h
    std::int32_t most_points = 0; // of one progression
    std::int32_t row_points = 0;  // the sums the work holds for each part of a row: most_points and a kernel's lanes
    std::vector<double> weights;  // w_k / φ̂(hτ_k), the inner plan's weights
    nufft_plan_owner inner;       // the samples with those weights, at the tolerance left

    // Row r's real and imaginary sums on a progression in the work's `sums`.
    std::size_t row_offset(std::int32_t r) const {
        return 2 * static_cast<std::size_t>(r) * static_cast<std::size_t>(row_points);
    }
    double* real_sums(double* sums, std::int32_t r) const { return sums + row_offset(r); }
    const double* real_sums(const double* sums, std::int32_t r) const { return sums + row_offset(r); }
    double* imaginary_sums(double* sums, std::int32_t r) const { return real_sums(sums, r) + row_points; }
    const double* imaginary_sums(const double* sums, std::int32_t r) const { return real_sums(sums, r) + row_points; }
};

// The interpolation's plan for lists between `lowest` and `highest` (finite),
// or null where the tolerance leaves the inner evaluation less than the
// engine's least (lists then take the blocks' way). Throws std::bad_alloc;
// null too when the inner plan cannot be made.
std::shared_ptr<const list_plan> make_list_plan(const nufft_plan& plan, sample_rows samples, double lowest,
                                                double highest, int threads);

// The sums of `count` sorted finite frequencies for a group of rows, through
// progressions of at most most_points points around clusters of them, or
// directly where a cluster is too sparse for one: within the plan's tolerance.
void interpolate(const nufft_plan& plan, row_group rows, const double* sorted, std::int32_t count, nufft_work& work,
                 nufft_list_work& storage, const group_results& out, int threads);

// Whether the `count` lines at f (in any order), whose finite ones lie from
// `lowest` to `highest`, make one cluster as interpolate would form them
// sorted, with no cheaper way of their own: then one progression serves them
// where they stand. Uses storage.held.
bool one_cluster(const nufft_plan& plan, const double* f, std::int32_t count, double lowest, double highest,
                 nufft_list_work& storage);

// Whether `lines` sorted lines lie close enough to the progression through
// their ends for one pass with few Taylor terms, as block takes them
// (`offsets` receives their offsets: room for `lines`).
bool near_progression(const nufft_plan& plan, const double* f, std::int32_t lines, double* offsets);

// A group of rows' sums at `count` sorted finite frequencies: the blocks near
// a progression as block takes them, the runs of others interpolated (when
// the plan and `list` allow; else every block as block takes it).
void sorted_lines(const nufft_plan& plan, row_group rows, const double* sorted, std::int32_t count, nufft_work& work,
                  nufft_list_work* list, const group_results& out, int threads);

}  // namespace trapft::nufft

namespace trapft {

// Storage for the interpolation of one list block at a time: every row's sums
// on a progression (list_plan::real_sums), room for one_cluster's marks, and
// the inner engine's work.
struct nufft_list_work {
    page_array<double> sums;  // written before they are read, so never cleared
    std::vector<std::uint8_t> held;  // one_cluster's marks, one a gap's width
    nufft_work_owner inner;
};

}  // namespace trapft
