// The exact transform with the caller's weights in place of the trapezoid's.
#pragma once

#include "spectrum/spectrum.hpp"

namespace trapft {

// The sums Σ w_k·(x_k·cos ω t_k) and Σ w_k·(x_k·sin ω t_k) of weighted
// `samples` at `frequency`, in sample order, each product and sum rounded
// once as written, x_k·cos ω t_k being the trapezoid sums' own products.
spectrum_sums evaluate_weighted_sums(sample_view samples, double frequency, spectrum_work& work);

}  // namespace trapft
