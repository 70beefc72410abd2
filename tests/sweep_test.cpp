// The sweep's threads, slices and blocks: the same bytes as one thread, whatever the options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "spectrum/spectrum.hpp"

namespace {

using trapft::sweep_options;

std::string sweep(const trapft::sample_set& samples, double start, double end, std::int32_t count,
                  const sweep_options& options) {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&data, &size);
    EXPECT_EQ(trapft::run_sweep(samples, start, end, count, options, out), trapft::sweep_status::ok);
    std::fclose(out);
    std::string text(data, size);
    std::free(data);
    return text;
}

trapft::sample_set random_samples(std::int32_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    trapft::sample_set samples;
    samples.count = n;
    double time = 0.0;
    for (std::int32_t k = 0; k < n; ++k) {
        time += unit(rng) * 0.01;
        samples.times.push_back(time);
        samples.values.push_back(unit(rng) - 0.5);
    }
    return samples;
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
            SCOPED_TRACE(testing::Message() << samples.count << " samples, " << g.start << " to " << g.end
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
