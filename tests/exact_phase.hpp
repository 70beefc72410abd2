// The exact reduction of phases modulo one cycle in binary128: the slow oracle the tests and fuzzing check against.
#pragma once

#include <cmath>

namespace trapft {

// binary128: GCC's __float128 on x86-64, long double on ARM64 (and other
// targets whose long double is IEEE quadruple precision).
#if defined(__x86_64__)
__extension__ typedef __float128 exact_phase;
#else
typedef long double exact_phase;
static_assert(__LDBL_MANT_DIG__ == 113, "the checks need binary128");
#endif

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
