// The vector build (TRAPFT_VECTOR_MATH): its tables and results stay within
// what a sincos of at most 1 ULP allows, and nothing else differs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "process.hpp"
#include "reference.hpp"
#include "spectrum/phase_tables.hpp"
#include "trapft/reader.hpp"
#include "spectrum/phase_tables_sleef.hpp"
#include "output/result_line.hpp"
#include "spectrum/spectrum.hpp"

namespace {

using trapft::max_samples;

constexpr double eps = std::numeric_limits<double>::epsilon();

// Largest distance allowed between a table entry and libm's: 1 ULP of the
// vector library plus libm's own half ULP, rounded up.
constexpr double table_ulps = 2.0;

// Largest difference of a sum from the exact build's, in units of eps × the
// sum of the trapezoids' absolute sizes (every term's error scales with it).
// Measured at most 0.4 on these signals; a wrong lane or a misplaced block
// is off by a good part of the whole integral.
constexpr double sum_tolerance = 4.0;

double single(double v) { return static_cast<double>(static_cast<float>(v)); }

// |a − b| in units in the last place of the larger of the two.
double ulps_apart(double a, double b) {
    if (a == b) return 0.0;
    const double larger = std::max(std::abs(a), std::abs(b));
    return std::abs(a - b) / (std::nextafter(larger, INFINITY) - larger);
}

// Σ (|x_k| + |x_k+1|)·|Δ_k| ÷ 2: the scale of the roundings in both sums.
double absolute_integral(const std::vector<double>& t, const std::vector<double>& x) {
    double total = 0.0;
    for (std::size_t k = 0; k + 1 < t.size(); ++k)
        total += (std::abs(x[k]) + std::abs(x[k + 1])) * std::abs(t[k + 1] - t[k]) * 0.5;
    return total;
}

using fill_function = void (*)(const double*, const double*, std::int32_t, double, double*, double*);

// Every width this CPU can run, narrowest first.
std::vector<std::pair<int, fill_function>> runnable_widths() {
    std::vector<std::pair<int, fill_function>> widths{{2, trapft::fill_phase_tables_sleef2}};
    if (trapft::sleef_lanes() >= 4) widths.emplace_back(4, trapft::fill_phase_tables_sleef4);
    if (trapft::sleef_lanes() >= 8) widths.emplace_back(8, trapft::fill_phase_tables_sleef8);
    return widths;
}

// Values are powers of two, so that a table entry is its cosine or sine scaled
// exactly, and as many ULPs from libm's as the cosine or sine itself.
struct tables {
    std::vector<double> times = std::vector<double>(max_samples);
    std::vector<double> values = std::vector<double>(max_samples);
    std::vector<double> cosines = std::vector<double>(max_samples);
    std::vector<double> sines = std::vector<double>(max_samples);
};

TEST(vector_tables, agree_with_libm_and_stop_at_the_count) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    tables tab;
    for (double& time : tab.times) time = single(unit(rng) * 2000 - 1000);
    for (std::size_t k = 0; k < tab.values.size(); ++k) tab.values[k] = std::ldexp(k % 2 ? -1.0 : 1.0, static_cast<int>(k % 7) - 3);
    tab.times[3] = 0.0;
    const double omegas[] = {0.0, 1.0, single(0.37) * 6.283185307179586, 400 * 6.283185307179586,
                             1e4 * 6.283185307179586, 1e6 * 6.283185307179586, -3e7};
    const std::int32_t counts[] = {0, 1, 2, 3, 5, 7, 8, 9, 15, 17, 1023, max_samples - 1, max_samples};
    constexpr double untouched = 12345.0;
    for (const auto& [lanes, fill] : runnable_widths()) {
        for (const double omega : omegas) {
            for (const std::int32_t count : counts) {
                SCOPED_TRACE(testing::Message() << lanes << " lanes, omega " << omega << ", count " << count);
                std::fill(tab.cosines.begin(), tab.cosines.end(), untouched);
                std::fill(tab.sines.begin(), tab.sines.end(), untouched);
                fill(tab.times.data(), tab.values.data(), count, omega, tab.cosines.data(), tab.sines.data());
                double worst = 0.0;
                for (std::int32_t k = 0; k < count; ++k) {
                    const auto i = static_cast<std::size_t>(k);
                    const double phase = omega * tab.times[i];
                    worst = std::max({worst, ulps_apart(tab.cosines[i], tab.values[i] * std::cos(phase)),
                                      ulps_apart(tab.sines[i], tab.values[i] * std::sin(phase))});
                }
                EXPECT_LE(worst, table_ulps);
                for (std::int32_t k = count; k < std::min(count + 16, max_samples); ++k) {
                    ASSERT_EQ(tab.cosines[static_cast<std::size_t>(k)], untouched) << k;
                    ASSERT_EQ(tab.sines[static_cast<std::size_t>(k)], untouched) << k;
                }
            }
        }
    }
}

TEST(vector_tables, run_on_the_widest_lanes_of_this_cpu) {
    std::mt19937_64 rng(12);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    tables widest, chosen;
    for (double& time : widest.times) time = single(unit(rng) * 100);
    for (double& value : widest.values) value = single(unit(rng) - 0.5);
    chosen.times = widest.times;
    chosen.values = widest.values;
    const auto widths = runnable_widths();
    widths.back().second(widest.times.data(), widest.values.data(), 1001, 77.0, widest.cosines.data(),
                         widest.sines.data());
    trapft::fill_phase_tables(chosen.times.data(), chosen.values.data(), 1001, 77.0, chosen.cosines.data(),
                              chosen.sines.data());
    EXPECT_EQ(widths.back().first, trapft::sleef_lanes());
    EXPECT_EQ(widest.cosines, chosen.cosines);
    EXPECT_EQ(widest.sines, chosen.sines);
}

