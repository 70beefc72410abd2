// Exact reduction of phases modulo one cycle, and sine and cosine of a reduced phase.
#pragma once

#include <cmath>

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

// sin and cos of 2π·r for |r| ≤ 1/2 (r in cycles): reduced by quarter turns
// exactly, then Taylor series on |x| ≤ π/4 (truncation below 1e-18).
[[gnu::always_inline]] inline sine_cosine sin_cos_cycles(double r) {
    const double q = nearest_integer(4.0 * r);
    const double x = (r - 0.25 * q) * two_pi;
    const double x2 = x * x;
    const double sp = -1.0 / 6 + x2 * (1.0 / 120 + x2 * (-1.0 / 5040 + x2 * (1.0 / 362880 + x2 * (-1.0 / 39916800
                      + x2 * (1.0 / 6227020800 + x2 * (-1.0 / 1307674368000 + x2 * (1.0 / 355687428096000)))))));
    const double cp = -0.5 + x2 * (1.0 / 24 + x2 * (-1.0 / 720 + x2 * (1.0 / 40320 + x2 * (-1.0 / 3628800
                      + x2 * (1.0 / 479001600 + x2 * (-1.0 / 87178291200 + x2 * (1.0 / 20922789888000
                      + x2 * (-1.0 / 6402373705728000))))))));
    const double s = x + (x * x2) * sp;
    const double c = 1.0 + x2 * cp;
    const int quadrant = static_cast<int>(q) & 3;
    const double a = (quadrant & 1) != 0 ? c : s;
    const double b = (quadrant & 1) != 0 ? s : c;
    return {(quadrant & 2) != 0 ? -a : a, ((quadrant + 1) & 2) != 0 ? -b : b};
}

}  // namespace trapft

namespace trapft {

__extension__ typedef __float128 exact_phase;

// a·b modulo 1 in binary128, in [0, 1) times the sign of a·b: the product of
// the two 53-bit significands as a 106-bit integer, shifted, so exact to
// binary128's precision whatever a·b's size. Slow; for checking the above.
inline exact_phase exact_fraction_of_product(double a, double b) {
    __extension__ typedef unsigned __int128 wide_integer;
    if (a == 0.0 || b == 0.0 || !std::isfinite(a) || !std::isfinite(b)) return 0;
    int ea = 0, eb = 0;
    const double ma = std::frexp(std::fabs(a), &ea);
    const double mb = std::frexp(std::fabs(b), &eb);
    const wide_integer p = static_cast<wide_integer>(static_cast<unsigned long long>(std::ldexp(ma, 53))) *
                           static_cast<unsigned long long>(std::ldexp(mb, 53));
    const int shift = 106 - ea - eb;  // a·b = p / 2^shift
    if (shift <= 0) return 0;
    const wide_integer below = shift >= 128 ? p : (p & ((wide_integer{1} << shift) - 1));
    exact_phase f = static_cast<exact_phase>(below);
    for (int s = shift; s > 0; s -= 60) f *= static_cast<exact_phase>(std::ldexp(1.0, -(s < 60 ? s : 60)));
    return (a < 0) != (b < 0) ? -f : f;
}

// x minus its integer part, for |x| below 2^63.
inline exact_phase exact_fraction(exact_phase x) { return x - static_cast<exact_phase>(static_cast<long long>(x)); }

}  // namespace trapft
