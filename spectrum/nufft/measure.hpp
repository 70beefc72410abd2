// Measuring the samples: the times' extremes and centre, and each row's A and scale.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "spectrum/nufft/heuristics.hpp"
#include "spectrum/nufft/vectors.hpp"
#include "spectrum/nufft/weights.hpp"

namespace trapft::nufft {

// The least and greatest of the n times at t, eight lanes at a time (the
// extremes are exact in any order); false when one is not finite.
[[gnu::always_inline]] inline bool time_extremes(const double* t, std::int32_t n, double& low, double& high) {
    constexpr std::int32_t lanes = 8;
    bool finite = true;
    low = n > 0 ? t[0] : 0.0;
    high = low;
    double lows[lanes], highs[lanes];
    bool finites[lanes];
    for (std::int32_t j = 0; j < lanes; ++j) {
        lows[j] = highs[j] = low;
        finites[j] = true;
    }
    std::int32_t at = 0;
    for (; at + lanes <= n; at += lanes)
        for (std::int32_t j = 0; j < lanes; ++j) {
            const double time = t[at + j];
            finites[j] &= std::fabs(time) <= std::numeric_limits<double>::max();
            lows[j] = time < lows[j] ? time : lows[j];
            highs[j] = time > highs[j] ? time : highs[j];
        }
    for (; at < n; ++at) {
        finite &= std::fabs(t[at]) <= std::numeric_limits<double>::max();
        low = std::min(low, t[at]);
        high = std::max(high, t[at]);
    }
    for (std::int32_t j = 0; j < lanes; ++j) {
        finite &= finites[j];
        low = std::min(low, lows[j]);
        high = std::max(high, highs[j]);
    }
    return finite;
}

// Rows eight at a time: the times are read once for them all.
inline constexpr std::int32_t rows_together = 8;

// A = Σ |w_k x_k| of `rows` rows (x[r], n samples each) into total[r]. A
// value that is not finite makes its weight, and so A, not finite. Four
// partial sums per row (sample k in sum (k − 1) mod 4), added in a fixed
// order, keep the additions from waiting on each other.
[[gnu::always_inline]] inline void row_totals(const double* t, std::int32_t n, const double* const* x,
                                              std::int32_t rows, double* total) {
    if (n < 2) {
        // No weight carries the values, so they are checked on their own.
        for (std::int32_t r = 0; r < rows; ++r)
            for (std::int32_t k = 0; k < n; ++k) total[r] += x[r][k] - x[r][k];
        return;
    }
    double partial[rows_together][4] = {};
    vector4 lanes_of[rows_together] = {};  // partial[r][j] in lane j
    std::int32_t k = 1;
    for (; k + 4 <= n - 1; k += 4) {
        vector4 after, before;
        load(after, t + k + 1);
        load(before, t + k - 1);
        for (std::int32_t r = 0; r < rows; ++r) {
            vector4 value;
            load(value, x[r] + k);
            vector4 w;
            weights(after, before, value, w);
            lanes_of[r] += w < 0.0 ? -w : w;  // |w| (a −0 adds as +0)
        }
    }
    for (std::int32_t r = 0; r < rows; ++r)
        for (std::int32_t j = 0; j < 4; ++j) partial[r][j] = lanes_of[r][j];
    for (; k < n - 1; ++k)
        for (std::int32_t r = 0; r < rows; ++r) partial[r][(k - 1) & 3] += std::fabs(weight(t[k + 1], t[k - 1], x[r][k]));
    for (std::int32_t r = 0; r < rows; ++r)
        total[r] = (std::fabs(weight(t[1], t[0], x[r][0])) + std::fabs(weight(t[n - 1], t[n - 2], x[r][n - 1]))) +
                   ((partial[r][0] + partial[r][1]) + (partial[r][2] + partial[r][3]));
}

// A = Σ |w_k x_k| of `rows` rows with the caller's weights w, in the same
// four partial sums as row_totals.
[[gnu::always_inline]] inline void weighted_row_totals(const double* w, std::int32_t n, const double* const* x,
                                                       std::int32_t rows, double* total) {
    for (std::int32_t r = 0; r < rows; ++r) {
        double partial[4] = {};
        for (std::int32_t k = 0; k < n; ++k) partial[k & 3] += std::fabs(w[k] * x[r][k]);
        total[r] = (partial[0] + partial[1]) + (partial[2] + partial[3]);
    }
}

// A row's A, and its scale by an exact power of two, so that its A lies in [1, 2).
inline void set_row_scale(nufft_plan& plan, std::size_t row, double total) {
    plan.total[row] = total;
    if (total > 0.0) {
        const int scale = std::ilogb(total);
        plan.scale[row] = std::ldexp(1.0, scale);
        // 2^-scale, in two factors where it is beyond the doubles; scaling up
        // is exact, and scaling down by one power of two rounds once.
        plan.shrink[2 * row] = std::ldexp(1.0, -std::max(scale, -1000));
        plan.shrink[2 * row + 1] = std::ldexp(1.0, -std::min(scale + 1000, 0));
    }
}

// The times' extremes and each row's A and scale; false when a number is not finite.
[[gnu::always_inline]] inline bool measure(sample_rows samples, nufft_plan& plan) {
    const auto n = static_cast<std::int32_t>(samples.times.size());
    const double* t = samples.times.data();
    plan.times = t;
    plan.values = samples.values.data();
    plan.weights = samples.weighted() ? samples.weights.data() : nullptr;
    plan.rows = samples.rows;
    plan.scale.assign(static_cast<std::size_t>(samples.rows), 1.0);
    plan.shrink.assign(2 * static_cast<std::size_t>(samples.rows), 1.0);
    plan.total.assign(static_cast<std::size_t>(samples.rows), 0.0);
    double low = 0.0, high = 0.0;
    if (!time_extremes(t, n, low, high)) return false;
    for (std::int32_t first = 0; first < samples.rows; first += rows_together) {
        const std::int32_t rows = std::min(rows_together, samples.rows - first);
        const double* x[rows_together];
        double total[rows_together] = {};
        for (std::int32_t r = 0; r < rows; ++r) x[r] = samples.row(first + r).values.data();
        if (plan.weights != nullptr) weighted_row_totals(plan.weights, n, x, rows, total);
        else row_totals(t, n, x, rows, total);
        for (std::int32_t r = 0; r < rows; ++r) {
            if (!std::isfinite(total[r])) return false;
            set_row_scale(plan, static_cast<std::size_t>(first + r), total[r]);
        }
    }
    plan.centre = 0.5 * low + 0.5 * high;
    const double radius = std::max(high - plan.centre, plan.centre - low);
    plan.radius = radius * (1.0 + 4 * unit_roundoff);
    return true;
}

}  // namespace trapft::nufft
