// One instruction set's table of stages; stages_<set>.cpp defines TRAPFT_STAGE_TARGET, _VECTOR and _TABLE, then includes it.
#include "spectrum/nufft/deconvolve.hpp"
#include "spectrum/nufft/interpolate_lines.hpp"
#include "spectrum/nufft/measure.hpp"
#include "spectrum/nufft/offsets.hpp"
#include "spectrum/nufft/spread.hpp"
#include "spectrum/nufft/stages.hpp"

namespace trapft::nufft {
namespace {

// The set's vectors; two lanes is the portable code, which takes the lines'
// offsets and deconvolution line by line.
using stage_vector = TRAPFT_STAGE_VECTOR;
constexpr bool portable = sizeof(stage_vector) == 2 * sizeof(double);

[[TRAPFT_STAGE_TARGET]] bool measure_stage(sample_rows samples, nufft_plan& plan) { return measure(samples, plan); }

[[TRAPFT_STAGE_TARGET]] void rotate_stage(const nufft_plan& plan, row_group rows, double first, double increment,
                                          double steps, std::int32_t points, int terms, std::int32_t begin,
                                          std::int32_t end, nufft_scratch& scratch) {
    rotate_samples<stage_vector>(plan, rows, first, increment, steps, points, terms, begin, end, scratch);
}

template <bool compensated>
[[TRAPFT_STAGE_TARGET, gnu::flatten]] void spread_stage(const nufft_plan& plan, const spread_target& to,
                                                        const nufft_scratch& scratch) {
    spread_any<stage_vector, compensated>(plan, to.points, to.terms, to.rows, to.size, scratch, to.grids, to.errors);
}

[[TRAPFT_STAGE_TARGET]] double offsets_stage(const double* frequencies, std::int32_t lines, double first,
                                             double increment, double* offsets) {
    if constexpr (portable) return offsets_of(frequencies, 0, lines, first, increment, offsets, 0.0);
    else return offsets_of_vectors<vector4>(frequencies, lines, first, increment, offsets);
}

[[TRAPFT_STAGE_TARGET]] void correct_stage(const nufft_plan& plan, row_group rows, std::int32_t points,
                                           std::int32_t from, std::int32_t to, nufft_work& work) {
    correct_vectors<stage_vector>(plan, rows, points, from, to, work);
}

[[TRAPFT_STAGE_TARGET]] void deconvolve_stage(const deconvolution& d, std::int32_t from, std::int32_t to) {
    if constexpr (portable) deconvolve_plain(d, from, to);
    else deconvolve_vectors<stage_vector>(d, from, to);
}

[[TRAPFT_STAGE_TARGET]] void interpolate_stage(const nufft_plan& plan, row_group rows, const double* f,
                                              std::int32_t count, double first, std::int32_t points,
                                              double* sums, const group_results& out) {
    interpolate_lines<stage_vector>(plan, rows, f, count, first, points, sums, out);
}

}  // namespace

extern const nufft_stages TRAPFT_STAGE_TABLE{measure_stage,  rotate_stage,  {spread_stage<false>, spread_stage<true>},
                                             offsets_stage,  correct_stage, deconvolve_stage, interpolate_stage};

}  // namespace trapft::nufft
