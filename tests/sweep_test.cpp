// The sweep's threads, slices and blocks: the same bytes as one thread, whatever the options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "spectrum/nufft/nufft.hpp"
#include "spectrum/spectrum.hpp"
#include "random_samples.hpp"
#include "sweep_output.hpp"

namespace {

using trapft::sweep_options;

std::string sweep(const trapft::sample_set& samples, double start, double end, std::int32_t count,
                  const sweep_options& options) {
    const sweep_output::swept result = sweep_output::sweep(samples, start, end, count, options);
    EXPECT_EQ(result.status, trapft::sweep_status::ok);
    return result.bytes;
}

struct grid_case {
    double start, end;
    std::int32_t count;
};

// Every job count and every cut into parts gives the one-thread bytes: grids
// ascending, descending, with equal ends, of one line and of none, and long
// enough for many blocks and chunks.
TEST(run_sweep, prints_the_same_bytes_for_every_job_count_and_part) {
    const trapft::sample_set sets[] = {random_samples(2, 1), random_samples(700, 2)};
    const grid_case grids[] = {
        {0, 10, 1001}, {5, -5, 7}, {3, 3, 4}, {0.25, 9, 1}, {0, 1, 0}, {0, 1, -3}, {-1e3, 1e3, 2500},
    };
    for (const trapft::sample_set& samples : sets) {
        for (const grid_case& g : grids) {
            SCOPED_TRACE(testing::Message() << samples.times.size() << " samples, " << g.start << " to " << g.end
                                            << ", " << g.count << " lines");
            const std::string whole = sweep(samples, g.start, g.end, g.count, {});
            for (int jobs : {2, 3, 16}) {
                sweep_options options;
                options.jobs = jobs;
                EXPECT_EQ(sweep(samples, g.start, g.end, g.count, options), whole) << jobs << " jobs";
            }
            for (std::int32_t parts : {2, 3, 7}) {
                std::string joined;
                for (std::int32_t part = 1; part <= parts; ++part) {
                    sweep_options options;
                    options.part = part;
                    options.parts = parts;
                    options.jobs = part % 2 + 1;
                    joined += sweep(samples, g.start, g.end, g.count, options);
                }
                EXPECT_EQ(joined, whole) << parts << " parts";
            }
        }
    }
}

// Slices differ by at most one line, the earlier ones the longer.
TEST(run_sweep, cuts_slices_of_even_size) {
    const trapft::sample_set samples = random_samples(2, 3);
    struct slice_case {
        std::int32_t count, part, parts, lines;
    };
    const slice_case cases[] = {
        {10, 1, 3, 4}, {10, 2, 3, 3}, {10, 3, 3, 3}, {2, 3, 5, 0}, {2, 2, 5, 1}, {7, 7, 7, 1}, {0, 1, 2, 0},
    };
    for (const slice_case& c : cases) {
        sweep_options options;
        options.part = c.part;
        options.parts = c.parts;
        const std::string text = sweep(samples, 0, 1, c.count, options);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), c.lines) << c.part << "/" << c.parts << " of " << c.count;
    }
}

}  // namespace

namespace {

// Σ |w_k x_k| with the trapezoid weights of the samples in file order.
double weight_scale(const trapft::sample_set& s) {
    double total = 0.0;
    for (std::int32_t k = 0; k + 1 < static_cast<std::int32_t>(s.times.size()); ++k) {
        const double half = (s.times[std::size_t(k) + 1] - s.times[std::size_t(k)]) / 2;
        total += std::abs(half * s.values[std::size_t(k)]) + std::abs(half * s.values[std::size_t(k) + 1]);
    }
    return total;
}

std::vector<std::vector<double>> rows(const std::string& text) {
    std::vector<std::vector<double>> table;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<double> row;
        for (std::string word; words >> word;) row.push_back(std::strtod(word.c_str(), nullptr));
        table.push_back(row);
    }
    return table;
}

