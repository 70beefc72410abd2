#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "spectrum/magnitude.hpp"

namespace {

// Special values against each other and random parts across the whole exponent
// range: the plain formula's bits wherever its sum of squares is finite and
// normal or a part is not finite; within an ulp of a long double evaluation,
// whose exponent range holds every square, where the squares overflow or underflow.
TEST(magnitude, is_the_plain_formula_where_it_holds_and_scaled_where_it_does_not) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double special[] = {0.0, -0.0, 1.0, -0.4, 1e200, -1e300, DBL_MAX, 1e-200, 1e-160, 1.5e-154,
                              0x1p-511, std::numeric_limits<double>::denorm_min(), inf, -inf, NAN};
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    std::uniform_int_distribution<int> exponent(-1074, 1023);
    const auto random = [&] { return std::ldexp(mantissa(rng), exponent(rng)) * (rng() % 2 ? 1 : -1); };
    for (int k = 0; k < 200000; ++k) {
        const double c = k < 225 ? special[k % 15] : random();
        const double s = k < 225 ? special[k / 15] : rng() % 8 == 0 ? 0.0 : random();
        const double got = trapft::spectrum_magnitude(c, s);
        const double squares = (c * c) + (s * s);
        const double plain = std::sqrt(squares);
        const long double lc = c, ls = s;
        const double wide = static_cast<double>(std::sqrt((lc * lc) + (ls * ls)));
        if ((squares >= DBL_MIN && squares <= DBL_MAX) || !std::isfinite(c) || !std::isfinite(s)) {
            ASSERT_TRUE(std::memcmp(&got, &plain, sizeof got) == 0 || (std::isnan(got) && std::isnan(plain)))
                << c << ", " << s << ": " << got << " vs " << plain;
        } else {
            const double ulp = std::nextafter(wide, inf) - wide;
            ASSERT_TRUE(std::fabs(got - wide) <= ulp || got == wide) << c << ", " << s << ": " << got << " vs " << wide;
        }
    }
}

}  // namespace
