// The fast evaluation gives the same bits whatever runs it: every instruction set, any threads, reused storage.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "nufft_cases.hpp"
#include "spectrum/nufft/kernel.hpp"
#include "spectrum/spectrum.hpp"

namespace {

using namespace nufft_cases;

// The lines' deconvolution goes a vector of lines at a time where the
// processor has vectors, line by line elsewhere and on rare lines: every
// instruction set must give the bits of the line-by-line code, lines left
// alone included. Grids of random values with −0 and values that overflow
// when corrected; offsets none, tiny, zero and large (phases past 2^-10
// cycles); a frequency that is not finite; a grid so small that a vector of
// lines straddles mode 0.
TEST(nufft, deconvolution_gives_the_same_bits_with_every_instruction_set) {
    const sample_set s = make_shape(shape::sorted, 3000, 31);
    const trapft::nufft_plan_owner plan = prepared(s, 1e-12, 1001);
    ASSERT_NE(plan, nullptr);
    struct deconvolution_case {
        const char* name;
        std::int32_t count;
        int terms;
        double offset;       // offsets of up to this size (0: none)
        bool large_phases;   // every ninth offset far past 2^-10 cycles
        bool not_finite;     // frequency 17 is NaN
    };
    const deconvolution_case cases[] = {
        {"no offsets", 1001, 1, 0.0, false, false},
        {"tiny offsets, one term", 1001, 1, 1e-13, false, false},
        {"tiny offsets, two terms", 999, 2, 1e-11, false, false},
        {"three terms, large phases, a line not finite", 1001, 3, 1e-10, true, true},
        {"mode 0 within a vector", 8, 2, 1e-11, false, false},
    };
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (const deconvolution_case& c : cases) {
        SCOPED_TRACE(c.name);
        const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, 1);
        ASSERT_NE(work, nullptr);
        const std::int32_t points = trapft::nufft_grid_points(*plan, c.count);
        for (int p = 0; p < c.terms; ++p) {
            double* const grid = work->grid(0, 0, p);
            for (std::int32_t i = 0; i < 2 * points; ++i) grid[i] = i % 13 == 0 ? -0.0 : i % 29 == 0 ? 1e308 : unit(rng);
        }
        std::vector<double> offsets(static_cast<std::size_t>(c.count)), frequencies(offsets.size());
        const double first = 3.25, increment = 0.125;  // the lines' frequencies: the progression plus offsets
        for (std::size_t m = 0; m < offsets.size(); ++m) {
            offsets[m] = m % 5 == 0 ? 0.0 : c.large_phases && m % 9 == 0 ? 0.01 : c.offset * unit(rng);
            frequencies[m] = first + static_cast<double>(m) * increment + offsets[m];
        }
        if (c.not_finite) frequencies[17] = std::nan("");
        std::vector<double> re[3], im[3];
        for (int set = 0; set <= trapft::nufft_widest_set(*plan); ++set) {
            re[set].assign(offsets.size(), 7.0);  // what a skipped line keeps
            im[set].assign(offsets.size(), 7.0);
            trapft::nufft_deconvolve(*plan, set, points, c.count, c.terms, c.offset == 0.0 ? nullptr : offsets.data(),
                                     frequencies.data(), first, increment, *work, re[set].data(), im[set].data());
            if (set == 0) continue;
            EXPECT_EQ(bits_of(re[set]), bits_of(re[0])) << "set " << set;
            EXPECT_EQ(bits_of(im[set]), bits_of(im[0])) << "set " << set;
        }
    }
}

