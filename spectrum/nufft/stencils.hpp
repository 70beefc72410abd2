// Term 1 from differences of term 0's neighbouring lines: the stencils, and the lines they read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "spectrum/nufft/plan.hpp"
#include "spectrum/nufft/vectors.hpp"

namespace trapft::nufft {

// Term 1 from the term-0 grid's own lines, where they lie close together
// for the times' span. With σ = e^(2πi d t_c), sample k adds c_k e^(−2πi g_m t_k)
// e^(−i j θ_k) to σ^j G0_{m+j}, θ_k = 2π d R τ_k; a five-point stencil for
// the derivative at j = 0 (central, one-sided at the block's ends) turns that
// into −i θ_k times it, so Σ_j a_j σ^j G0_{m+j} / (−2πi d R) stands for G1_m.
// The stencil is exact up to degree 4: it misses by Σ_j |a_j| |j θ_k|^5 / 5!
// ≤ 6 |θ_k| u^4, u = 2π |d| R, and G0's error ε·A grows by Σ_j |a_j| ≤ 11 over
// 2π |d| R. Times z = 2π δ R: see differences_suffice.
inline constexpr double stencils[5][5] = {  // twelve times the weights, for the derivative at point s of 0 … 4
    {-25, 48, -36, 16, -3}, {-3, -10, 18, -6, 1}, {1, -8, 0, 8, -1}, {-1, 6, -18, 10, 3}, {3, -16, 36, -48, 25}};
inline constexpr double stencil_miss = 6.0;
inline constexpr double stencil_gain = 11.0;


// Whether term 1 may come from differences for a block of `lines` lines d
// apart with offsets up to `largest`: the stencil's miss and the grid's error
// through it, with the truncation after term 1, within the truncation's share.
bool differences_suffice(const nufft_plan& plan, std::int32_t lines, double increment, double largest);

// σ^j for j = −4 … 4 (at j + 4), and κ = 1 / (12 · 2π d R), for a progression d apart.
struct difference_stencil {
    double sine[9];
    double cosine[9];
    double kappa;
};


// σ^j and κ for a progression `increment` apart.
difference_stencil make_stencil(const nufft_plan& plan, double increment);

// c_j (W_(m+j) − W_(m−j)) + i s_j (W_(m+j) + W_(m−j)), half the products.
template <typename number>
[[gnu::always_inline]] inline void term_from_lines(const difference_stencil& st, const double* re, const double* im,
                                                   std::int32_t w, int s, number& term_re, number& term_im) {
    number sum_re = number{} + 0.0;
    number sum_im = number{} + 0.0;
    if (s == 2) {
        for (int j = 1; j <= 2; ++j) {
            number after_re, after_im, before_re, before_im;
            load(after_re, re + w + 2 + j);
            load(after_im, im + w + 2 + j);
            load(before_re, re + w + 2 - j);
            load(before_im, im + w + 2 - j);
            const double c = st.cosine[j + 4];
            const double n = st.sine[j + 4];
            const double a = stencils[2][2 + j];
            sum_re = sum_re + a * (c * (after_re - before_re) - n * (after_im + before_im));
            sum_im = sum_im + a * (c * (after_im - before_im) + n * (after_re + before_re));
        }
    } else {
        for (int q = 0; q < 5; ++q) {
            number wr, wi;
            load(wr, re + w + q);
            load(wi, im + w + q);
            const double c = st.cosine[q - s + 4];
            const double n = st.sine[q - s + 4];
            const double a = stencils[s][q];
            sum_re = sum_re + a * (c * wr - n * wi);
            sum_im = sum_im + a * (c * wi + n * wr);
        }
    }
    term_re = -(sum_im * st.kappa);
    term_im = sum_re * st.kappa;
}

// Line m's term 1 of a block of `lines`: the central stencil, one-sided
// within two lines of either end.
inline void term_of_line(const difference_stencil& st, const double* re, const double* im, std::int32_t lines,
                         std::int32_t m, double& term_re, double& term_im) {
    const std::int32_t w = std::clamp(m - 2, 0, lines - 5);
    term_from_lines(st, re, im, w, m - w, term_re, term_im);
}

// Where row r's lines of term 0, divided by the kernel's transform, are kept
// for the differences: the real parts, then the imaginary ones a block on.
inline double* corrected_lines(const nufft_plan& plan, nufft_work& work, std::int32_t r) {
    return work.compensation.get() + 2 * static_cast<std::size_t>(r) * static_cast<std::size_t>(plan.block_lines);
}

}  // namespace trapft::nufft
