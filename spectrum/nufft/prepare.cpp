// Preparing a run: the samples measured, the kernel and blocks chosen, the tables and transforms' plans made.
#include "spectrum/nufft/prepare.hpp"

#include <exception>
#include <new>

#include "spectrum/nufft/heuristics.hpp"
#include "spectrum/nufft/kernel.hpp"
#include "spectrum/nufft/plan.hpp"
#include "spectrum/nufft/stages.hpp"
#include "spectrum/nufft/table_cache.hpp"
#include "spectrum/nufft/transform.hpp"
#include "spectrum/parallel.hpp"

namespace trapft {
namespace nufft {
namespace {

// What depends only on the number of samples, the tolerance and the lines:
// the kernel, its tables, the block length and the transforms' plans.
void make_tables(std::int64_t lines, int upsampling, std::size_t memory, nufft_plan& plan) {
    const block_choice blocks = choose_blocks(plan.tolerance, plan.count, lines, upsampling, memory);
    plan.upsampling = blocks.kernel.upsampling;
    plan.width = blocks.kernel.width;
    plan.gain = blocks.kernel.gain;
    plan.rounding = blocks.kernel.rounding;
    plan.truncation = blocks.kernel.truncation;
    plan.block_points = static_cast<std::int32_t>(blocks.points);
    plan.block_lines = static_cast<std::int32_t>(blocks.lines);
    plan.degree = kernel_degree(plan.width);
    plan.lanes = (plan.width + 7) / 8 * 8;
    plan.kernel = cached_kernel_pieces(plan.width, plan.upsampling, plan.degree, plan.lanes);
    plan.subgrids = choose_subgrids(plan.count, plan.block_lines);
    plan.correction.resize(static_cast<std::size_t>(plan.block_lines / 2) + 1);
    cached_kernel_correction(plan.width, plan.upsampling, plan.block_lines / 2, plan.correction.data());
    make_plans(plan, lines);
}

// Prepares `plan`; false when a number is not finite. Throws std::bad_alloc.
// With a second thread, the tables are made while the samples are measured
// (the two fill different members of the plan). Neither depends on the
// other, so the plan is the same either way.
bool prepare(sample_rows samples, double tolerance, std::int64_t lines, int upsampling, std::size_t memory,
             instruction_set set, int threads, nufft_plan& plan) {
    plan.count = static_cast<std::int32_t>(samples.times.size());
    plan.tolerance = tolerance;
    plan.instruction_set = set;
    bool measured = false;
    if (threads < 2) {
        measured = stages_for(set).measure(samples, plan);
        if (measured) make_tables(lines, upsampling, memory, plan);
        return measured;
    }
    thread_team team(2);
    std::exception_ptr failures[2];
    run_tasks(&team, 2, 2, [&](int i) {
        try {
            if (i == 0) measured = stages_for(set).measure(samples, plan);
            else make_tables(lines, upsampling, memory, plan);
        } catch (...) {
            failures[i] = std::current_exception();
        }
    });
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
    return measured;
}

}  // namespace

nufft_status prepare_plan(sample_rows samples, double tolerance, std::int64_t lines, int upsampling, int threads,
                         nufft_plan_owner& plan, std::size_t memory) {
    instruction_set set = instruction_set::portable;
    if (!chosen_instruction_set(set)) return nufft_status::instruction_set_unavailable;
    try {
        nufft_plan_owner made(new nufft_plan);
        if (!prepare(samples, tolerance, lines, upsampling, memory, set, threads, *made))
            return nufft_status::not_applicable;
        plan = std::move(made);
        return nufft_status::ok;
    } catch (const std::bad_alloc&) {
        return nufft_status::out_of_memory;
    }
}

}  // namespace nufft

void nufft_plan_release::operator()(nufft_plan* plan) const { delete plan; }

bool fast_evaluation_available() { return true; }

nufft_status prepare_nufft(sample_rows samples, double tolerance, std::int64_t lines, nufft_plan_owner& plan,
                         int threads) {
    return nufft::prepare_plan(samples, tolerance, lines, -1, threads, plan);
}

std::int32_t nufft_block_lines(const nufft_plan& plan) { return plan.block_lines; }

std::int32_t nufft_rows(const nufft_plan& plan) { return plan.rows; }

}  // namespace trapft