// The fast evaluation in the sweep: the exact run's frequency column, sums
// within tolerance, and again the same bytes for every job count and part.
TEST(run_sweep, fast_evaluation_keeps_the_grid_and_its_bound) {
    if (!trapft::fast_evaluation_available()) GTEST_SKIP() << "built without the fast evaluation";
    const trapft::sample_set samples = random_samples(300, 4);
    const double scale = weight_scale(samples);
    // Across a binade of the frequencies, descending through zero, and one line.
    const grid_case grids[] = {{0, 300, 70001}, {50, -20, 999}, {0.5, 0.5, 3}, {7, 8, 1}};
    for (const grid_case& g : grids) {
        const auto exact = rows(sweep(samples, g.start, g.end, g.count, {}));
        for (double tolerance : {1e-12, 1e-6}) {
            SCOPED_TRACE(testing::Message() << "tolerance " << tolerance << ", " << g.start << " to " << g.end);
            sweep_options options;
            options.tolerance = tolerance;
            const std::string fast = sweep(samples, g.start, g.end, g.count, options);
            const auto got = rows(fast);
            ASSERT_EQ(got.size(), exact.size());
            for (std::size_t j = 0; j < got.size(); ++j) {
                ASSERT_EQ(got[j][0], exact[j][0]) << "line " << j;
                // The exact run's own rounding, (N + 2π|f t|) 2^-53 A at worst,
                // and both printed to 15 digits.
                const double reach = 2 * M_PI * std::abs(got[j][0]) * samples.times.back();
                const double slack = (tolerance + (static_cast<double>(samples.times.size()) + reach) * 0x1p-53) * scale + 1e-14 * std::abs(exact[j][3]);
                ASSERT_NEAR(got[j][1], exact[j][1], slack) << "line " << j;
                ASSERT_NEAR(got[j][2], exact[j][2], slack) << "line " << j;
                ASSERT_NEAR(got[j][3], std::hypot(got[j][1], got[j][2]), 1e-14 * got[j][3]) << "line " << j;
            }
            options.jobs = 3;
            EXPECT_EQ(sweep(samples, g.start, g.end, g.count, options), fast);
            std::string joined;
            for (std::int32_t part = 1; part <= 4; ++part) {
                options.part = part;
                options.parts = 4;
                joined += sweep(samples, g.start, g.end, g.count, options);
            }
            EXPECT_EQ(joined, fast);
        }
    }
}

// A time or value that is not finite leaves the run to the exact evaluation.
TEST(run_sweep, fast_evaluation_falls_back_on_values_that_are_not_finite) {
    if (!trapft::fast_evaluation_available()) GTEST_SKIP() << "built without the fast evaluation";
    for (double odd : {double(INFINITY), -double(INFINITY), double(NAN), 1e308}) {
        trapft::sample_set samples = random_samples(50, 5);
        samples.values[17] = odd;
        if (odd == 1e308) {  // every number finite, but A overflows
            samples.times[40] = -1e308;
            samples.values[39] = 1e308;
        }
        sweep_options options;
        options.tolerance = 1e-9;
        EXPECT_EQ(sweep(samples, 0, 3, 31, options), sweep(samples, 0, 3, 31, {})) << odd;
    }
    // So do the lines at frequencies that are not finite.
    const trapft::sample_set samples = random_samples(50, 6);
    sweep_options options;
    options.tolerance = 1e-9;
    for (const grid_case& g : {grid_case{0, INFINITY, 3}, grid_case{-1e308, 1e308, 4}, grid_case{NAN, 1, 2}}) {
        const std::string fast = sweep(samples, g.start, g.end, g.count, options);
        const std::string exact = sweep(samples, g.start, g.end, g.count, {});
        EXPECT_EQ(fast.substr(fast.find('\n')), exact.substr(exact.find('\n'))) << g.start << " to " << g.end;
    }
}

}  // namespace

namespace {

// Fast sweeps of small shapes reuse the tables and plans of the first of each
// shape: calls of three shapes interleaved on four threads at once give the
// bytes of each shape's first call.
TEST(run_sweep, small_fast_sweeps_share_their_tables_safely) {
    if (!trapft::fast_evaluation_available()) GTEST_SKIP() << "built without the fast evaluation";
    struct shape {
        trapft::sample_set samples;
        double end;
        std::int32_t count;
        double tolerance;
    };
    const shape shapes[] = {{random_samples(500, 21), 20, 2000, 1e-9},
                            {random_samples(300, 22), 90, 5000, 1e-12},
                            {random_samples(800, 23), 7, 700, 1e-6}};
    auto run = [](const shape& s) {
        sweep_options options;
        options.tolerance = s.tolerance;
        return sweep_output::sweep(s.samples, 0, s.end, s.count, options).bytes;
    };
    std::vector<std::string> first;
    for (const shape& s : shapes) first.push_back(run(s));
    std::vector<std::string> together(12);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < 3; ++k) together[static_cast<std::size_t>(t * 3 + k)] = run(shapes[(t + k) % 3]);
        });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t)
        for (int k = 0; k < 3; ++k)
            EXPECT_TRUE(together[static_cast<std::size_t>(t * 3 + k)] == first[static_cast<std::size_t>((t + k) % 3)])
                << "thread " << t << ", shape " << (t + k) % 3;
}

}  // namespace