// The lines' offsets likewise, four lines at a time where the processor has
// vectors: the same offsets and largest (or first that is not finite) as line
// by line, over running sums across binades, lines not finite and
// differences that overflow.
TEST(nufft, line_offsets_give_the_same_bits_with_every_instruction_set) {
    const sample_set s = make_shape(shape::sorted, 100, 3);
    const trapft::nufft_plan_owner plan = prepared(s, 1e-12, 100);
    ASSERT_NE(plan, nullptr);
    std::vector<double> overflowing(21);
    for (std::size_t m = 0; m < overflowing.size(); ++m) overflowing[m] = (static_cast<double>(m) - 10.0) * 1.5e307;
    overflowing.back() = -1.4e308;
    std::vector<double> with_gaps = running_sum(-3.7, 41.9, 1003);
    with_gaps[6] = std::numeric_limits<double>::infinity();
    with_gaps[501] = std::nan("");
    const std::vector<double> cases[] = {running_sum(1e-3, 1000.0, 2001), running_sum(300.0, -0.7, 3001), with_gaps,
                                         overflowing};
    for (const std::vector<double>& f : cases) {
        SCOPED_TRACE(std::to_string(f.size()) + " lines");
        const auto lines = static_cast<std::int32_t>(f.size());
        // A progression through the ends, as the block takes it first.
        const double first = f.front(), increment = (f.back() - f.front()) / (lines - 1);
        std::vector<double> offsets[3];
        double largest[3] = {};
        for (int set = 0; set <= trapft::nufft_widest_set(*plan); ++set) {
            offsets[set].assign(f.size(), 7.0);
            largest[set] = trapft::nufft_line_offsets(set, f.data(), lines, first, increment, offsets[set].data());
            if (set == 0) continue;
            EXPECT_EQ(std::bit_cast<std::uint64_t>(largest[set]), std::bit_cast<std::uint64_t>(largest[0]));
            // Past the first offset that is not finite, the lines are not specified.
            std::size_t specified = f.size();
            for (std::size_t m = 0; m < f.size(); ++m)
                if (!std::isfinite(offsets[0][m])) {
                    specified = m + 1;
                    break;
                }
            offsets[set].resize(specified);
            EXPECT_EQ(bits_of(offsets[set]), bits_of(std::vector<double>(offsets[0].begin(), offsets[0].begin() +
                                                                          static_cast<std::ptrdiff_t>(specified))))
                << "set " << set;
        }
    }
}

// Whole blocks with every instruction set this CPU has: the same bits, on
// every way a block can go (compensated grids, Taylor terms, differences,
// the wide stencil, direct sums, exact runs, several rows, samples wrapping
// round the grid).
TEST(nufft, blocks_give_the_same_bits_with_every_instruction_set) {
    struct isa_case {
        const char* name;
        sample_set samples;
        std::vector<double> frequencies;
        double tolerance;
        std::int32_t rows = 1;
        bool margins = false;  // a list's block
    };
    std::vector<double> linspace(3001);  // each line rounded on its own
    for (std::size_t m = 0; m < linspace.size(); ++m) linspace[m] = 10.0 + static_cast<double>(m) * 0.004;
    sample_set coherent;
    for (std::int32_t k = 0; k < 5000; ++k) {
        coherent.times.push_back(k);
        coherent.values.push_back(0.1);
    }
    sample_set scattered = make_shape(shape::unsorted_repeated, 20000, 17);
    const isa_case cases[] = {
        {"one pass", make_shape(shape::sorted, 3000, 1), running_sum(0.0, 40.0, 4001), 1e-9},
        {"compensated grids", coherent, running_sum(0.0, 2.0, 3001), 1e-14},
        {"terms across binades", make_shape(shape::sorted, 3000, 2), running_sum(0.3, 900.0, 9001), 1e-12},
        {"differences", make_shape(shape::sorted, 2000, 3), running_sum(5.0, 5.001, 2001), 1e-12},
        {"direct sums", make_shape(shape::tiny, 3, 4), running_sum(-3.0, 3.0, 500), 1e-6},
        {"exact runs", make_shape(shape::far_times, 300, 5), running_sum(100.0, 100.5, 1501), 1e-9},
        {"wrapping, large phases", make_shape(shape::far_times, 2000, 6), running_sum(60.0, 59.0, 801), 1e-3},
        {"two sub-grids", scattered, running_sum(0.0, 90.0, 3000), 1e-12},
        {"three rows", make_shape(shape::sorted, 1000, 7), running_sum(-2.0, 30.0, 2001), 1e-9, 3},
        {"wide differences", make_shape(shape::sorted, 2000, 9), linspace, 1e-12, 2, true},
    };
    for (const isa_case& c : cases) {
        SCOPED_TRACE(c.name);
        sample_set s = c.samples;
        std::vector<double> values;
        for (std::int32_t r = 0; r < c.rows; ++r)
            for (const double v : c.samples.values) values.push_back(v * (r + 1));
        const auto lines = static_cast<std::int32_t>(c.frequencies.size());
        trapft::nufft_plan_owner plan;
        ASSERT_EQ(trapft::nufft_prepare(trapft::sample_rows(s.times, values, c.rows), c.tolerance, lines, -1, plan),
                  trapft::nufft_status::ok);
        std::vector<double> re[3], im[3];
        for (int set = 0; set <= trapft::nufft_widest_set(*plan); ++set) {
            const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, 2);
            ASSERT_NE(work, nullptr);
            const auto size = static_cast<std::size_t>(lines) * static_cast<std::size_t>(c.rows);
            re[set].assign(size, 0.0);
            im[set].assign(size, 0.0);
            const std::int32_t block = trapft::nufft_block_lines(*plan);
            for (std::int32_t b = 0; b < lines; b += block)
                trapft::nufft_block(*plan, set, c.frequencies.data() + b, std::min(block, lines - b),
                                    *work, re[set].data() + b, im[set].data() + b, 2,
                                    static_cast<std::size_t>(lines), c.margins);
            if (set == 0) continue;
            EXPECT_EQ(bits_of(re[set]), bits_of(re[0])) << "set " << set;
            EXPECT_EQ(bits_of(im[set]), bits_of(im[0])) << "set " << set;
        }
    }
}

