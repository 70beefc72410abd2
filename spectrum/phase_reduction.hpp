// Exact reduction of phases modulo one cycle, and sine and cosine of a reduced phase.
#pragma once

#include <cmath>
#include <cstddef>
#include <iterator>

namespace trapft {

// The double nearest 2π.
inline constexpr double two_pi = 6.283185307179586;

// The integer nearest x, for |x| < 2^51.
[[gnu::always_inline]] inline double nearest_integer(double x) {
    constexpr double magic = 0x1.8p52;
    return (x + magic) - magic;
}

// x minus an integer, exactly, within [−1/2, 1/2], for any finite x (from
// 2^52 on every double is an integer). Without branches, so that loops over
// samples vectorize.
[[gnu::always_inline]] inline double reduce_unit(double x) {
    const double magic = std::copysign(0x1.8p52, x);  // the sum rounds to an integer either side
    const double r = x - ((x + magic) - magic);
    return std::fabs(x) < 0x1p52 ? r : 0.0;
}

// A phase in cycles modulo 1 as hi + lo, |hi| ≤ 1/2, |lo| ≤ ulp(hi).
struct unit_pair {
    double hi;
    double lo;
};

// a·b modulo 1: exact up to the last rounding, for any finite a and b.
[[gnu::always_inline]] inline unit_pair fraction_of_product(double a, double b) {
    const double p = a * b;
    const double e = std::fma(a, b, -p);  // a·b = p + e exactly
    const double r1 = reduce_unit(p);
    const double r2 = reduce_unit(e);
    const double s = r1 + r2;
    const double back = s - r1;
    const double error = (r1 - (s - back)) + (r2 - back);
    // A product that overflows is, exactly, a huge integer.
    const bool finite = std::fabs(p) <= 0x1.fffffffffffffp1023;
    return {finite ? reduce_unit(s) : 0.0, finite ? error : 0.0};
}

// (first + steps·increment)·t modulo 1, from u = increment·t and v = first·t
// modulo 1 (fraction_of_product), for an integer `steps` below 2^53 in size.
[[gnu::always_inline]] inline double phase_at(unit_pair v, unit_pair u, double steps) {
    const unit_pair su = fraction_of_product(steps, u.hi);
    return reduce_unit((su.hi + v.hi) + ((su.lo + steps * u.lo) + v.lo));
}

struct sine_cosine {
    double sine;
    double cosine;
};

// The minimax polynomials of fdlibm's __kernel_sin and __kernel_cos on
// |x| ≤ π/4 (each within 2^-58 of the function), in x²: sin x = x + x³·S(x²),
// cos x = 1 + x²·C(x²); coefficients from the highest degree.
inline constexpr double sine_coefficients[] = {1.58969099521155010221e-10, -2.50507602534068634195e-08,
                                               2.75573137070700676789e-06, -1.98412698298579493134e-04,
                                               8.33333333332248946124e-03, -1.66666666666666324348e-01};
inline constexpr double cosine_coefficients[] = {-1.13596475577881948265e-11, 2.08757232129817482790e-09,
                                                 -2.75573143513906633035e-07, 2.48015872894767294178e-05,
                                                 -1.38888888888741095749e-03, 4.16666666666666019037e-02, -0.5};

// S(x2) and C(x2) by Horner's rule with `fused` multiply-adds (a double, or
// a vector of them with its own fused operation: the same bits lane by lane).
template <typename number, typename fused_operation>
[[gnu::always_inline]] inline void quarter_polynomials(const number& x2, number& s, number& c, fused_operation fused) {
    s = number{} + sine_coefficients[0];
    for (std::size_t k = 1; k < std::size(sine_coefficients); ++k) s = fused(x2, s, sine_coefficients[k]);
    c = number{} + cosine_coefficients[0];
    for (std::size_t k = 1; k < std::size(cosine_coefficients); ++k) c = fused(x2, c, cosine_coefficients[k]);
}

// sin and cos of 2π·r for |r| ≤ 1/2 (r in cycles): reduced by quarter turns
// exactly, then the polynomials above by fused multiply-adds: within 2.5e-16
// of sin and cos in all.
[[gnu::always_inline]] inline sine_cosine sin_cos_cycles(double r) {
    const double q = nearest_integer(4.0 * r);
    const double x = (r - 0.25 * q) * two_pi;
    const double x2 = x * x;
    double sp, cp;
    quarter_polynomials(x2, sp, cp, [](double a, double b, double c) { return std::fma(a, b, c); });
    const double s = std::fma(x * x2, sp, x);
    const double c = std::fma(x2, cp, 1.0);
    const int quadrant = static_cast<int>(q) & 3;
    const double a = (quadrant & 1) != 0 ? c : s;
    const double b = (quadrant & 1) != 0 ? s : c;
    return {(quadrant & 2) != 0 ? -a : a, ((quadrant + 1) & 2) != 0 ? -b : b};
}

}  // namespace trapft
