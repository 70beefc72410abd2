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

// Term 1 from a wide central stencil, for lines up to u = 2π|d|R ≤ wide_span
// apart: Σ_(j=1…K) α_j (σ^j G0_(m+j) − σ^(−j) G0_(m−j)) takes sample k to
// −i P(θ_k) times its share of G0_m, where P(θ) = 2 Σ_j α_j sin(jθ) lies
// within wide_miss·|θ| of θ for |θ| ≤ wide_span (the weights, from
// tools/wide_stencil.py, least relative miss; the tests measure it), so
// κ Σ … with κ = 1/u stands for G1_m, missing by wide_miss of A, and G0's
// error grows by wide_gain = 2 Σ|α_j| over u. It reads K lines past either
// end of a block, which the block's grid then holds as well.
inline constexpr int wide_reach = 12;
inline constexpr double wide_span = 2.0;
inline constexpr double wide_weights[wide_reach] = {
    0.9582798167017468,    -0.42132284202708703,  0.22611745237840558,   -0.12447645948025418,
    0.06622433543252851,   -0.03294693062925882,  0.014932708178429871,  -0.005998012300815425,
    0.0020593625203671473, -0.000571337010819406, 0.00011522625981735812, -1.2841929308948785e-05};
inline constexpr double wide_miss = 2.4e-7;
inline constexpr double wide_gain = 3.71;

// Whether term 1 may come from differences for a block of `lines` lines d
// apart with offsets up to `largest`: the stencil's miss and the grid's error
// through it, with the truncation after term 1, within the truncation's share.
bool differences_suffice(const nufft_plan& plan, std::int32_t lines, double increment, double largest);

// The same for the wide stencil (the block's lines any in number, with room for its reach).
bool wide_differences_suffice(const nufft_plan& plan, double increment, double largest);

// σ^j for j = −4 … 4 (at j + 4), and κ = 1 / (12 · 2π d R), for a progression
// d apart; or, for the wide stencil (margin = wide_reach, the lines it reads
// past the block's ends), α_j σ^j for j = 1 … K (at j − 1) and κ = 1 / (2π d R).
struct difference_stencil {
    double sine[9];
    double cosine[9];
    double kappa;
    std::int32_t margin;
    double wide_sine[wide_reach];
    double wide_cosine[wide_reach];
};


// The stencil, `wide` or not, for a progression `increment` apart.
difference_stencil make_stencil(const nufft_plan& plan, double increment, bool wide = false);

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

// Term 1 of line m (or a vector of lines from m) by the wide stencil, from
// term 0's lines at re and im, which hold wide_reach more either side.
template <typename number>
[[gnu::always_inline]] inline void wide_term(const difference_stencil& st, const double* re, const double* im,
                                             std::int32_t m, number& term_re, number& term_im) {
    number sum_re = number{} + 0.0;
    number sum_im = number{} + 0.0;
    for (int j = 1; j <= wide_reach; ++j) {
        number after_re, after_im, before_re, before_im;
        load(after_re, re + m + j);
        load(after_im, im + m + j);
        load(before_re, re + m - j);
        load(before_im, im + m - j);
        const double c = st.wide_cosine[j - 1];
        const double n = st.wide_sine[j - 1];
        sum_re = sum_re + (c * (after_re - before_re) - n * (after_im + before_im));
        sum_im = sum_im + (c * (after_im - before_im) + n * (after_re + before_re));
    }
    term_re = -(sum_im * st.kappa);
    term_im = sum_re * st.kappa;
}

// Line m's term 1 of a block of `lines`: the wide stencil where it has its
// margins, else the central five-point one, one-sided within two lines of either end.
inline void term_of_line(const difference_stencil& st, const double* re, const double* im, std::int32_t lines,
                         std::int32_t m, double& term_re, double& term_im) {
    if (st.margin > 0) return wide_term(st, re, im, m, term_re, term_im);
    const std::int32_t w = std::clamp(m - 2, 0, lines - 5);
    term_from_lines(st, re, im, w, m - w, term_re, term_im);
}

// Where row r's lines of term 0, divided by the kernel's transform, are kept
// for the differences: the real parts, then the imaginary ones a block on.
inline double* corrected_lines(const nufft_plan& plan, nufft_work& work, std::int32_t r) {
    return work.compensation.get() + 2 * static_cast<std::size_t>(r) * static_cast<std::size_t>(plan.block_lines);
}

}  // namespace trapft::nufft
