// The fast evaluation's stand-in in builds without FFTW3: never prepared, so --tolerance is refused.
#include "spectrum/fast_evaluation.hpp"

namespace trapft {

struct fast_plan {};
struct fast_work {};

void fast_plan_release::operator()(fast_plan* plan) const { delete plan; }
void fast_work_release::operator()(fast_work* work) const { delete work; }

bool fast_evaluation_available() { return false; }

fast_status prepare_fast(sample_rows, double, std::int64_t, fast_plan_owner&, int) { return fast_status::unavailable; }

std::int32_t fast_block_lines(const fast_plan&) { return 1; }

fast_work_owner make_fast_work(const fast_plan&, int) { return nullptr; }

void fast_block(const fast_plan&, const double*, std::int32_t, fast_work&, double*, double*, int, std::size_t) {}

}  // namespace trapft
