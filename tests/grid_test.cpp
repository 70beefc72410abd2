// The frequency grid alone: the running sum, and slices for parts.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "spectrum/grid.hpp"

namespace {

// The documented walk, written out plainly: f ← start, then f ← f + step.
std::vector<double> walked(double start, double end, std::int32_t count) {
    std::vector<double> lines;
    const double step = count > 1 ? (end - start) / static_cast<double>(count - 1) : 0.0;
    double f = start;
    for (std::int32_t j = 0; j < count; ++j, f = f + step) lines.push_back(f);
    return lines;
}

TEST(grid, is_the_running_sum_bit_for_bit_from_any_line) {
    struct grid_case {
        double start, end;
        std::int32_t count;
    };
    const grid_case cases[] = {{0, 10, 1001}, {0.1, 0.7, 7}, {5, -5, 12}, {3, 3, 4}, {2.5, 9, 1},
                               {-1e-300, 1e-300, 33}, {1e15, 1e15 + 7, 8}, {0, 1, 0}, {0, 1, -5}};
    for (const grid_case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << " to " << c.end << " in " << c.count);
        const trapft::frequency_grid grid = trapft::make_grid(c.start, c.end, c.count);
        const std::vector<double> expected = walked(c.start, c.end, c.count);
        ASSERT_EQ(grid.count, static_cast<std::int64_t>(expected.size()));
        for (std::int64_t first = 0; first <= grid.count; first += std::max<std::int64_t>(1, grid.count / 5)) {
            std::vector<double> got(static_cast<std::size_t>(grid.count - first));
            trapft::grid_frequencies(grid, {first, grid.count}, got.data());
            for (std::size_t j = 0; j < got.size(); ++j)
                ASSERT_EQ(std::bit_cast<std::uint64_t>(got[j]), std::bit_cast<std::uint64_t>(expected[first + j]))
                    << "line " << first + static_cast<std::int64_t>(j);
        }
    }
    // The sum's rounding shows in the last line, as documented.
    char last[32];
    std::snprintf(last, sizeof last, "%.15g", trapft::grid_frequency(trapft::make_grid(0, 10, 1001), 1000));
    EXPECT_STREQ(last, "9.99999999999983");
}

TEST(grid, slices_cover_the_lines_in_order_with_sizes_one_apart) {
    const std::int64_t counts[] = {0, 1, 2, 7, 1001, 2147483647};
    const std::int32_t parts[] = {1, 2, 3, 7, 1000, 2147483647};
    for (const std::int64_t count : counts) {
        for (const std::int32_t p : parts) {
            SCOPED_TRACE(testing::Message() << count << " lines in " << p << " parts");
            EXPECT_EQ(trapft::grid_slice(count, 1, p).first, 0);
            EXPECT_EQ(trapft::grid_slice(count, p, p).end, count);
            // Neighbouring slices at the start, the middle and the end of the cut.
            for (const std::int32_t k : {1, 2, 3, p / 2, p / 2 + 1, p - 2, p - 1}) {
                if (k < 1 || k >= p) continue;
                const trapft::line_range here = trapft::grid_slice(count, k, p);
                const trapft::line_range next = trapft::grid_slice(count, k + 1, p);
                EXPECT_EQ(here.end, next.first) << "part " << k;
                EXPECT_TRUE(here.size() == next.size() || here.size() == next.size() + 1) << "part " << k;
                EXPECT_TRUE(here.size() == count / p || here.size() == count / p + 1) << "part " << k;
            }
        }
    }
}

}  // namespace
