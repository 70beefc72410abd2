#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "output/result_line.hpp"
#include "reference.hpp"
#include "spectrum/spectrum.hpp"
#include "trapft/reader.hpp"
#include "sweep_output.hpp"

namespace {

using trapft::max_samples;
using trapft::sample_set;

struct fixture_tables {
    std::unique_ptr<sample_set> samples = std::make_unique<sample_set>();
    std::unique_ptr<trapft::spectrum_work> work = std::make_unique<trapft::spectrum_work>();

    void set(const std::vector<double>& t, const std::vector<double>& x) {
        samples->times = t;
        samples->values = x;
    }

    // Everything run_sweep writes, and whether it reported success.
    std::string sweep(double start, double end, std::int32_t count, bool* ok = nullptr,
                      const trapft::sweep_options& options = {}) {
        const sweep_output::swept result = sweep_output::sweep(*samples, start, end, count, options);
        if (ok != nullptr) *ok = result.status == trapft::sweep_status::ok;
        return result.bytes;
    }
};

std::string line_of(const trapft::spectrum_point& p) {
    const trapft::result_line line = trapft::format_result_line(p);
    return std::string(line.text, line.size);
}

double single(double v) { return static_cast<double>(static_cast<float>(v)); }

TEST(run_sweep, prints_the_worked_examples) {
    fixture_tables f;
    f.set({0, 1}, {1, 1});
    EXPECT_EQ(f.sweep(0, 0.5, 2), "0 1 -0 1\n0.5 0 -6.12323399573677e-17 6.12323399573677e-17\n");

    const std::string long_sweep = f.sweep(0, 10, 1001);
    EXPECT_EQ(std::count(long_sweep.begin(), long_sweep.end(), '\n'), 1001);
    const std::string last = long_sweep.substr(long_sweep.rfind('\n', long_sweep.size() - 2) + 1);
    EXPECT_EQ(last.substr(0, last.find(' ')), "9.99999999999983");

    EXPECT_EQ(f.sweep(single(0.1), 1, 1).substr(0, 18), "0.100000001490116 ");
}

TEST(run_sweep, walks_the_grid_as_a_running_sum) {
    fixture_tables f;
    f.set({0, 0.5, 2}, {1, -2, 0.25});
    struct grid_case {
        double start, end;
        std::int32_t count;
    };
    const grid_case cases[] = {
        {0, 10, 1001}, {3, 3, 4}, {5, -5, 7}, {0.1, 0.7, 13}, {-2, 1e6, 3}, {4, 1, 1},
    };
    for (const grid_case& c : cases) {
        SCOPED_TRACE(c.count);
        EXPECT_EQ(f.sweep(c.start, c.end, c.count),
                  reference::sweep({0, 0.5, 2}, {1, -2, 0.25}, c.start, c.end, c.count));
    }
}

TEST(run_sweep, prints_nothing_for_a_count_below_one) {
    fixture_tables f;
    f.set({0, 1}, {1, 1});
    for (std::int32_t count : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
        bool ok = false;
        EXPECT_EQ(f.sweep(0, 1, count, &ok), "");
        EXPECT_TRUE(ok);
    }
}

TEST(run_sweep, stops_at_the_first_failed_write) {
    fixture_tables f;
    f.set({0, 1}, {1, 1});
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    trapft::text_sink sink;
    ASSERT_TRUE(sink.open(fileno(full)));
    EXPECT_EQ(trapft::run_sweep(*f.samples, 0, 1, std::numeric_limits<std::int32_t>::max(), {}, sink),
              trapft::sweep_status::write_failed);
    std::fclose(full);
}

TEST(evaluate_spectrum, has_no_interval_below_two_samples) {
    fixture_tables f;
    for (const auto& [t, x] : {std::pair<std::vector<double>, std::vector<double>>{{}, {}},
                               {{0.0}, {0.0}}, {{3.0}, {-7.0}}}) {
        f.set(t, x);
        EXPECT_EQ(line_of(trapft::evaluate_spectrum(*f.samples, 2.5, *f.work)), "2.5 0 -0 0\n");
    }
}

TEST(evaluate_spectrum, integrates_the_values_at_frequency_zero) {
    fixture_tables f;
    f.set({0, 1, 3, 2}, {2, 4, -1, 1});
    const trapft::spectrum_point p = trapft::evaluate_spectrum(*f.samples, 0.0, *f.work);
    // 3 + 3 - 0 (the last interval runs backwards: (-1 + 1) × -1 ÷ 2).
    EXPECT_EQ(p.real, 6.0);
    EXPECT_TRUE(std::signbit(p.imaginary));
    EXPECT_EQ(p.imaginary, 0.0);
    EXPECT_EQ(p.magnitude, 6.0);
}

// Random signals: uneven, unsorted and repeated times, all in single precision.
TEST(evaluate_spectrum, matches_the_plain_evaluation_bit_for_bit) {
    std::mt19937_64 rng(20261208);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    fixture_tables f;
    for (int trial = 0; trial < 60; ++trial) {
        // Past 50, sizes around and across the blocks that the tables are filled in.
        const std::size_t large[] = {max_samples, 511, 513, 1025, 40000};
        const std::size_t n = trial < 50 ? static_cast<std::size_t>(rng() % 200) : large[trial % 5];
        std::vector<double> t(n), x(n);
        double time = single(unit(rng) * 100 - 50);
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint64_t shape = rng() % 10;
            if (shape == 0) time = single(time - unit(rng));  // backwards
            else if (shape != 1) time = single(time + unit(rng) * 0.3);  // shape 1 repeats
            t[k] = time;
            x[k] = single((unit(rng) - 0.5) * std::pow(10.0, static_cast<double>(rng() % 7) - 3));
        }
        f.set(t, x);
        for (double frequency : {0.0, single(unit(rng) * 10), single(-unit(rng) * 1e4), 1e6}) {
            SCOPED_TRACE(testing::Message() << "trial " << trial << " f " << frequency);
            EXPECT_EQ(line_of(trapft::evaluate_spectrum(*f.samples, frequency, *f.work)),
                      reference::line_at(t, x, frequency));
        }
    }
}

TEST(format_result_line, prints_what_printf_prints) {
    std::vector<double> values = {
        0.0, -0.0, 1.0, -1.0, 0.5, 0.1, 1.0 / 3, 2.0 / 3, 1e15, 1e15 - 1, 999999999999999.4,
        999999999999999.5, 1e14, 0.0001, 0.00009999999999999999, 0.0001000000000000001, 1e-5,
        123456789012345678.0, 9.99999999999995e14, 9.999999999999949e14, 5e-324,
        std::numeric_limits<double>::min(), std::numeric_limits<double>::max(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
        6.12323399573677e-17, 9.99999999999983,
    };
    std::mt19937_64 rng(7);
    for (int k = 0; k < 20000; ++k) values.push_back(std::bit_cast<double>(rng()));
    for (int k = 0; k < 20000; ++k) {
        values.push_back(std::round(std::ldexp(static_cast<double>(rng() >> 11), -static_cast<int>(rng() % 60))));
        values.push_back(static_cast<double>(static_cast<float>(std::bit_cast<double>(rng()))));
    }
    for (std::size_t k = 0; k + 3 < values.size(); ++k) {
        const trapft::spectrum_point p{values[k], values[k + 1], values[k + 2], values[k + 3]};
        ASSERT_EQ(line_of(p), reference::line(p.frequency, p.real, p.imaginary, p.magnitude));
    }
}

}  // namespace
