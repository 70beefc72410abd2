// The transform: FFTW's plans for the grid sizes a run needs, made under one lock, and their execution.
#include "spectrum/nufft/transform.hpp"

#include <fftw3.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include "spectrum/nufft/heuristics.hpp"

namespace trapft {
namespace {

// FFTW's planner, and its destruction of plans, are not safe to enter from two
// threads at once: sweeps run side by side (threads of a program, calls from
// Python) take turns through this lock.
std::mutex& fftw_planner() {
    static std::mutex planner;
    return planner;
}

// FFTW stops the process, rather than fail, when an allocation of its own
// fails while planning. Its planner keeps at most about half a transform's
// array for a size (and some 200 KB for its first plan), and its transforms
// allocate nothing: so a plan is made only once twice the array and 4 MiB
// more could be had, and that memory is given back just before planning, for
// FFTW to take. Under a limit on the address space, a failure here is the
// process's limit and the plan is refused with std::bad_alloc.
bool room_to_plan(std::int32_t points) {
    const std::size_t room = 2 * sizeof(fftw_complex) * static_cast<std::size_t>(points) + (std::size_t{4} << 20);
    void* reserve = std::malloc(room);
    if (reserve == nullptr) return false;
    std::free(reserve);
    return true;
}

// Grids up to this size keep their plans for the process's later runs, so
// that many small calls plan once; their twiddle factors take some MiB in
// all. Larger ones, whose transforms dwarf their planning, are planned anew.
constexpr std::int32_t kept_plan_points = 1 << 16;

// The kept plans, by size; never destroyed, like FFTW's own tables.
std::map<std::int32_t, fftw_plan_owner>& kept_plans() {
    static auto* const kept = new std::map<std::int32_t, fftw_plan_owner>;
    return *kept;
}

// An in-place forward plan of `points` on arrays aligned as `data`, a kept
// one where there is one. Called under the planner's lock.
fftw_plan_owner plan_for(std::int32_t points, fftw_complex* data) {
    if (points <= kept_plan_points) {
        const auto found = kept_plans().find(points);
        if (found != kept_plans().end()) return found->second;
    }
    if (!room_to_plan(points)) throw std::bad_alloc();
    fftw_plan made = fftw_plan_dft_1d(points, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
    if (made == nullptr) throw std::bad_alloc();
    fftw_plan_owner owner(made, fftw_plan_release{});
    if (points <= kept_plan_points) kept_plans().emplace(points, owner);
    return owner;
}

}  // namespace

void fftw_plan_release::operator()(void* plan) const {
    const std::lock_guard<std::mutex> lock(fftw_planner());
    fftw_destroy_plan(static_cast<fftw_plan>(plan));
}

void fftw_array_release::operator()(double* data) const { fftw_free(data); }

namespace nufft {

void make_plans(nufft_plan& plan, std::int64_t lines) {
    const std::int32_t largest = plan.block_points;
    const std::int64_t rest = std::max<std::int64_t>(lines, 1) % plan.block_lines;
    std::vector<std::int32_t> sizes = {largest};
    for (std::int32_t points = std::min(smallest_grid, largest); points <= std::min(small_plans, largest); points *= 2)
        sizes.push_back(points);
    if (rest != 0) sizes.push_back(grid_for(plan, rest));
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    fftw_array scratch(static_cast<double*>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(largest))));
    if (!scratch) throw std::bad_alloc();
    auto* data = reinterpret_cast<fftw_complex*>(scratch.get());
    plan.plans.reserve(sizes.size());
    plan.plan_points.reserve(sizes.size());
    const std::lock_guard<std::mutex> lock(fftw_planner());
    for (const std::int32_t points : sizes) {
        plan.plans.push_back(plan_for(points, data));
        plan.plan_points.push_back(points);
    }
}

std::int32_t grid_points(const nufft_plan& plan, std::int32_t count) {
    const std::int64_t least = grid_for(plan, count);
    for (const std::int32_t points : plan.plan_points)
        if (points >= least) return points;
    return plan.plan_points.back();
}

void transform_grid(const nufft_plan& plan, std::int32_t points, double* grid) {
    std::size_t level = 0;
    while (plan.plan_points[level] != points) ++level;
    auto* data = reinterpret_cast<fftw_complex*>(grid);
    fftw_execute_dft(static_cast<fftw_plan>(plan.plans[level].get()), data, data);
}

}  // namespace nufft
}  // namespace trapft
