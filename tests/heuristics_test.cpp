// The fast evaluation's choices as pure functions: kernels and blocks for given tolerances, samples and lines.
#include <gtest/gtest.h>

#include <cstdint>

#include "spectrum/nufft/heuristics.hpp"

namespace {

using namespace trapft::nufft;

// The choices of the measured shapes (see docs/fast-evaluation.md): a change here changes the
// fast evaluation's last bits, and its speed, for them.
TEST(heuristics, choose_the_kernel_and_blocks_of_the_measured_shapes) {
    struct choice_case {
        double tolerance;
        std::int64_t samples, lines;
        int asked;  // upsampling asked for, or -1
        int upsampling, width;
        std::int64_t points, block_lines;
    };
    const choice_case cases[] = {
        {1e-14, 16384, 11, -1, 0, 17, 32, 16},
        {1e-12, 16384, 1000001, -1, 0, 15, 131072, 65536},
        {1e-12, 1000000, 70001, -1, 0, 15, 262144, 131072},
        {1e-9, 16384, 70001, -1, 1, 13, 131072, 81920},
        {1e-9, 3000, 20001, -1, 0, 11, 65536, 32768},
        {1e-6, 1000000, 1000001, -1, 2, 12, 524288, 393216},
        {1e-6, 16384, 98304, 2, 2, 12, 131072, 98304},
        {1e-3, 100, 500, -1, 0, 5, 1024, 512},
        {0.1, 5, 5, -1, 0, 3, 16, 8},
        {1e-9, 1000000, 70001, 1, 1, 13, 131072, 81920},
        {1e-14, 1000, 5000, 2, 0, 17, 16384, 8192},  // 4/3 cannot meet 1e-14: upsampling 2 serves
    };
    for (const choice_case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tolerance << ", " << c.samples << " samples, " << c.lines << " lines");
        const block_choice b = choose_blocks(c.tolerance, c.samples, c.lines, c.asked);
        EXPECT_EQ(b.kernel.upsampling, c.upsampling);
        EXPECT_EQ(b.kernel.width, c.width);
        EXPECT_EQ(b.points, c.points);
        EXPECT_EQ(b.lines, c.block_lines);
    }
}

// Over tolerances, samples and lines: the kernel chosen meets the tolerance
// (or upsampling 2's widest serves), narrows as the tolerance grows, and
// shares the tolerance out without overdrawing it; the block holds its lines
// and its grids keep within their memory.
TEST(heuristics, keep_their_promises_over_tolerances_samples_and_lines) {
    for (int u = 0; u < trapft::kernel_upsamplings; ++u) {
        int previous = trapft::kernel_max_width + 1;
        for (double eps = 1e-14; eps <= 0.1; eps *= 1.7) {
            const kernel_choice k = choose_kernel(eps, u);
            EXPECT_LE(k.width, previous) << eps;
            previous = k.width;
            EXPECT_GE(k.rounding, 0.0);
            EXPECT_GE(k.truncation, 0.0);
            if (k.meets) {
                EXPECT_LE(kernel_growth * trapft::kernel_error(k.width, u) + k.rounding + k.truncation, eps * 1.0000001);
            }
        }
    }
    for (double eps : {1e-14, 1e-12, 1e-9, 1e-6, 1e-3, 0.1})
        for (std::int64_t samples : {1, 100, 16384, 1000000})
            for (std::int64_t lines : {1, 17, 4096, 70001, 1000001}) {
                SCOPED_TRACE(testing::Message() << eps << ", " << samples << ", " << lines);
                const block_choice b = choose_blocks(eps, samples, lines, -1);
                EXPECT_TRUE(b.kernel.meets || (b.kernel.upsampling == 0 && b.kernel.width == trapft::kernel_max_width));
                EXPECT_EQ(b.points & (b.points - 1), 0);
                EXPECT_EQ(b.lines, lines_on(b.kernel.upsampling, b.points));
                EXPECT_GE(b.lines, std::min<std::int64_t>(lines, default_block));
                const std::size_t memory = std::max(grid_memory, 16 * static_cast<std::size_t>(samples));
                const std::int64_t smallest = 2 * next_power_of_two(std::min(lines, default_block));
                EXPECT_TRUE(b.points <= smallest || grids_bytes(b.points, choose_subgrids(samples, b.lines)) <= memory);
            }
}

}  // namespace
