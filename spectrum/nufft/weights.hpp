// The weights times the values (the trapezoid's weights, one sample or a vector of them at a time, or the caller's), as every stage makes them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "spectrum/nufft/plan.hpp"

namespace trapft::nufft {

// The trapezoid weight of a sample times its value, from its neighbours'
// times. Halved last, where that is exact: halving a tiny step first would
// lose its last bit, or all of it. A step or product that overflows may still
// have a finite half. Without branches, so that loops of it vectorize.
[[gnu::always_inline]] inline double weight(double after, double before, double value) {
    const double span = after - before;
    const double product = span * value;
    const double halves = (0.5 * after - 0.5 * before) * value;
    const double halved = (span * 0.5) * value;
    const bool span_finite = std::fabs(span) <= std::numeric_limits<double>::max();
    const bool product_finite = std::fabs(product) <= std::numeric_limits<double>::max();
    return !span_finite ? halves : !product_finite ? halved : product * 0.5;
}

// The same for a vector of samples, lane by lane with the same operations.
template <typename vector>
[[gnu::always_inline]] inline void weights(const vector& after, const vector& before, const vector& value,
                                           vector& out) {
    constexpr double largest = std::numeric_limits<double>::max();
    const vector span = after - before;
    const vector product = span * value;
    const vector halves = (0.5 * after - 0.5 * before) * value;
    const vector halved = (span * 0.5) * value;
    const auto span_finite = (span <= largest) & (span >= -largest);
    const auto product_finite = (product <= largest) & (product >= -largest);
    out = span_finite ? (product_finite ? product * 0.5 : halved) : halves;
}

// c_k = w_k x_k · 2^-scale of row `row` for samples [begin, end), into out[k − begin].
[[gnu::always_inline]] inline void row_weights(const nufft_plan& plan, std::int32_t row, std::int32_t begin,
                                               std::int32_t end, double* out) {
    const std::int32_t n = plan.count;
    const double* const t = plan.times;
    const double* const x = plan.values + static_cast<std::size_t>(row) * static_cast<std::size_t>(n);
    const double down = plan.shrink[2 * static_cast<std::size_t>(row)];
    const double further = plan.shrink[2 * static_cast<std::size_t>(row) + 1];
    if (plan.weights != nullptr) {
        const double* const w = plan.weights;
        for (std::int32_t k = begin; k < end; ++k) out[k - begin] = ((w[k] * x[k]) * down) * further;
        return;
    }
    if (n < 2) {
        std::fill(out, out + (end - begin), 0.0);  // a lone sample has weight zero
        return;
    }
    const std::int32_t from = std::max(begin, 1);
    const std::int32_t to = std::min(end, n - 1);
    if (begin == 0) out[0] = (weight(t[1], t[0], x[0]) * down) * further;
    for (std::int32_t k = from; k < to; ++k) out[k - begin] = (weight(t[k + 1], t[k - 1], x[k]) * down) * further;
    if (end == n) out[n - 1 - begin] = (weight(t[n - 1], t[n - 2], x[n - 1]) * down) * further;
}

}  // namespace trapft::nufft
