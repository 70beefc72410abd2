// Working storage: the grids, mapped fresh (on huge pages where the system allows), and each sub-grid's scratch.
#include "spectrum/nufft/storage.hpp"

#include <algorithm>
#include <cstdint>
#include <new>

#include "spectrum/nufft/heuristics.hpp"
#include "spectrum/pages.hpp"

namespace trapft::nufft {
namespace {

// Fresh pages for the grids (see map_pages): a block touches its grids end
// to end, and small pages would cost a fault each; a grid that is never used
// is never touched. Page-aligned, as the transforms' vector code wants. Null
// when memory runs out.
mapped_array map_grids(std::size_t bytes) {
    return mapped_array(static_cast<double*>(map_pages(bytes)), mapped_release{bytes});
}

}  // namespace
}  // namespace trapft::nufft

namespace trapft {

void mapped_release::operator()(double* data) const { unmap_pages(data, bytes); }

void nufft_work_release::operator()(nufft_work* work) const { delete work; }

nufft_work_owner make_nufft_work(const nufft_plan& plan, int threads) {
    try {
        nufft_work_owner work(new nufft_work);
        if (!nufft::prepare_work(plan, threads, *work)) return nullptr;
        return work;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace nufft {

bool prepare_work(const nufft_plan& plan, int threads, nufft_work& work) {
    work.threads = std::max(threads, 1);
    if (work.threads > 1) work.team = std::make_unique<thread_team>(work.threads);
    work.rows = std::clamp(plan.rows, 1, nufft_row_group);
    const auto rows = static_cast<std::size_t>(work.rows);
    work.grid_doubles = 2 * static_cast<std::size_t>(plan.block_points);
    // Several rows spread onto many grids at the same place at once: grids a
    // whole number of pages apart would contend for the same cache sets, so
    // they are staggered by a few cache lines (one row's few grids are not).
    if (work.rows > 1) work.grid_doubles += grid_stagger;
    const std::size_t grids = static_cast<std::size_t>(plan.subgrids) * rows * (nufft_max_terms + 1);
    work.grids = map_grids(sizeof(double) * work.grid_doubles * grids);
    if (!work.grids) return false;
    work.scratch.resize(static_cast<std::size_t>(plan.subgrids));
    for (nufft_scratch& s : work.scratch) {
        s.rotated.resize(2 * rows * nufft_max_terms * static_cast<std::size_t>(nufft_chunk));
        s.weights.resize(nufft_chunk);
        s.cosine.resize(nufft_chunk);
        s.sine.resize(nufft_chunk);
        s.tau.resize(nufft_chunk);
        s.argument.resize(nufft_chunk);
        s.first_point.resize(nufft_chunk);
        s.per_point.resize(static_cast<std::size_t>(plan.block_points));
    }
    work.offsets = std::make_unique_for_overwrite<double[]>(static_cast<std::size_t>(plan.block_lines));
    work.compensation = std::make_unique_for_overwrite<double[]>(2 * rows * static_cast<std::size_t>(plan.block_lines));
    return true;
}

}  // namespace nufft
}  // namespace trapft
