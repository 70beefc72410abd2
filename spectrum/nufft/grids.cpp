// The pass over the samples: each chunk rotated and spread onto its sub-grid's grids, the sub-grids gathered and transformed.
#include "spectrum/nufft/grids.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "spectrum/nufft/heuristics.hpp"
#include "spectrum/nufft/spread.hpp"
#include "spectrum/nufft/stages.hpp"
#include "spectrum/nufft/transform.hpp"
#include "spectrum/parallel.hpp"

namespace trapft::nufft {
namespace {

// Counts the chunk's samples by their first grid point; from the chunk that
// would take any point past the plain limit on, term 0 is compensated (for
// every row: where the samples fall is the times' alone).
void count_chunk(nufft_scratch& scratch, std::int32_t size, std::int32_t limit, double* const* errors,
                 std::int32_t rows, std::size_t doubles) {
    if (scratch.compensated) return;
    std::int32_t most = 0;
    for (std::int32_t k = 0; k < size; ++k)
        most = std::max(most, ++scratch.per_point[static_cast<std::size_t>(scratch.first_point[static_cast<std::size_t>(k)])]);
    if (most > limit) {
        scratch.compensated = true;
        for (std::int32_t r = 0; r < rows; ++r) std::memset(errors[r], 0, sizeof(double) * doubles);
    }
}

// Clears the sub-grid's grids over [from, to) in doubles, beside what they
// have cleared already: the range cleared is always one interval.
void clear_grids(nufft_scratch& scratch, double* const* grids, int count, std::size_t from, std::size_t to) {
    if (scratch.cleared_from == scratch.cleared_to) {
        scratch.cleared_from = from;
        scratch.cleared_to = from;
    }
    from = std::min(from, scratch.cleared_from);
    to = std::max(to, scratch.cleared_to);
    for (int g = 0; g < count; ++g) {
        std::memset(grids[g] + from, 0, sizeof(double) * (scratch.cleared_from - from));
        std::memset(grids[g] + scratch.cleared_to, 0, sizeof(double) * (to - scratch.cleared_to));
    }
    scratch.cleared_from = from;
    scratch.cleared_to = to;
}

// The doubles of the grids that the chunk's samples reach: from the first
// point of the lowest to the last lane of the highest, or every one when a
// sample wraps around the grid's end.
std::pair<std::size_t, std::size_t> chunk_reach(const nufft_plan& plan, const nufft_scratch& scratch,
                                                std::int32_t size, std::int32_t points, std::size_t doubles) {
    std::int32_t low = points, high = 0;
    for (std::int32_t k = 0; k < size; ++k) {
        low = std::min(low, scratch.first_point[static_cast<std::size_t>(k)]);
        high = std::max(high, scratch.first_point[static_cast<std::size_t>(k)]);
    }
    if (high + plan.width > points) return {0, doubles};
    return {2 * static_cast<std::size_t>(low),
            std::min(doubles, 2 * (static_cast<std::size_t>(high) + static_cast<std::size_t>(plan.lanes)))};
}

}  // namespace

void spread_and_transform(const nufft_plan& plan, instruction_set set, row_group rows, double first,
                          double increment, double shift, std::int32_t points, int terms, nufft_work& work,
                          int threads) {
    const std::size_t doubles = 2 * static_cast<std::size_t>(points);
    const int subgrids = plan.subgrids;
    const std::int32_t limit = plain_limit(plan);
    const std::int32_t chunks = (plan.count + nufft_chunk - 1) / nufft_chunk;
    const nufft_stages& stages = stages_for(set);
    run_tasks(work.team.get(), subgrids, threads, [&](int s) {
        nufft_scratch& scratch = work.scratch[static_cast<std::size_t>(s)];
        double* grids[nufft_row_group * nufft_max_terms];
        double* errors[nufft_row_group];
        for (std::int32_t r = 0; r < rows.count; ++r) {
            for (int p = 0; p < terms; ++p) grids[r * terms + p] = work.grid(s, r, p);
            errors[r] = work.grid(s, r, nufft_max_terms);
        }
        scratch.cleared_from = scratch.cleared_to = 0;
        scratch.compensated = false;
        std::fill(scratch.per_point.begin(), scratch.per_point.begin() + points, 0);
        spread_target to;
        to.points = points;
        to.terms = terms;
        to.rows = rows.count;
        to.grids = grids;
        to.errors = errors;
        // Sub-grid s takes whole chunks [chunks·s/S, chunks·(s+1)/S).
        const std::int32_t from = static_cast<std::int32_t>(static_cast<std::int64_t>(chunks) * s / subgrids);
        const std::int32_t to_chunk = static_cast<std::int32_t>(static_cast<std::int64_t>(chunks) * (s + 1) / subgrids);
        for (std::int32_t chunk = from; chunk < to_chunk; ++chunk) {
            const std::int32_t begin = chunk * nufft_chunk;
            const std::int32_t end = std::min(plan.count, begin + nufft_chunk);
            stages.rotate(plan, rows, first, increment, shift + centre_line(plan, points), points, terms, begin, end,
                          scratch);
            count_chunk(scratch, end - begin, limit, errors, rows.count, doubles);
            // Compensated, the whole grid gathers its errors.
            const auto [low, high] = scratch.compensated ? std::pair<std::size_t, std::size_t>{0, doubles}
                                                         : chunk_reach(plan, scratch, end - begin, points, doubles);
            clear_grids(scratch, grids, rows.count * terms, low, high);
            to.size = end - begin;
            stages.spread[scratch.compensated](plan, to, scratch);
        }
    });
    // Each grid gathered in a fixed order (each sub-grid's term 0 with its
    // errors, then the sub-grids in turn) and transformed, grids side by side.
    // (A sub-grid's cleared range lies within the grid: see chunk_reach.)
    run_tasks(work.team.get(), rows.count * terms, threads, [&](int rp) {
        const int r = rp / terms;
        const int p = rp % terms;
        if (p == 0)
            for (int s = 0; s < subgrids; ++s) {
                if (!work.scratch[static_cast<std::size_t>(s)].compensated) continue;
                double* const g = work.grid(s, r, 0);
                const double* const e = work.grid(s, r, nufft_max_terms);
                for (std::size_t i = 0; i < doubles; ++i) g[i] += e[i];
            }
        double* const g = work.grid(0, r, p);
        const nufft_scratch& own = work.scratch[0];
        std::memset(g, 0, sizeof(double) * own.cleared_from);
        std::memset(g + own.cleared_to, 0, sizeof(double) * (doubles - own.cleared_to));
        for (int s = 1; s < subgrids; ++s) {
            const nufft_scratch& scratch = work.scratch[static_cast<std::size_t>(s)];
            const double* const h = work.grid(s, r, p);
            for (std::size_t i = scratch.cleared_from; i < scratch.cleared_to; ++i) g[i] += h[i];
        }
        transform_grid(plan, points, g);
    });
}

}  // namespace trapft::nufft
