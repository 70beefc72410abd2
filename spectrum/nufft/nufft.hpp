// The fast evaluation: the sweep's small interface to the non-uniform FFT engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "trapft/samples.hpp"
#include "trapft/sweep.hpp"  // fast_evaluation_available

namespace trapft {

// The engine's state for one run's samples (built once, then only read, by
// every thread) and one thread's working storage; both are the engine's own.
struct nufft_plan;
struct nufft_work;
struct nufft_list_work;
struct nufft_plan_release {
    void operator()(nufft_plan* plan) const;
};
struct nufft_work_release {
    void operator()(nufft_work* work) const;
};
using nufft_plan_owner = std::unique_ptr<nufft_plan, nufft_plan_release>;
using nufft_work_owner = std::unique_ptr<nufft_work, nufft_work_release>;
struct nufft_list_work_release {
    void operator()(nufft_list_work* work) const;
};
using nufft_list_work_owner = std::unique_ptr<nufft_list_work, nufft_list_work_release>;

enum class nufft_status {
    ok,              // `plan` is ready
    not_applicable,  // a time, value or A is not finite: evaluate exactly
    unavailable,     // built without the fast evaluation
    instruction_set_unavailable,  // TRAPFT_ISA names no instruction set this processor runs
    out_of_memory,   // nothing prepared; no line has been evaluated
};

// Prepares the evaluation of each row of `samples` within `tolerance` × A,
// where A = Σ |w_k · x_k| with the trapezoid weights w_k of the samples in
// file order (or the samples' own weights) and that row's values, for a sweep of `lines` lines in all.
// Tolerance from 1e-14 to 0.1; the view is consistent with at least one row
// (the sweep checks both). Every row's results are bit for bit those of the
// row prepared alone; the rows share what depends on the times only.
// not_applicable when any row has a number that is not finite. The plan keeps
// pointers to the times and values, not copies: they must outlive it, unchanged.
// Up to `threads` threads (two at most are used); the plan does not depend on them.
nufft_status prepare_nufft(sample_rows samples, double tolerance, std::int64_t lines, nufft_plan_owner& plan,
                         int threads = 1);
inline nufft_status prepare_nufft(sample_view samples, double tolerance, std::int64_t lines, nufft_plan_owner& plan,
                                int threads = 1) {
    return prepare_nufft(sample_rows(samples), tolerance, lines, plan, threads);
}

// The lines of one block: the sweep cuts its whole grid (not its slice) into
// blocks of this many lines, so that every slice sees the same blocks. It
// depends only on what prepare_nufft was given.
std::int32_t nufft_block_lines(const nufft_plan& plan);

// The lines of one block of a list taken where it stands (see
// nufft_near_progressions): a block's, less the lines that term 1 may read
// past its ends, so that its grid holds those too.
std::int32_t nufft_progression_block_lines(const nufft_plan& plan);

// The rows the plan was prepared for.
std::int32_t nufft_rows(const nufft_plan& plan);

// Working storage for one block at a time, shared by up to `threads` threads
// (see nufft_evaluate), with the grids of up to four rows (more are taken four at
// a time); null when memory runs out.
nufft_work_owner make_nufft_work(const nufft_plan& plan, int threads);

// real[m] = Σ w_k x_k cos(2π f_m t_k) and imaginary[m] = −Σ w_k x_k sin(2π f_m t_k)
// (row r's at real[r × row_stride + m] and imaginary[r × row_stride + m])
// at the `count` frequencies f_m = frequencies[m] (1 ≤ count ≤ nufft_block_lines;
// the grid's running sum, so steps need not be exactly equal), each within
// tolerance × A of the sums with exact phases and exact arithmetic. Lines at
// frequencies that are not finite are left unspecified (the sweep evaluates
// them exactly). Up to `threads` threads (at most those make_nufft_work was
// given) may share the block; the results do not depend on it.
void nufft_evaluate(const nufft_plan& plan, const double* frequencies, std::int32_t count, nufft_work& work,
                double* real, double* imaginary, int threads, std::size_t row_stride = 0);

// Lists of frequencies. Prepares `plan` (prepare_nufft's, before any thread
// shares it) for finite frequencies from `lowest` to `highest`, sorted a
// block at a time: ok, or out_of_memory. Where the tolerance leaves too little
// for the interpolation between lines (below about 1.2e-13), the plan is left
// as it is, and lists are evaluated as blocks, exactly as a sweep's lines.
nufft_status prepare_nufft_lists(nufft_plan& plan, sample_rows samples, double lowest, double highest, int threads);

// Whether every block of `count` sorted finite frequencies (blocks of
// nufft_progression_block_lines) lies close to a progression, so that no
// interpolation is needed.
bool nufft_near_progressions(const nufft_plan& plan, const double* sorted, std::int64_t count);

// Whether prepare_nufft_lists gave the plan an interpolation.
bool nufft_interpolates_lists(const nufft_plan& plan);

// A thread's storage for lists, beside its nufft_work: null when memory runs
// out, or when the plan interpolates no list (none is needed then).
nufft_list_work_owner make_nufft_list_work(const nufft_plan& plan, int threads);

// As nufft_evaluate, at `count` finite frequencies sorted ascending, any
// number of them and any distance apart: lines lying close to a progression
// a block at a time as nufft_evaluate takes them, the others interpolated
// from progressions of their own (`list` may be null where
// make_nufft_list_work gave null).
void nufft_evaluate_sorted(const nufft_plan& plan, const double* sorted, std::int32_t count, nufft_work& work,
                           nufft_list_work* list, double* real, double* imaginary, int threads,
                           std::size_t row_stride = 0);

// Whether one progression from `lowest` to `highest` (the extremes of the
// finite ones of the `count` frequencies) serves them all as well as clusters
// of them would; then nufft_evaluate_cluster takes them in any order, and
// they are best given a `stretch` of frequency at a time, which the
// progression's sums for it fit in cache.
bool nufft_one_cluster(const nufft_plan& plan, const double* frequencies, std::int32_t count, double lowest,
                       double highest, nufft_list_work* list, double& stretch);

// As nufft_evaluate, at `count` frequencies in any order that nufft_one_cluster
// accepted with `lowest` and `highest`, from that one progression: each
// line's bits depend on it and the extremes only, not on the order.
void nufft_evaluate_cluster(const nufft_plan& plan, const double* frequencies, std::int32_t count, double lowest,
                            double highest, nufft_work& work, nufft_list_work& list, double* real, double* imaginary,
                            int threads, std::size_t row_stride = 0);

}  // namespace trapft
