// The fast evaluation's stand-in in builds without FFTW3: never prepared, so --tolerance is refused.
#include "spectrum/nufft/nufft.hpp"

namespace trapft {

struct nufft_plan {};
struct nufft_work {};

void nufft_plan_release::operator()(nufft_plan* plan) const { delete plan; }
void nufft_work_release::operator()(nufft_work* work) const { delete work; }

bool fast_evaluation_available() { return false; }

nufft_status prepare_nufft(sample_rows, double, std::int64_t, nufft_plan_owner&, int) { return nufft_status::unavailable; }

std::int32_t nufft_block_lines(const nufft_plan&) { return 1; }

std::int32_t nufft_progression_block_lines(const nufft_plan&) { return 1; }

std::int32_t nufft_rows(const nufft_plan&) { return 1; }

nufft_work_owner make_nufft_work(const nufft_plan&, int) { return nullptr; }

void nufft_evaluate(const nufft_plan&, const double*, std::int32_t, nufft_work&, double*, double*, int, std::size_t) {}

struct nufft_list_work {};
void nufft_list_work_release::operator()(nufft_list_work* work) const { delete work; }

nufft_status prepare_nufft_lists(nufft_plan&, sample_rows, double, double, int) { return nufft_status::unavailable; }

nufft_list_work_owner make_nufft_list_work(const nufft_plan&, int) { return nullptr; }

bool nufft_interpolates_lists(const nufft_plan&) { return false; }

bool nufft_near_progressions(const nufft_plan&, const double*, std::int64_t) { return true; }

bool nufft_one_cluster(const nufft_plan&, const double*, std::int32_t, double, double, nufft_list_work*, double&) {
    return false;
}
void nufft_evaluate_cluster(const nufft_plan&, const double*, std::int32_t, double, double, nufft_work&,
                            nufft_list_work&, double*, double*, int, std::size_t) {}
void nufft_evaluate_sorted(const nufft_plan&, const double*, std::int32_t, nufft_work&, nufft_list_work*, double*,
                           double*, int, std::size_t) {}

}  // namespace trapft