// Several threads in one block: the samples fall into a fixed number of
// sub-grids whatever the threads, so the results are the same to the bit.
TEST(nufft, threads_in_a_block_give_the_same_bits) {
    const sample_set s = make_shape(shape::unsorted_repeated, 20000, 9);
    const std::vector<double> f = running_sum(0.0, 90.0, 3000);
    const trapft::nufft_plan_owner plan = prepared(s, 1e-12, 3000);
    ASSERT_NE(plan, nullptr);
    ASSERT_GT(plan->subgrids, 1);
    std::vector<double> re[3], im[3];
    for (int threads = 1; threads <= 3; ++threads) blocks_of(*plan, f, threads, re[threads - 1], im[threads - 1]);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(re[i], re[0]);
        EXPECT_EQ(im[i], im[0]);
    }
}

// A work's grids hold the last block's transforms: a block after it, on a
// smaller grid whose samples reach only part of it (sorted times, small
// steps), gives the bits of fresh storage, with one thread or two.
TEST(nufft, a_reused_work_gives_the_bits_of_a_fresh_one) {
    sample_set s = make_shape(shape::sorted, 20000, 5);
    for (double& t : s.times) t += 200.0;  // the samples keep off the grid's start and wrap nowhere
    const std::vector<double> before = running_sum(0.0, 90.0, 3000);
    const std::vector<double> after = running_sum(5.0, 5.55, 1000);
    const trapft::nufft_plan_owner plan = prepared(s, 1e-6, 3000);
    ASSERT_NE(plan, nullptr);
    ASSERT_GT(plan->subgrids, 1);
    for (int threads = 1; threads <= 2; ++threads) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const auto count = static_cast<std::int32_t>(after.size());
        std::vector<double> re[2], im[2];
        for (int reused = 0; reused < 2; ++reused) {
            const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, threads);
            ASSERT_NE(work, nullptr);
            std::vector<double> scratch(before.size());
            if (reused == 1)
                trapft::nufft_evaluate(*plan, before.data(), static_cast<std::int32_t>(before.size()), *work,
                                   scratch.data(), scratch.data(), threads);
            re[reused].assign(after.size(), 0.0);
            im[reused].assign(after.size(), 0.0);
            trapft::nufft_evaluate(*plan, after.data(), count, *work, re[reused].data(), im[reused].data(), threads);
        }
        EXPECT_EQ(re[1], re[0]);
        EXPECT_EQ(im[1], im[0]);
    }
}

