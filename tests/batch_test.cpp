// Rows of values on one time axis, swept together: each row bit for bit the sweep of that row alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "trapft/array_sink.hpp"
#include "spectrum/nufft/nufft.hpp"
#include "trapft/sweep.hpp"
#include "random_samples.hpp"

namespace {

struct tables {
    std::vector<double> frequency, real, imaginary, magnitude;
};

// Sweeps `rows` rows of `values` into tables, one array sink per row.
trapft::sweep_status sweep_rows(const std::vector<double>& times, const std::vector<double>& values,
                                std::int32_t rows, double start, double end, std::int32_t count,
                                const trapft::sweep_options& options, std::vector<tables>& out) {
    const std::int64_t lines = trapft::sweep_lines(count, options);
    out.assign(static_cast<std::size_t>(rows), {});
    std::vector<trapft::array_sink> sinks;
    std::vector<trapft::spectrum_sink*> pointers;
    sinks.reserve(static_cast<std::size_t>(rows));
    for (tables& t : out) {
        for (std::vector<double>* v : {&t.frequency, &t.real, &t.imaginary, &t.magnitude})
            v->assign(static_cast<std::size_t>(lines), -1.0);
        trapft::spectrum_arrays arrays;
        arrays.frequency = t.frequency.data();
        arrays.real = t.real.data();
        arrays.imaginary = t.imaginary.data();
        arrays.magnitude = t.magnitude.data();
        arrays.capacity = lines;
        sinks.emplace_back(arrays);
        pointers.push_back(&sinks.back());
    }
    const trapft::sample_rows view(times, values, rows);
    return trapft::run_sweep(view, start, end, count, options, pointers);
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

}  // namespace

// The cases below whose options are exact (`exact` true) or fast.
void check_rows_alone(bool exact);

TEST(rows, swept_together_exactly_are_bit_for_bit_each_row_alone) { check_rows_alone(true); }

TEST(rows, swept_together_are_bit_for_bit_each_row_alone) { check_rows_alone(false); }

void check_rows_alone(bool exact) {
    const bool fast = trapft::fast_evaluation_available();
    auto options = [](double tolerance, int jobs, std::int32_t part = 1, std::int32_t parts = 1) {
        trapft::sweep_options o;
        o.tolerance = tolerance;
        o.jobs = jobs;
        o.part = part;
        o.parts = parts;
        return o;
    };
    struct batch_case {
        std::string name;
        std::int32_t samples;
        double start, end;
        std::int32_t count;
        trapft::sweep_options options;
        bool needs_fast;
    };
    const std::vector<batch_case> cases = {
        {"exact, three jobs", 400, -3, 40, 157, options(0, 3), false},
        // Rows that share each line's phases, across the tables' edges.
        {"exact, tables' edges, a part", 1100, -1, 30, 301, options(0, 2, 2, 3), false},
        {"exact, one sample", 1, 0, 5, 6, options(0, 1), false},
        {"exact, two samples", 2, 5, -5, 7, options(0, 1), false},
        {"fast, one block", 5000, 0, 50, 20001, options(1e-9, 1), true},
        // Enough samples for two sub-grids, and a running sum that needs Taylor terms.
        {"fast, sub-grids and offsets", 300000, 0, 5000, 300001, options(1e-12, 2), true},
        {"fast, across many binades", 3000, 1e-3, 3e4, 65537, options(1e-6, 1), true},
        {"fast, descending through zero", 3000, 70, -30, 9001, options(1e-9, 3, 2, 3), true},
        {"fast, summed directly", 3000, 0, 1, 3, options(1e-9, 1), true},
        {"fast, equal ends", 3000, 7, 7, 40, options(1e-9, 1), true},
    };
    for (const batch_case& c : cases) {
        SCOPED_TRACE(c.name);
        if ((c.options.tolerance == 0.0) != exact || (c.needs_fast && !fast)) continue;
        // Eleven rows (more than one group): the values, negated, a thousandfold,
        // scaled far up, all zero, then random ones.
        const trapft::sample_set s = random_samples(c.samples, 11);
        const auto n = static_cast<std::size_t>(c.samples);
        const std::int32_t rows = 11;
        std::vector<double> values(static_cast<std::size_t>(rows) * n);
        for (std::size_t k = 0; k < n; ++k) {
            values[k] = s.values[k];
            values[n + k] = -s.values[k];
            values[2 * n + k] = 1e3 * s.values[k];
            values[3 * n + k] = 1e300 * s.values[k];
            values[4 * n + k] = 0.0;
        }
        for (std::size_t r = 5; r < static_cast<std::size_t>(rows); ++r) {
            const trapft::sample_set other = random_samples(c.samples, 100 + r);
            std::copy(other.values.begin(), other.values.end(), values.begin() + static_cast<std::ptrdiff_t>(r * n));
        }
        if (c.options.tolerance == 0.0) {  // rows that are not finite, each its own way
            values[5 * n + n / 2] = std::numeric_limits<double>::quiet_NaN();
            values[6 * n] = -std::numeric_limits<double>::infinity();
        }
        std::vector<tables> together;
        ASSERT_EQ(sweep_rows(s.times, values, rows, c.start, c.end, c.count, c.options, together),
                  trapft::sweep_status::ok);
        for (std::int32_t r = 0; r < rows; ++r) {
            SCOPED_TRACE("row " + std::to_string(r));
            const std::vector<double> row(values.begin() + static_cast<std::ptrdiff_t>(r) * c.samples,
                                          values.begin() + static_cast<std::ptrdiff_t>(r + 1) * c.samples);
            std::vector<tables> alone;
            ASSERT_EQ(sweep_rows(s.times, row, 1, c.start, c.end, c.count, c.options, alone), trapft::sweep_status::ok);
            const tables& a = alone[0];
            const tables& b = together[static_cast<std::size_t>(r)];
            EXPECT_TRUE(same_bits(a.frequency, b.frequency));
            EXPECT_TRUE(same_bits(a.real, b.real));
            EXPECT_TRUE(same_bits(a.imaginary, b.imaginary));
            EXPECT_TRUE(same_bits(a.magnitude, b.magnitude));
        }
    }
}

TEST(rows, a_row_that_is_not_finite_sends_each_row_its_own_way) {
    if (!trapft::fast_evaluation_available()) GTEST_SKIP() << "built without the fast evaluation";
    const trapft::sample_set s = random_samples(2000, 5);
    std::vector<double> values = s.values;
    values.insert(values.end(), s.values.begin(), s.values.end());
    values[2000 + 17] = std::numeric_limits<double>::quiet_NaN();
    trapft::sweep_options options;
    options.tolerance = 1e-9;
    std::vector<tables> together, first, second;
    ASSERT_EQ(sweep_rows(s.times, values, 2, 0, 30, 5001, options, together), trapft::sweep_status::ok);
    ASSERT_EQ(sweep_rows(s.times, s.values, 1, 0, 30, 5001, options, first), trapft::sweep_status::ok);
    const std::vector<double> nan_row(values.begin() + 2000, values.end());
    ASSERT_EQ(sweep_rows(s.times, nan_row, 1, 0, 30, 5001, options, second), trapft::sweep_status::ok);
    EXPECT_TRUE(same_bits(together[0].real, first[0].real) && same_bits(together[0].imaginary, first[0].imaginary));
    EXPECT_TRUE(same_bits(together[1].real, second[0].real) && same_bits(together[1].imaginary, second[0].imaginary));
}

TEST(rows, are_refused_when_values_or_sinks_do_not_fit) {
    const std::vector<double> times = {0, 1, 2};
    const std::vector<double> values(6, 1.0);
    trapft::spectrum_arrays none;
    trapft::array_sink sink(none);
    trapft::spectrum_sink* const one[1] = {&sink};
    trapft::spectrum_sink* const two[2] = {&sink, &sink};
    const trapft::sweep_options options;
    // Values of two rows given as one or three; two rows with one sink.
    EXPECT_EQ(trapft::run_sweep(trapft::sample_rows(times, values, 1), 0, 1, 0, options, one),
              trapft::sweep_status::invalid_samples);
    EXPECT_EQ(trapft::run_sweep(trapft::sample_rows(times, values, 3), 0, 1, 0, options, two),
              trapft::sweep_status::invalid_samples);
    EXPECT_EQ(trapft::run_sweep(trapft::sample_rows(times, values, 2), 0, 1, 0, options, one),
              trapft::sweep_status::invalid_samples);
    EXPECT_EQ(trapft::run_sweep(trapft::sample_rows(times, {}, 0), 0, 1, 5, options, {}), trapft::sweep_status::ok);
}
