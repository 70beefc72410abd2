// write_g15 against snprintf("%.15g"), byte for byte: named edge cases, then
// random doubles over every binade.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "output/g15.hpp"

namespace {

using trapft::g15_max_length;
using trapft::write_g15;

// "" when write_g15 and snprintf agree on `value`, else what both wrote.
std::string mismatch(double value) {
    char expected[32];
    const int size = std::snprintf(expected, sizeof expected, "%.15g", value);
    char actual[g15_max_length];  // exactly the promised room: ASan sees any overrun
    const char* const end = write_g15(actual, value);
    if (end - actual == size && std::memcmp(actual, expected, static_cast<std::size_t>(size)) == 0) return {};
    const std::string got(static_cast<const char*>(actual), end);
    char bits[24];
    std::snprintf(bits, sizeof bits, "%016llx",
                  static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(value)));
    return std::string(bits) + ": snprintf \"" + expected + "\", write_g15 \"" + got + "\"";
}

double from_bits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

// Each value, its negative, and its 3 neighbours on either side.
std::vector<double> with_neighbours(const std::vector<double>& values) {
    std::vector<double> all;
    for (double v : values) {
        for (double w : {v, -v}) {
            double below = w;
            double above = w;
            all.push_back(w);
            for (int k = 0; k < 3; ++k) {
                below = std::nextafter(below, -INFINITY);
                above = std::nextafter(above, INFINITY);
                all.push_back(below);
                all.push_back(above);
            }
        }
    }
    return all;
}

TEST(G15, NamedEdgeCases) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {
        0.0, 1.0, 0.5, 2.0, 0.1, 1.5, 123.456, 1.0 / 3, 2.0 / 3, 6.283185307179586,
        // Subnormals, the smallest normal, the largest doubles.
        from_bits(1), from_bits(2), from_bits(0x000fffffffffffff), from_bits(0x0010000000000000),
        std::numeric_limits<double>::max(), 1.7976931348623155e308, 4.9406564584124654e-324,
        // Where %g changes notation, and where rounding reaches the next power of ten.
        1e-5, 1e-4, 1e14, 1e15, 1e16, 1e17, 1e21, 1e22, 1e23, 1e100, 1e-100, 1e300, 1e-300, 1e-310,
        9.999999999999995e14, 9.9999999999999949e14, 9.999999999999995e-5, 9.999999999999995e-6,
        9.9999999999999995e15, 99999.9999999999, 999999999999999.0, 999999999999999.5,
        0.000099999999999999995, 9.999999999999995, 9.9999999999999982, 99.999999999999986,
        // Halfway at the 15th digit: integers whose 16th digit is a final 5
        // (round half to even: 1000000000000005 prints as 1e+15), and ones past 2^53.
        1000000000000005.0, 1000000000000015.0, 1000000000000025.0, 1234567890123455.0,
        9007199254740985.0, 10000000000000050.0, 10000000000000150.0, 12345678901234550.0,
        // Dyadic fractions with 16 digits ending in 5.
        1234567890123.125, 1234567890123.375, 98765432109.5625, 4096.000244140625,
        0.0001220703125, 1.0000000000000002,
        // Powers of two with 16 or 17 shortest digits.
        std::ldexp(1.0, 60), std::ldexp(1.0, 89), std::ldexp(1.0, -60), std::ldexp(1.0, -1022),
        std::ldexp(1.0, 1023), std::ldexp(1.0, -1074), std::ldexp(1.0, -200), std::ldexp(1.0, 200)};
    values = with_neighbours(values);
    for (double v : {inf, -inf, std::nan(""), -std::nan(""), -0.0}) values.push_back(v);
    // Every power of two and of ten, with neighbours.
    std::vector<double> powers;
    for (int e = -1074; e <= 1023; ++e) powers.push_back(std::ldexp(1.0, e));
    for (int e = -323; e <= 308; ++e) powers.push_back(std::strtod(("1e" + std::to_string(e)).c_str(), nullptr));
    for (double v : with_neighbours(powers)) values.push_back(v);
    for (double v : values) EXPECT_EQ(mismatch(v), "") << v;
}

// Exact halfway cases at the 15th digit, for every exponent that has them:
// N·10^−j with N a 16-digit odd multiple of 5^j is the double t·2^−j, t odd.
TEST(G15, HalfwayCases) {
    std::mt19937_64 rng(15);
    int failures = 0;
    for (int j = 0; j <= 22; ++j) {
        double five_j = 1;
        for (int k = 0; k < j; ++k) five_j *= 5;
        const auto low = static_cast<std::uint64_t>(std::ceil(1e15 / five_j));
        const auto span = static_cast<std::uint64_t>(1e16 / five_j) - low + 1;
        for (int k = 0; k < 20000; ++k) {
            const std::uint64_t t = (low + rng() % span) | 1;
            const double v = std::ldexp(static_cast<double>(t), -j);
            for (double w : {v, v * 10, -v}) {
                const std::string m = mismatch(w);
                if (!m.empty() && ++failures <= 10) ADD_FAILURE() << m;
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

// At least 10^7 doubles: random bit patterns, and uniform random significands
// in every binade (subnormals included), each of either sign. ThreadSanitizer
// has nothing to look for in this one-thread test and slows snprintf down
// tenfold: its build takes a tenth of the sample.
#if defined(__SANITIZE_THREAD__)
constexpr int sample_divisor = 10;
#else
constexpr int sample_divisor = 1;
#endif

TEST(G15, RandomDoublesInEveryBinade) {
    std::mt19937_64 rng(20251209);
    int failures = 0;
    constexpr int per_binade = 2500 / sample_divisor;  // × 2047 binades ≈ 5.1 million
    for (std::uint64_t binade = 0; binade < 2047 && failures < 10; ++binade) {
        for (int k = 0; k < per_binade; ++k) {
            const std::uint64_t sign = rng() & (std::uint64_t{1} << 63);
            const double v = from_bits(sign | binade << 52 | (rng() & ((std::uint64_t{1} << 52) - 1)));
            const std::string m = mismatch(v);
            if (!m.empty() && ++failures <= 10) ADD_FAILURE() << m;
        }
    }
    for (int k = 0; k < 5000000 / sample_divisor && failures < 10; ++k) {
        const std::string m = mismatch(from_bits(rng()));
        if (!m.empty() && ++failures <= 10) ADD_FAILURE() << m;
    }
    EXPECT_EQ(failures, 0);
}

}  // namespace
