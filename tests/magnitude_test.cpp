#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "spectrum/magnitude.hpp"

namespace {

using trapft::spectrum_magnitude;

double plain(double c, double s) { return std::sqrt((c * c) + (s * s)); }

// The magnitude in long double, whose exponent range holds every square.
double wide(double c, double s) {
    const long double lc = c, ls = s;
    return static_cast<double>(std::sqrt((lc * lc) + (ls * ls)));
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Within one unit in the last place of the reference (subnormal units included).
bool near(double got, double want) {
    return std::isfinite(want) ? std::fabs(got - want) <= std::nextafter(std::fabs(want), INFINITY) - std::fabs(want)
                               : got == want;
}

TEST(magnitude, is_the_plain_formula_where_it_holds_and_scaled_where_it_does_not) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double tiny = std::numeric_limits<double>::denorm_min();
    struct row {
        double c, s;
        bool plain_bits;  // the plain formula's result, to the bit
    };
    const row rows[] = {
        // Squares that overflow or underflow: the scaled formula.
        {1e200, 0, false},        {-3e200, 4e200, false},  {1e300, 1e-300, false},
        {DBL_MAX, 0, false},      {1e-200, 0, false},      {3e-200, -4e-200, false},
        {1e-155, 1e-160, false},  {1e-154, 1e-160, false}, {tiny, 0, false},
        {3 * tiny, 4 * tiny, false},
        // The plain formula: ordinary parts, the edge of the normal range, a
        // result truly above the largest double, zeros, infinities and NaN.
        {1, 1, true},             {0.3, -0.4, true},       {1e150, 1e-150, true},
        {1.5e-154, 0, true},      {1e-100, 1e-170, true},  {0x1p-511, 0x1p-540, true},
        {DBL_MAX, DBL_MAX, true}, {0, 0, true},            {-0.0, 0.0, true},
        {inf, 1, true},           {1, -inf, true},         {nan, 1, true},
        {inf, nan, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.c << ", " << r.s);
        const double got = spectrum_magnitude(r.c, r.s);
        EXPECT_TRUE(near(got, wide(r.c, r.s)) || (std::isnan(got) && std::isnan(wide(r.c, r.s)))) << got;
        if (r.plain_bits) {
            EXPECT_TRUE(same_bits(got, plain(r.c, r.s))) << got << " vs " << plain(r.c, r.s);
        }
    }

    // Parts across the whole exponent range: the plain bits wherever the sum of
    // squares is finite and normal, within an ulp of the wide result elsewhere.
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    std::uniform_int_distribution<int> exponent(-1074, 1023);
    for (int k = 0; k < 200000; ++k) {
        const double c = std::ldexp(mantissa(rng), exponent(rng)) * (rng() % 2 ? 1 : -1);
        const double s = rng() % 8 == 0 ? 0.0 : std::ldexp(mantissa(rng), exponent(rng));
        const double squares = (c * c) + (s * s);
        const double got = spectrum_magnitude(c, s);
        if (squares >= DBL_MIN && squares <= DBL_MAX) {
            ASSERT_TRUE(same_bits(got, plain(c, s))) << c << ' ' << s;
        } else {
            ASSERT_TRUE(near(got, wide(c, s))) << c << ' ' << s << ": " << got << " vs " << wide(c, s);
        }
    }
}

}  // namespace
