// The nearest double to a decimal mantissa times a power of ten, against the C library's reading of the same text.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "input/nearest_double.hpp"

namespace {

struct decimal {
    std::uint64_t mantissa;
    int power;
};

// Ties and near-ties (mantissas either side of 2^53 … 2^63), powers of ten
// and their neighbours at every power of the table and just past it, and
// random mantissas of 1 to 19 digits at random powers: every value given is
// strtod's, bit for bit, and few are left to the general reader.
TEST(nearest_double, gives_the_c_librarys_double_or_leaves_it) {
    std::vector<decimal> cases;
    std::mt19937_64 rng(7);
    for (int k = 53; k < 64; ++k)
        for (const std::uint64_t base : {std::uint64_t{1} << k, (std::uint64_t{1} << k) | (rng() >> (65 - k))})
            for (int d = -40; d <= 40; ++d)
                for (const int p : {0, 1, -1, 7, -7, 22, -22, 23, -23})
                    cases.push_back({base + static_cast<std::uint64_t>(d), p});
    for (int p = -trapft::nearest_double_powers - 1; p <= trapft::nearest_double_powers + 1; ++p)
        for (const std::uint64_t m : {std::uint64_t{1}, std::uint64_t{9}, std::uint64_t{99999999999999999},
                                      std::uint64_t{4503599627370497}, std::uint64_t{9999999999999999999u}})
            cases.push_back({m, p});
    for (int k = 0; k < 300000; ++k) {
        std::uint64_t limit = 1;
        for (int digits = 1 + static_cast<int>(rng() % 19); digits > 0; --digits) limit *= 10;
        cases.push_back({1 + rng() % (limit - 1), static_cast<int>(rng() % 241) - 120});
    }
    std::size_t left = 0;
    for (const decimal& c : cases) {
        char text[48];
        std::snprintf(text, sizeof text, "%llue%d", static_cast<unsigned long long>(c.mantissa), c.power);
        const double expected = -std::strtod(text, nullptr);
        double got = 0.0;
        if (!trapft::nearest_double(c.mantissa, c.power, true, got)) {
            ++left;
            continue;
        }
        ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << text << ": " << got << " against " << expected;
    }
    EXPECT_LT(left, cases.size() / 100) << "of " << cases.size();
}

}  // namespace
