// The fast evaluation's stand-in in builds without FFTW3: never prepared, so --tolerance is refused.
#include "spectrum/nufft.hpp"

namespace trapft {

bool nufft_available() { return false; }

void fftw_plan_release::operator()(void*) const {}

void fftw_array_release::operator()(double*) const {}

bool prepare_nufft(sample_view, double, std::int64_t, nufft_setup&) { return false; }

bool prepare_nufft_work(const nufft_setup&, nufft_work&) { return false; }

std::int32_t nufft_block_lines(const nufft_setup&) { return 1; }

void nufft_block(const nufft_setup&, double, double, std::int32_t, nufft_work&, double*, double*) {}

}  // namespace trapft