// Random signals as in the exact build's tests, against the exact evaluation.
TEST(vector_spectrum, stays_within_tolerance_of_the_exact_evaluation) {
    std::mt19937_64 rng(20261208);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto samples = std::make_unique<trapft::sample_set>();
    const auto work = std::make_unique<trapft::spectrum_work>();
    double worst = 0.0;
    for (int trial = 0; trial < 40; ++trial) {
        const std::size_t n = trial < 30 ? static_cast<std::size_t>(rng() % 200) + 2 : max_samples;
        std::vector<double> t(n), x(n);
        double time = single(unit(rng) * 100 - 50);
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint64_t shape = rng() % 10;
            if (shape == 0) time = single(time - unit(rng));
            else if (shape != 1) time = single(time + unit(rng) * 0.3);
            t[k] = time;
            x[k] = single((unit(rng) - 0.5) * std::pow(10.0, static_cast<double>(rng() % 7) - 3));
        }
        samples->times = t;
        samples->values = x;
        const double scale = eps * absolute_integral(t, x);
        for (double frequency : {single(unit(rng) * 10), single(-unit(rng) * 1e4), 1e6}) {
            SCOPED_TRACE(testing::Message() << "trial " << trial << " f " << frequency);
            const trapft::spectrum_point p = trapft::evaluate_spectrum(*samples, frequency, *work);
            const reference::sums exact = reference::sums_at(t, x, frequency);
            EXPECT_EQ(p.frequency, frequency);
            EXPECT_LE(std::abs(p.real - exact.cosine), sum_tolerance * scale);
            EXPECT_LE(std::abs(p.imaginary + exact.sine), sum_tolerance * scale);
            const double magnitude = std::hypot(exact.cosine, exact.sine);
            EXPECT_LE(std::abs(p.magnitude - magnitude), 2 * sum_tolerance * scale);
            worst = std::max({worst, std::abs(p.real - exact.cosine) / scale,
                              std::abs(p.imaginary + exact.sine) / scale});
        }
        // At frequency 0 every cosine is 1 and every sine 0 in both builds.
        const trapft::result_line line = trapft::format_result_line(trapft::evaluate_spectrum(*samples, 0.0, *work));
        EXPECT_EQ(std::string(line.text, line.size), reference::line_at(t, x, 0.0));
    }
    std::printf("largest sum difference: %.3g eps x absolute integral\n", worst);
}

// Numbers of a sample file or of the tool's output, in order.
std::vector<double> numbers_of(const std::string& text) {
    std::vector<double> numbers;
    std::istringstream in(text);
    for (std::string word; in >> word;) numbers.push_back(std::strtod(word.c_str(), nullptr));
    return numbers;
}

// The whole tool on the example and on a random file: the same frequencies,
// the sums within tolerance once the printed rounding is allowed for.
TEST(vector_tool, prints_the_exact_frequencies_and_sums_within_tolerance) {
    std::mt19937_64 rng(13);
    std::string random_text;
    double time = 0.0;
    for (int k = 0; k < 3000; ++k) {
        char pair[64];
        time += static_cast<double>(rng() % 1000) * 1e-3;
        std::snprintf(pair, sizeof pair, "%.6f %.6f\n", time, static_cast<double>(rng() % 2001) * 1e-3 - 1);
        random_text += pair;
    }
    struct tool_case {
        std::string path;
        std::vector<std::string> grid;
    };
    const tool_case cases[] = {
        {TRAPFT_EXAMPLE, {"0", "5", "11"}},
        {TRAPFT_EXAMPLE, {"0", "10", "1001"}},
        {process::write_file("random.txt", random_text), {"-3", "2000", "301"}},
    };
    for (const tool_case& c : cases) {
        SCOPED_TRACE(c.path + " " + c.grid[2]);
        std::ifstream file(c.path);
        const std::vector<double> pairs = numbers_of(std::string(std::istreambuf_iterator<char>(file), {}));
        std::vector<double> t, x;
        for (std::size_t k = 0; k + 1 < pairs.size(); k += 2) {
            t.push_back(single(pairs[k]));
            x.push_back(single(pairs[k + 1]));
        }
        const double scale = eps * absolute_integral(t, x);
        const process::outcome o = process::run({TRAPFT_BINARY, c.path, c.grid[0], c.grid[1], c.grid[2]});
        ASSERT_EQ(o.status, 0);
        ASSERT_EQ(o.err, "");
        const std::vector<double> printed = numbers_of(o.out);
        const std::vector<double> exact = numbers_of(reference::sweep(
            t, x, single(std::atof(c.grid[0].c_str())), single(std::atof(c.grid[1].c_str())), std::atoi(c.grid[2].c_str())));
        ASSERT_EQ(printed.size(), exact.size());
        for (std::size_t k = 0; k < printed.size(); ++k) {
            if (k % 4 == 0) {
                ASSERT_EQ(printed[k], exact[k]) << "line " << k / 4;
                continue;
            }
            // Each side printed to 15 digits: up to 5e-15 of the value apart.
            const double rounding = 5e-15 * (std::abs(printed[k]) + std::abs(exact[k]));
            ASSERT_LE(std::abs(printed[k] - exact[k]), 2 * sum_tolerance * scale + rounding) << "line " << k / 4;
        }
    }
}

}  // namespace