// Lines far from any progression are interpolated from progressions of
// their own, a vector of the kernel's points at a time: every instruction
// set gives the portable bits, for rows of several kinds and random
// frequencies (some sparse enough to be summed directly), sorted or in no
// order from one progression with lines that are not finite among them
// (which keep what they had).
TEST(nufft, interpolated_lines_give_the_same_bits_with_every_instruction_set) {
    const sample_set s = make_shape(shape::mixed_scale, 3000, 8);
    std::vector<double> values = s.values;
    for (const double v : s.values) values.push_back(-3.0 * v);
    std::mt19937_64 rng(12);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> f(5000);
    for (double& v : f) v = 200.0 * unit(rng) - 50.0;
    f.push_back(1e6);  // far from the others
    std::sort(f.begin(), f.end());
    const auto count = static_cast<std::int32_t>(f.size());
    trapft::nufft_plan_owner plan;
    const trapft::sample_rows rows(s.times, values, 2);
    ASSERT_EQ(trapft::prepare_nufft(rows, 1e-10, count, plan), trapft::nufft_status::ok);
    ASSERT_EQ(trapft::prepare_nufft_lists(*plan, rows, f.front(), f.back(), 1), trapft::nufft_status::ok);
    ASSERT_TRUE(trapft::nufft_interpolates_lists(*plan));
    std::vector<double> g(f.begin(), f.end() - 1);  // the near ones, in no order
    const double lowest = g.front(), highest = g.back();
    std::shuffle(g.begin(), g.end(), rng);
    for (std::size_t m = 5; m < g.size(); m += 37) g[m] = m % 2 == 0 ? std::nan("") : -INFINITY;
    const auto shuffled = static_cast<std::int32_t>(g.size());
    const trapft::instruction_set widest = plan->instruction_set;
    std::vector<double> re[3], im[3], cluster_re[3], cluster_im[3];
    for (int set = 0; set <= static_cast<int>(widest); ++set) {
        plan->instruction_set = static_cast<trapft::instruction_set>(set);
        const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, 1);
        const trapft::nufft_list_work_owner list = trapft::make_nufft_list_work(*plan, 1);
        ASSERT_TRUE(work != nullptr && list != nullptr);
        re[set].assign(2 * f.size(), 0.0);
        im[set].assign(2 * f.size(), 0.0);
        trapft::nufft_evaluate_sorted(*plan, f.data(), count, *work, list.get(), re[set].data(), im[set].data(), 1,
                                      f.size());
        double stretch = 0.0;
        ASSERT_TRUE(trapft::nufft_one_cluster(*plan, g.data(), shuffled, lowest, highest, list.get(), stretch));
        cluster_re[set].assign(2 * g.size(), 7.0);
        cluster_im[set].assign(2 * g.size(), 7.0);
        trapft::nufft_evaluate_cluster(*plan, g.data(), shuffled, lowest, highest, *work, *list,
                                       cluster_re[set].data(), cluster_im[set].data(), 1, g.size());
        for (std::size_t m = 0; m < 2 * g.size(); ++m) {
            if (!std::isfinite(g[m % g.size()])) {
                ASSERT_TRUE(cluster_re[set][m] == 7.0 && cluster_im[set][m] == 7.0);
            }
        }
        if (set == 0) continue;
        EXPECT_EQ(bits_of(re[set]), bits_of(re[0])) << "set " << set;
        EXPECT_EQ(bits_of(im[set]), bits_of(im[0])) << "set " << set;
        EXPECT_EQ(bits_of(cluster_re[set]), bits_of(cluster_re[0])) << "set " << set;
        EXPECT_EQ(bits_of(cluster_im[set]), bits_of(cluster_im[0])) << "set " << set;
    }
}

}  // namespace
