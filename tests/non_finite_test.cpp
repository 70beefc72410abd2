// Samples that are not finite: their lines from the runs around them are the exact evaluation's, bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "random_samples.hpp"
#include "spectrum/non_finite.hpp"
#include "sweep_output.hpp"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();
// A NaN of other bits: negative, with a payload.
const double odd_nan = std::bit_cast<double>(std::uint64_t{0xFFF8000000000123});

struct odd_number {
    std::int32_t index;
    bool time;  // else the value
    double number;
};

struct non_finite_case {
    const char* name;
    std::int32_t samples;
    std::vector<odd_number> odd;
    std::int64_t run_samples;  // -1: no runs (only the whole evaluation decides)
};

const std::vector<non_finite_case> cases = {
    {"NaN value in the middle", 300, {{150, false, nan}}, 3},
    {"NaN value first and last", 300, {{0, false, nan}, {299, false, nan}}, 4},
    {"infinite values of both signs", 300, {{40, false, inf}, {200, false, -inf}}, 6},
    {"infinite value on a repeated time", 300, {{41, true, 0.0}, {40, true, 0.0}, {40, false, inf}}, 3},
    {"NaN, infinite and minus infinite times", 300, {{10, true, nan}, {100, true, inf}, {250, true, -inf}}, 9},
    {"neighbours merged, across a table's edge", 1100, {{511, false, nan}, {512, false, inf}, {514, true, nan}}, 6},
    {"two NaNs of different bits", 300, {{20, false, nan}, {220, false, odd_nan}}, 6},
    {"the same odd NaN twice", 300, {{20, false, odd_nan}, {220, false, odd_nan}}, 6},
    {"finite trapezoids that could overflow", 300, {{30, false, 1e307}, {31, false, 1e307}, {31, true, 1e3}, {90, false, nan}}, -1},
    {"every number finite", 300, {}, -1},
};

trapft::sample_set make(const non_finite_case& c) {
    trapft::sample_set samples = random_samples(c.samples, 7);
    for (const odd_number& o : c.odd) (o.time ? samples.times : samples.values)[static_cast<std::size_t>(o.index)] = o.number;
    return samples;
}

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

TEST(non_finite, lines_from_the_runs_are_the_exact_evaluations_bits) {
    const double frequencies[] = {0.0, -0.0, 1.0, -7.25, 123.456, 1e5, 3e9, 1e300, -1e306};
    trapft::spectrum_work work;
    for (const non_finite_case& c : cases) {
        SCOPED_TRACE(c.name);
        const trapft::sample_set samples = make(c);
        trapft::non_finite_runs runs;
        ASSERT_EQ(trapft::find_non_finite_runs(samples, runs), c.run_samples >= 0);
        if (c.run_samples < 0) continue;
        EXPECT_EQ(runs.samples, c.run_samples);
        for (double f : frequencies) {
            const trapft::spectrum_point exact = trapft::evaluate_spectrum(samples, f, work);
            const trapft::spectrum_point runs_only = trapft::evaluate_non_finite(samples, runs, f, work);
            EXPECT_TRUE(same_bits(runs_only.real, exact.real) && same_bits(runs_only.imaginary, exact.imaginary) &&
                        same_bits(runs_only.magnitude, exact.magnitude))
                << "at " << f << ": " << runs_only.real << " " << runs_only.imaginary << " against " << exact.real
                << " " << exact.imaginary;
        }
    }
}

// With a tolerance, the sweep gives the exact sweep's bytes (.npy: every bit)
// on such samples, on any threads and parts.
TEST(non_finite, a_fast_sweep_gives_the_exact_sweeps_bytes) {
    if (!trapft::fast_evaluation_available()) GTEST_SKIP() << "built without the fast evaluation";
    for (const non_finite_case& c : cases) {
        if (c.odd.empty()) continue;  // the fast evaluation proper
        SCOPED_TRACE(c.name);
        const trapft::sample_set samples = make(c);
        const auto exact = sweep_output::sweep(samples, -7, 300, 3001, {}, sweep_output::format::npy);
        trapft::sweep_options options;
        options.tolerance = 1e-9;
        options.jobs = 3;
        const auto fast = sweep_output::sweep(samples, -7, 300, 3001, options, sweep_output::format::npy);
        ASSERT_EQ(fast.status, trapft::sweep_status::ok);
        EXPECT_TRUE(fast.bytes == exact.bytes);
    }
}

}  // namespace
